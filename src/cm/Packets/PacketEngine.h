// Internals of the packet engine shared by its source files: reading packets (the bounded
// nested read, the build budget) for the codings that hold packets. Not for users of packets.
#pragma once

#include <cstdint>
#include <memory>

#include "cm/Packets/FieldReader.h"
#include "cm/Packets/Packets.h"

namespace cm::packet_engine {

// The build budget of the outermost read on this thread (see PacketBuildBytesPerInputByte). The
// first scope on a thread sets the budget from its input size; scopes inside it share it.
class TBuildScope {
public:
    explicit TBuildScope(int64_t inputBytes);
    ~TBuildScope();
    TBuildScope(const TBuildScope&) = delete;
    TBuildScope& operator=(const TBuildScope&) = delete;

private:
    bool FOutermost;
};
// Charges a packet of the class to the current read's budget (none: nothing happens); raises
// EPacketError when the budget is exceeded.
void ChargeBuild(const TPacketClass& cls);

// Reads the packet at the stream's position, no further than limit (< 0: the stream's size),
// at nesting depth depth (beyond PacketMaxNesting: EPacketError). With into, the stored class
// must be into's class and the fields go there (nullptr is returned); without, a new instance of
// the stored class is returned. The stream ends after the packet.
std::unique_ptr<TPacket> ReadPacket(TStream& stream, TPacketReadContext* context, TPacket* into, int64_t limit,
                                    int32_t depth);
// Reads the fields of packet's class in index order while storedCount lasts, each through its
// coding's table; on return storedCount holds the stored fields not consumed.
void ReadBody(TPacket& packet, TFieldReader& reader, int32_t& storedCount, TPacketReadContext* context);
// Reads a packet list's encoding (int32 count, then the packets, one level deeper than the
// reader) into list, which is emptied first; the count is checked against the smallest packet
// the form allows before anything is reserved. The stream is left after the last packet: the
// caller takes it back with SyncIn when it goes on reading through the reader.
void ReadPacketList(TFieldReader& reader, TCustomPacketList& list, TPacketReadContext* context);

}  // namespace cm::packet_engine
