#include "cm/Packets/PacketHandles.h"

#include "cm/Objects/Errors.h"
#include "cm/Objects/WinApi.h"

namespace cm {

void DuplicateHandles(TPacket& packet, uintptr_t sourceProcess, uintptr_t targetProcess) {
    packet.ForEachHandle([&](TPacketHandle& handle) {
        if (handle == 0)
            return;
        HANDLE duplicate = nullptr;
        if (!::DuplicateHandle(reinterpret_cast<HANDLE>(sourceProcess), reinterpret_cast<HANDLE>(handle),
                               reinterpret_cast<HANDLE>(targetProcess), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS))
            RaiseLastSystemError("Failed to duplicate handle 0x0%x (with same access rights, from process 0x0%x to 0x0%x)",
                                 {static_cast<uintptr_t>(handle), sourceProcess, targetProcess});
        handle = reinterpret_cast<TPacketHandle>(duplicate);
    });
}

}  // namespace cm
