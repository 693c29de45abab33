#include "PacketInput.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/PointerStream.h"

namespace packettool {

namespace {

constexpr uint8_t FullFormMarker = static_cast<uint8_t>(cm::PacketFormatVersion);  // first byte of a header
constexpr uint8_t CompactClassRecordMarker = 0x00;  // compact word 0: a class record follows
// Where a compact class record keeps the class's field count: after the compact word 0 and the
// record's first (ignored) byte.
constexpr size_t CompactRecordFieldCountOffset = 2;
constexpr size_t FullFormFieldCountOffset = 8;  // TPacketHeader::FieldCount

// Nested failures read outermost first, one line each: one line here.
std::string OneLine(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, ": ");
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

bool IsCompressed(const char* data, size_t size) {
    return size >= 4 && (std::memcmp(data, "sdc2", 4) == 0 || std::memcmp(data, "sdc1", 4) == 0);
}

template <class T>
T Load(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The length of the compressed stream at data: its header and the parts that add up to the total
// its header gives. Raises on a header or part that does not fit the data.
int64_t CompressedStreamLength(const char* data, int64_t size) {
    if (size < cm::CompressHeaderSize)
        throw EPacketInput("its header is cut short (" + std::to_string(size) + " bytes)");
    const auto header = Load<cm::TCompressHeader>(data);
    if (header.TotalSize < 0)
        throw EPacketInput("its header gives a negative size (" + std::to_string(header.TotalSize) + ")");
    int64_t at = cm::CompressHeaderSize;
    int64_t sum = 0;
    while (sum < header.TotalSize) {
        if (size - at < cm::CompressPartPrefixSize + cm::CompressBlockPrefixSize)
            throw EPacketInput("it ends at offset " + std::to_string(at) + " after " + std::to_string(sum) + " of the " +
                               std::to_string(header.TotalSize) + " bytes its header gives");
        const int32_t length = Load<int32_t>(data + at);
        const int32_t partSize = Load<int32_t>(data + at + cm::CompressPartPrefixSize);
        if (length < cm::CompressBlockPrefixSize || length > size - at - cm::CompressPartPrefixSize)
            throw EPacketInput("the part at offset " + std::to_string(at) + " claims " + std::to_string(length) +
                               " bytes, " + std::to_string(size - at - cm::CompressPartPrefixSize) + " are left");
        if (partSize < 0 || partSize > cm::CompressPartSize)
            throw EPacketInput("the part at offset " + std::to_string(at) + " claims to hold " + std::to_string(partSize) +
                               " bytes (at most " + std::to_string(cm::CompressPartSize) + ")");
        sum += partSize;
        at += cm::CompressPartPrefixSize + length;
    }
    if (sum != header.TotalSize)
        throw EPacketInput("its parts hold " + std::to_string(sum) + " bytes, its header gives " +
                           std::to_string(header.TotalSize));
    return at;
}

// The decompressed bytes, part by part: the memory grows with what the parts really hold, not
// with the total a header claims.
std::string Decompress(const char* data, int64_t size) {
    cm::TPointerStream source(static_cast<const void*>(data), static_cast<int32_t>(size));
    cm::TDecompressStream stream(&source, -1, false, 1);
    std::string out;
    std::string part;
    while (static_cast<int64_t>(out.size()) < stream.Size()) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(cm::CompressPartSize, stream.Size() - static_cast<int64_t>(out.size())));
        part.resize(static_cast<size_t>(n));
        stream.ReadBuffer(part.data(), n);
        out += part;
    }
    return out;
}

class TReader {
public:
    TReader(TPacketFile& file, const TReadOptions& options) : FFile(file), FOptions(options) {
        for (const cm::TPacketClass* cls : options.ContextClasses)
            FContext.Entries.push_back({cls, cls->FieldCount()});
    }

    // Reads the packets of data (the whole file, or one stream's decompressed bytes) to its end.
    void ReadPackets(const std::string& data, int32_t streamIndex) {
        cm::TPointerStream stream(static_cast<const void*>(data.data()), static_cast<int32_t>(data.size()));
        while (stream.Position() < stream.Size() && !Done()) {
            const int32_t start = stream.Position();
            std::unique_ptr<cm::TPacket> packet;
            try {
                packet = cm::TPacket::CreateFromStream(stream, Context(), 0);
                if (stream.Position() <= start)
                    throw EPacketInput("the reader did not advance");
            } catch (const std::exception& e) {
                throw EPacketInput(Where(FFile.Packets.size() + 1, start, streamIndex, data.size()) + ": " +
                                   OneLine(e.what()) + Hint());
            }
            FFile.Packets.push_back({start, stream.Position() - start, streamIndex,
                                     StoredFieldCount(data.data() + start), std::move(packet)});
        }
    }

    bool Done() const { return FOptions.FirstOnly && !FFile.Packets.empty(); }

private:
    cm::TPacketReadContext* Context() { return FFile.Form == TPacketForm::Compact ? &FContext : nullptr; }

    // The field count the packet at data (read without error) was written with.
    int32_t StoredFieldCount(const char* data) const {
        if (FFile.Form == TPacketForm::Full)
            return Load<int32_t>(data + FullFormFieldCountOffset);
        const uint8_t first = static_cast<uint8_t>(data[0]);
        if (first == CompactClassRecordMarker)
            return Load<uint16_t>(data + CompactRecordFieldCountOffset);
        const int32_t id = (first & 1) ? (first | static_cast<uint8_t>(data[1]) << 8) >> 1 : first >> 1;
        return FContext.Entries[static_cast<size_t>(id - 1)].StoredFieldCount;
    }

    static std::string Where(size_t number, int64_t offset, int32_t streamIndex, size_t size) {
        std::string where = "packet " + std::to_string(number) + " at offset " + std::to_string(offset);
        if (streamIndex > 0)
            return where + " of compressed stream " + std::to_string(streamIndex) + "'s " + std::to_string(size) +
                   " decompressed bytes";
        return where + " (of " + std::to_string(size) + " bytes)";
    }

    // After packets were read, a failure may be data that is no packet behind them.
    std::string Hint() const {
        if (FFile.Packets.empty() || FOptions.FirstOnly)
            return "";
        return " (" + std::to_string(FFile.Packets.size()) + " packet" + (FFile.Packets.size() == 1 ? "" : "s") +
               " read before it; --first reads the first alone)";
    }

    TPacketFile& FFile;
    const TReadOptions& FOptions;
    cm::TPacketReadContext FContext;
};

std::string Hex(uint8_t byte) {
    const char* digits = "0123456789abcdef";
    return std::string("0x") + digits[byte >> 4] + digits[byte & 15];
}

// The form of the packet data, from its first byte (or the options).
TPacketForm FormOf(const std::string& data, const TReadOptions& options, const std::string& where) {
    if (!options.ContextClasses.empty())
        return TPacketForm::Compact;
    if (data.empty())
        throw EPacketInput(where + "holds no packet");
    const uint8_t first = static_cast<uint8_t>(data[0]);
    if (first == FullFormMarker)
        return TPacketForm::Full;
    if (first == CompactClassRecordMarker)
        return TPacketForm::Compact;
    throw EPacketInput(where + "is no packet data: it begins with the byte " + Hex(first) +
                       " (the full form begins with 0x02, the compact form with 0x00 or, continuing a streaming "
                       "context, with a context number given by --class; a compressed stream with \"sdc2\")");
}

}  // namespace

TPacketFile ReadPacketFile(const std::string& data, const TReadOptions& options) {
    if (data.empty())
        throw EPacketInput("the file is empty");
    if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EPacketInput("the file is larger than a packet stream can be (2 GiB)");
    TPacketFile file;
    TReader reader(file, options);
    if (!IsCompressed(data.data(), data.size())) {
        file.Form = FormOf(data, options, "the file ");
        reader.ReadPackets(data, 0);
        return file;
    }
    file.Compressed = true;
    int64_t offset = 0;
    const int64_t size = static_cast<int64_t>(data.size());
    while (offset < size && !reader.Done()) {
        const int32_t index = static_cast<int32_t>(file.Streams.size()) + 1;
        const std::string where = "compressed stream " + std::to_string(index) + " at offset " + std::to_string(offset);
        if (!IsCompressed(data.data() + offset, static_cast<size_t>(size - offset)))
            throw EPacketInput(where + ": no \"sdc2\" header where the stream before it ends");
        std::string packets;
        int64_t length;
        try {
            length = CompressedStreamLength(data.data() + offset, size - offset);
            packets = Decompress(data.data() + offset, length);
        } catch (const std::exception& e) {
            throw EPacketInput(where + ": " + OneLine(e.what()));
        }
        if (index == 1)
            file.Form = FormOf(packets, options, where + " ");
        file.Streams.push_back({offset, length, Load<cm::TCompressHeader>(data.data() + offset).FormatId,
                                static_cast<int64_t>(packets.size())});
        if (packets.empty())
            throw EPacketInput(where + " holds no packet");
        reader.ReadPackets(packets, index);
        offset += length;
    }
    return file;
}

const cm::TPacketClass* FindPacketClassByName(const std::string& name) {
    for (const cm::TPacketClass* cls : cm::RegisteredPacketClasses())
        if (name == cls->Name)
            return cls;
    return nullptr;
}

}  // namespace packettool
