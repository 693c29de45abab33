// corvane-packet: the packets a file holds. The file is one packet or a stream of packets,
// recognised by the format's own markers:
//   - "sdc2" (or "sdc1") at the start: compressed streams back to back, each holding packets;
//   - first byte 02 (the format version 2 in a full-form header): the full form;
//   - first byte 00 (a compact class reference introducing a class record): the compact form,
//     every packet read through one streaming context, as one write context wrote them.
// Packets follow each other to the end of the data. A compact stream that continues a context
// (its first reference names a context number, not a class record) is read with the context's
// classes given in advance.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cm/Packets/Packets.h"

namespace packettool {

// A file that cannot be read as packets: the one-line reason, without the file's name.
class EPacketInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TPacketForm { Full, Compact };

// One compressed stream of the file.
struct TCompressedStream {
    int64_t Offset;            // in the file
    int64_t Size;              // compressed bytes, header included
    int32_t FormatId;          // the codec of its blocks
    int64_t DecompressedSize;  // the bytes the packets were read from
};

struct TFilePacket {
    int64_t Offset;             // in the file, or in the decompressed data of its stream
    int64_t Size;               // its encoded bytes
    int32_t Stream;             // 1-based index of its compressed stream; 0 when not compressed
    int32_t StoredFieldCount;   // the version it was written with
    std::unique_ptr<cm::TPacket> Packet;
};

struct TPacketFile {
    TPacketForm Form = TPacketForm::Full;
    bool Compressed = false;
    std::vector<TCompressedStream> Streams;
    std::vector<TFilePacket> Packets;
};

struct TReadOptions {
    // Compact form only: the classes the streaming context already held, as context numbers 1,
    // 2, ... (each with its current version). Given, the data is taken as the compact form.
    std::vector<const cm::TPacketClass*> ContextClasses;
    // Only the first packet; whatever follows it is ignored (a setup package's executable).
    bool FirstOnly = false;
};

// The packets of data, which must hold at least one. Raises EPacketInput naming where the data is
// wrong (the packet's number and offset, its compressed stream) and the reader's own message.
TPacketFile ReadPacketFile(const std::string& data, const TReadOptions& options);

// The registered class of that name, or nullptr.
const cm::TPacketClass* FindPacketClassByName(const std::string& name);

}  // namespace packettool
