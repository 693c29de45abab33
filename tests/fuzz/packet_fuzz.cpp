// Packet readers on arbitrary data, with every class of the program registered (the setup
// package, the product information and the protocol catalogue). The first byte picks the reader:
//   0 CreateFromStream, full form, memory stream      1 the same through a plain stream
//   2 compact form: packets read with one context until the data ends or fails
//   3 compressed ("sdc2") full form                   4 a setup package read in place
// A packet that reads must write, read back and write again to the same bytes (bytes, not Equals:
// a NaN date never equals itself). What a read of plain data builds must stay within the engine's
// bound of memory per input byte (checked through the sanitizer's heap count, with room for the
// estimate's error and the containers' growth); compressed input is exempt, as it expands.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "cm/Packets/Packets.h"
#include "cm/StreamUtils/PointerStream.h"
#include "catalogue/ProductInformation.h"
#include "catalogue/SetupPackets.h"
#include "support/ProductPackets.h"
#include "support/VectorStream.h"

// The address sanitizer's count of live heap bytes (declared here: not every compiler ships the
// sanitizer headers).
extern "C" size_t __sanitizer_get_current_allocated_bytes();

namespace {

void CheckRoundTrip(cm::TPacket& packet) {
    cm::TVirtualStream first;
    packet.SaveToStream(first);
    first.Rewind();
    auto again = cm::TPacket::CreateFromStream(first);
    cm::TVirtualStream second;
    again->SaveToStream(second);
    if (!second.Equals(first))
        std::abort();
}

// Aborts when the heap grew by more than the bound allows for input bytes since `before`.
void CheckBuilt(size_t before, size_t input) {
    const size_t now = __sanitizer_get_current_allocated_bytes();
    const size_t bound = 2 * (static_cast<size_t>(cm::PacketBuildBytesPerInputByte) * input +
                              static_cast<size_t>(cm::PacketBuildAllowance));
    if (now > before && now - before > bound)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cm::test::RegisterProductPackets();
    if (size < 1 || size > (1 << 20))
        return 0;
    const uint8_t mode = data[0] % 5;
    const void* body = data + 1;
    const int32_t length = static_cast<int32_t>(size - 1);
    const size_t heap = __sanitizer_get_current_allocated_bytes();
    const size_t input = static_cast<size_t>(length);
    try {
        cm::TPointerStream memory(body, length);
        switch (mode) {
            case 0: {
                auto packet = cm::TPacket::CreateFromStream(memory);
                CheckBuilt(heap, input);
                CheckRoundTrip(*packet);
                break;
            }
            case 1: {
                cm::test::VectorStream plain(std::vector<uint8_t>(data + 1, data + size));
                auto packet = cm::TPacket::CreateFromStream(plain);
                CheckBuilt(heap, 2 * input);  // the plain stream holds a copy of the input
                CheckRoundTrip(*packet);
                break;
            }
            case 2: {
                cm::TPacketReadContext context;
                std::vector<std::unique_ptr<cm::TPacket>> packets;
                while (memory.Position() < memory.Size())
                    packets.push_back(cm::TPacket::CreateFromStream(memory, &context));
                CheckBuilt(heap, input);
                break;
            }
            case 3: CheckRoundTrip(*cm::TPacket::CreateFromStream(memory, nullptr, cm::lfCompressed)); break;
            case 4: {
                cm::TSetupPacket package;
                package.LoadFromStream(memory);
                CheckBuilt(heap, input);
                package.Files.IndexOfName("info.dat", false);
                CheckRoundTrip(package);
                break;
            }
        }
    } catch (const cm::Exception&) {
        // Refused with a message: what the readers must do with bad data.
    }
    return 0;
}
