#include <gtest/gtest.h>

#include "cm/Objects/WinApi.h"
#include "cm/Packets/PacketHandles.h"
#include "cm/Packets/PacketTestClasses.h"
#include "support/MessageOf.h"

namespace cm::test {
namespace {

HANDLE NewEvent() {
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// The handles of packets held in lists are duplicated with the packet's own; zero stays zero.
TEST(PacketHandlesTest, DuplicatesEveryNonZeroHandleDownTheLists) {
    RegisterTestPackets();
    HANDLE first = NewEvent();
    HANDLE second = NewEvent();
    THolderPacket holder;
    for (HANDLE h : {first, static_cast<HANDLE>(nullptr), second}) {
        auto item = std::make_unique<TAllFieldsPacket>();
        item->Handle = reinterpret_cast<TPacketHandle>(h);
        holder.Items.Add(std::move(item));
    }
    const auto self = reinterpret_cast<uintptr_t>(::GetCurrentProcess());
    DuplicateHandles(holder, self, self);

    auto handleAt = [&](int32_t i) {
        return reinterpret_cast<HANDLE>(static_cast<TAllFieldsPacket*>(holder.Items.Items(i))->Handle);
    };
    EXPECT_EQ(handleAt(1), nullptr);
    for (auto [index, original] : {std::pair{0, first}, std::pair{2, second}}) {
        HANDLE copy = handleAt(index);
        ASSERT_NE(copy, original);
        // The duplicate is the same event: setting it signals the original.
        ASSERT_TRUE(::SetEvent(copy));
        EXPECT_EQ(::WaitForSingleObject(original, 0), WAIT_OBJECT_0);
        DWORD flags = 0;
        ASSERT_TRUE(::GetHandleInformation(copy, &flags));
        EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
        ::CloseHandle(copy);
        ::CloseHandle(original);
    }
}

TEST(PacketHandlesTest, AHandleThatCannotBeDuplicatedIsReported) {
    RegisterTestPackets();
    TAllFieldsPacket packet;
    packet.Handle = 0x1234;  // no handle of this process
    const auto self = reinterpret_cast<uintptr_t>(::GetCurrentProcess());
    const std::string message = MessageOf([&] { DuplicateHandles(packet, self, self); });
    EXPECT_EQ(message.rfind("Failed to duplicate handle 0x01234 (with same access rights, from process 0x0", 0), 0u)
        << message;
    EXPECT_NE(message.find(": "), std::string::npos);  // the system's text follows
    EXPECT_EQ(packet.Handle, 0x1234);
}

}  // namespace
}  // namespace cm::test
