// Handle fields across processes. Win32 only.
#pragma once

#include <cstdint>

#include "cm/Packets/Packets.h"

namespace cm {

// Replaces every non-zero handle field of the packet (those of its nested packets and of the
// packets of its packet lists included, see TPacket::ForEachHandle) by a duplicate made from
// sourceProcess into targetProcess with the same access rights, not inheritable. Raises the
// system error form of "Failed to duplicate handle 0x0%x (with same access rights, from process
// 0x0%x to 0x0%x)"; the handles before the failing one are then duplicates already.
void DuplicateHandles(TPacket& packet, uintptr_t sourceProcess, uintptr_t targetProcess);

}  // namespace cm
