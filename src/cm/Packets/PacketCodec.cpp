// The packet stream format: writing fields, the two bounded readers (stream and memory cursor),
// class references, and SaveToStream / LoadFromStream / CreateFromStream.
#include <cstring>

#include "cm/Packets/PacketEngine.h"
#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/StreamUtils.h"

namespace cm {

namespace {

constexpr uint8_t ClassRecordSize = 19;  // byte 0, uint16 field count, 16 GUID bytes
// The smallest encodings of a packet in a list, by form: the full form's header, a compact reference.
constexpr int32_t MinFullPacketSize = PacketHeaderSize;
constexpr int32_t MinCompactPacketSize = 1;

template <class T>
void WriteValue(TStream& stream, const T& value) {
    stream.WriteBuffer(&value, sizeof value);
}

}  // namespace

// ---- Field encoding routines on streams ----------------------------------------------------------

void WriteString(TStream& stream, const std::string& value) {
    WriteCompactInt(stream, static_cast<int32_t>(value.size()));
    stream.WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
}

// The public readers below leave the stream just after what they read, also a memory stream,
// which the reader parses in place.
std::string ReadString(TStream& stream) {
    TFieldReader reader(stream, -1, 0);
    std::string value = reader.ReadString();
    reader.SyncOut();
    return value;
}

void WriteWideString(TStream& stream, const std::u16string& value, bool utf16) {
    if (utf16) {
        WriteCompactInt(stream, static_cast<int32_t>(value.size()));
        stream.WriteBuffer(value.data(), static_cast<int32_t>(value.size() * 2));
        return;
    }
    WriteString(stream, WideToNarrow(value.substr(0, 32767)));
}

std::u16string ReadWideString(TStream& stream) {
    TFieldReader reader(stream, -1, 0);
    std::u16string value = reader.ReadWideString();
    reader.SyncOut();
    return value;
}

void WriteStringList(TStream& stream, const TStrings& list) {
    WriteCompactInt(stream, list.Count());
    for (int32_t i = 0; i < list.Count(); ++i)
        WriteString(stream, list[i]);
}

void ReadStringList(TStream& stream, TStrings& list) {
    TFieldReader reader(stream, -1, 0);
    reader.ReadStringList(list);
    reader.SyncOut();
}

void WriteStreamField(TStream& stream, TCustomMemoryStream& value, bool compactLength) {
    const int32_t size = value.Size();
    if (compactLength)
        WriteCompactInt(stream, size);
    else
        WriteValue(stream, size);
    stream.WriteBuffer(value.Memory(), size);
}

void ReadStreamField(TStream& stream, TVirtualStream& value, bool compactLength) {
    TFieldReader reader(stream, -1, 0);
    reader.ReadBlob(value, compactLength);
    reader.SyncOut();
}

void WriteFixed(TStream& stream, const void* source, int32_t size) {
    WriteByte(stream, static_cast<uint8_t>(size));
    stream.WriteBuffer(source, size);
}

void ReadFixed(TStream& stream, void* destination, int32_t size) {
    TFieldReader reader(stream, -1, 0);
    reader.ReadFixed(destination, size);
    reader.SyncOut();
}

// ---- The bounded reader --------------------------------------------------------------------------

TFieldReader::TFieldReader(TStream& stream, int64_t limit, int32_t depth) : FStream(stream), FDepth(depth) {
    if (IsMemoryStream(stream)) {
        auto& memory = static_cast<TCustomMemoryStream&>(stream);
        // A position before the data would put the cursor before the buffer.
        if (memory.Position() < 0) throw EStreamError("Stream read error");
        FBase = static_cast<const uint8_t*>(memory.Memory());
        const int64_t end = limit < 0 ? memory.Size() : std::min<int64_t>(limit, memory.Size());
        FCursor = FBase + memory.Position();
        FEnd = FBase + std::max<int64_t>(end, memory.Position());
        if (FCursor > FBase + memory.Size())  // positioned beyond the data: nothing to read
            FCursor = FEnd = FBase + memory.Size();
    } else {
        FPosition = stream.Position();
        FLimit = limit < 0 ? stream.Size() : limit;
    }
}

int64_t TFieldReader::Remaining() const {
    if (FBase)
        return FEnd - FCursor;
    return FLimit > FPosition ? FLimit - FPosition : 0;
}

void TFieldReader::Read(void* buffer, int32_t count) {
    if (count <= 0)
        return;
    if (count > Remaining())
        throw EStreamError("Stream read error");
    if (FBase) {
        std::memcpy(buffer, FCursor, static_cast<size_t>(count));
        FCursor += count;
    } else {
        FStream.ReadBuffer(buffer, count);
        FPosition += count;
    }
}

void TFieldReader::Skip(int32_t count) {
    if (count <= 0)
        return;
    if (count > Remaining())
        throw EStreamError("Stream read error");
    if (FBase) {
        FCursor += count;
    } else {
        FStream.Seek(count, soCurrent);
        FPosition += count;
    }
}

int32_t TFieldReader::ReadCompactInt() {
    uint8_t first = ReadValue<uint8_t>();
    if ((first & 1) == 0)
        return first >> 1;
    uint8_t rest[3];
    Read(rest, 3);
    const uint32_t raw = first | uint32_t(rest[0]) << 8 | uint32_t(rest[1]) << 16 | uint32_t(rest[2]) << 24;
    return static_cast<int32_t>(raw >> 1);
}

uint16_t TFieldReader::ReadCompactWord() {
    uint8_t first = ReadValue<uint8_t>();
    if ((first & 1) == 0)
        return first >> 1;
    const uint8_t second = ReadValue<uint8_t>();
    return static_cast<uint16_t>((first | second << 8) >> 1);
}

void TFieldReader::CheckLength(int64_t bytes, int32_t stored) {
    if (stored < 0)
        throw EPacketError(Format("Invalid packet data in %s: negative length %d", {FieldText(), stored}));
    if (bytes > Remaining())
        throw EPacketError(Format("Invalid packet data in %s: length %d exceeds the %d bytes left",
                                  {FieldText(), stored, static_cast<long long>(Remaining())}));
}

std::string TFieldReader::FieldText() const {
    if (!FClass)
        return "packet";
    return std::string(FClass->Name) + "." + (FField ? FField->Name : "");
}

std::string TFieldReader::ReadString() {
    const int32_t length = ReadCompactInt();
    CheckLength(length, length);
    std::string value(static_cast<size_t>(length), '\0');
    Read(value.data(), length);
    return value;
}

std::u16string TFieldReader::ReadWideString() {
    const int32_t length = ReadCompactInt();
    CheckLength(int64_t(length) * 2, length);
    std::u16string value(static_cast<size_t>(length), u'\0');
    Read(value.data(), length * 2);
    return value;
}

void TFieldReader::ReadStringList(TStrings& list) {
    const int32_t count = ReadCompactInt();
    CheckLength(count, count);  // every line takes one byte at least
    list.Clear();
    if (auto* ex = dynamic_cast<TStringListEx*>(&list))
        ex->SetCapacity(count);
    for (int32_t i = 0; i < count; ++i)
        list.Add(ReadString());
}

void TFieldReader::ReadBlob(TVirtualStream& value, bool compactLength) {
    const int32_t length = compactLength ? ReadCompactInt() : ReadValue<int32_t>();
    CheckLength(length, length);
    value.Rewind();
    value.SetSizeExact(length);
    Read(value.Memory(), length);
    value.Rewind();
}

void TFieldReader::ReadFixed(void* destination, int32_t size) {
    const uint8_t stored = ReadValue<uint8_t>();
    if (stored < size) {
        std::memset(destination, 0, static_cast<size_t>(size));
        Read(destination, stored);
    } else {
        Read(destination, size);
        Skip(stored - size);
    }
}

int64_t TFieldReader::SyncOut() {
    if (FBase) {
        FStream.Seek(static_cast<int32_t>(FCursor - FBase), soBeginning);
        return FEnd - FBase;
    }
    return FLimit;
}

void TFieldReader::SyncIn() {
    const int32_t position = FStream.Position();
    // Nested readers are bounded by this reader's end; a record list reads by its own rules.
    if (position < 0 || position > (FBase ? FEnd - FBase : FLimit))
        throw EStreamError("Stream read error");
    if (FBase)
        FCursor = FBase + position;
    else
        FPosition = position;
}

void TFieldReader::SetField(const TPacketClass* cls, const TFieldDef* field) {
    FClass = cls;
    FField = field;
}

// ---- Read-ahead ----------------------------------------------------------------------------------

TReadAheadStream::TReadAheadStream(TStream& base)
    : FBase(base), FSize(base.Size()), FLimit(FSize), FPosition(base.Position()), FBasePosition(FPosition) {}

int32_t TReadAheadStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || FPosition >= FSize || FPosition < 0)
        return 0;
    count = static_cast<int32_t>(std::min<int64_t>(count, FSize - FPosition));
    auto* target = static_cast<uint8_t*>(buffer);
    int32_t done = 0;
    // What the current piece holds of the request.
    if (FPosition >= FPieceStart && FPosition < FPieceStart + FPieceLength) {
        const int32_t offset = static_cast<int32_t>(FPosition - FPieceStart);
        done = std::min(count, FPieceLength - offset);
        std::memcpy(target, FPiece.data() + offset, static_cast<size_t>(done));
        FPosition += done;
    }
    if (done == count)
        return done;
    const int32_t rest = count - done;
    MoveBase();
    if (rest >= FNextPiece) {
        const int32_t read = FBase.Read(target + done, rest);
        FBasePosition += read;
        FPosition += read;
        return done + read;
    }
    // A new piece from here on, each one larger up to the largest, and never past the limit
    // (though always the rest of this request).
    const int64_t pieceEnd = std::max<int64_t>(std::min<int64_t>(FLimit, FSize), FPosition + rest);
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(FNextPiece, pieceEnd - FPosition));
    FNextPiece = std::min(FNextPiece * 2, LargestPiece);
    FPiece.resize(static_cast<size_t>(piece));
    FPieceStart = FPosition;
    FPieceLength = FBase.Read(FPiece.data(), piece);
    FBasePosition += FPieceLength;
    const int32_t more = std::min(rest, FPieceLength);
    std::memcpy(target + done, FPiece.data(), static_cast<size_t>(more));
    FPosition += more;
    return done + more;
}

int32_t TReadAheadStream::Write(const void*, int32_t) {
    throw EStreamError("Stream write error");
}

int32_t TReadAheadStream::Seek(int32_t offset, SeekOrigin origin) {
    switch (origin) {
        case soBeginning: FPosition = offset; break;
        case soCurrent: FPosition += offset; break;
        case soEnd: FPosition = FSize + static_cast<int64_t>(offset); break;
    }
    return static_cast<int32_t>(FPosition);
}

void TReadAheadStream::Detach() {
    MoveBase();
}

void TReadAheadStream::MoveBase() {
    if (FBasePosition == FPosition)
        return;
    FBasePosition = FBase.Seek(static_cast<int32_t>(FPosition), soBeginning);
    // A stream that cannot go there would hand out other bytes than those asked for.
    if (FBasePosition != FPosition)
        throw EStreamError("Stream read error");
}

// ---- Writing -------------------------------------------------------------------------------------

namespace {

void WriteField(TPacket& packet, const TFieldDef& def, TStream& stream, TPacketWriteContext* context) {
    void* member = def.Locate(packet);
    switch (def.Coding) {
        using enum TFieldCoding;
        case Int8: case UInt8: stream.WriteBuffer(member, 1); break;
        case Int16: case UInt16: stream.WriteBuffer(member, 2); break;
        case Int32: case UInt32: stream.WriteBuffer(member, 4); break;
        case Int64: case Double: case DateTime: stream.WriteBuffer(member, 8); break;
        case CompactInt: WriteCompactInt(stream, *static_cast<int32_t*>(member)); break;
        case Boolean: WriteByte(stream, *static_cast<bool*>(member) ? 1 : 0); break;
        case Fixed: WriteFixed(stream, member, def.Size); break;
        case Guid: stream.WriteBuffer(member, 16); break;
        case Record: stream.WriteBuffer(member, def.Size); break;
        case String: WriteString(stream, *static_cast<std::string*>(member)); break;
        case WideString: WriteWideString(stream, *static_cast<std::u16string*>(member), true); break;
        case StringList: WriteStringList(stream, *static_cast<TStringListEx*>(member)); break;
        case StringListText: WriteString(stream, static_cast<TStringListEx*>(member)->Text()); break;
        case Blob: WriteStreamField(stream, *static_cast<TVirtualStream*>(member), context != nullptr); break;
        case Packet: {
            auto& nested = *static_cast<std::unique_ptr<TPacket>*>(member);
            CM_ASSERT(PacketsUnit, nested != nullptr);
            nested->SaveToStream(stream, context, 0);
            break;
        }
        case OptionalPacket: {
            auto& nested = *static_cast<std::unique_ptr<TPacket>*>(member);
            WriteByte(stream, nested ? 1 : 0);
            if (nested)
                nested->SaveToStream(stream, context, 0);
            break;
        }
        case PacketList: static_cast<TCustomPacketList*>(member)->SaveToStream(stream, context); break;
        case RecordList: static_cast<TCustomList*>(member)->SaveToStream(stream); break;
    }
}

void WriteClassReference(TStream& stream, const TPacketClass& cls, TPacketWriteContext& context) {
    const int32_t number = cls.ClassNumber.load();
    CM_ASSERT(PacketsUnit, number >= 1);
    const int32_t id = context.Find(number);
    if (id != 0) {
        WriteCompactWord(stream, id);
        return;
    }
    context.AddClass(number);
    uint8_t record[1 + ClassRecordSize] = {};  // compact word 0, then the class record
    const uint16_t fieldCount = static_cast<uint16_t>(cls.FieldCount());
    std::memcpy(record + 2, &fieldCount, 2);
    std::memcpy(record + 4, &cls.Guid, 16);
    stream.WriteBuffer(record, sizeof record);
}

}  // namespace

void TPacket::WriteFields(TStream& stream, TPacketWriteContext* context) {
    const TPacketClass& cls = ClassType();
    for (int32_t i = 0, n = cls.FieldCount(); i < n; ++i)
        WriteField(*this, *cls.FieldDef(i), stream, context);
}

void TPacket::SaveToStream(TStream& stream, TPacketWriteContext* context, uint32_t flags) {
    if (flags & sfCompressed) {
        TVirtualStream buffer(vsGranularity20);
        SaveToStream(buffer, context, flags & ~(sfCompressed | sfBuffered));
        buffer.Rewind();
        CompressStream(buffer, buffer.Size(), stream, cfQuickLz131);
        return;
    }
    if (flags & sfBuffered) {
        TVirtualStream buffer(vsGranularity20);
        SaveToStream(buffer, context, flags & ~sfBuffered);
        stream.WriteBuffer(buffer.Memory(), buffer.Size());
        return;
    }
    if (context) {
        WriteClassReference(stream, ClassType(), *context);
        WriteFields(stream, context);
        return;
    }
    const int32_t start = stream.Position();
    TPacketHeader header{PacketFormatVersion, 0, ClassType().FieldCount(), 0, ClassType().Guid};
    WriteValue(stream, header);
    WriteFields(stream, nullptr);
    const int32_t end = stream.Position();
    header.TotalSize = end - start;
    stream.Seek(start, soBeginning);
    WriteValue(stream, header);
    stream.Seek(end, soBeginning);
}

// ---- Reading -------------------------------------------------------------------------------------

namespace packet_engine {

namespace {

void ReadField(TPacket& packet, const TPacketClass& cls, const TFieldDef& def, TFieldReader& reader,
               TPacketReadContext* context) {
    reader.SetField(&cls, &def);
    void* member = def.Locate(packet);
    switch (def.Coding) {
        using enum TFieldCoding;
        case Int8: case UInt8: reader.Read(member, 1); break;
        case Int16: case UInt16: reader.Read(member, 2); break;
        case Int32: case UInt32: reader.Read(member, 4); break;
        case Int64: case Double: case DateTime: reader.Read(member, 8); break;
        case CompactInt: *static_cast<int32_t*>(member) = reader.ReadCompactInt(); break;
        case Boolean: *static_cast<bool*>(member) = reader.ReadValue<uint8_t>() != 0; break;
        case Fixed: reader.ReadFixed(member, def.Size); break;
        case Guid: reader.Read(member, 16); break;
        case Record: reader.Read(member, def.Size); break;
        case String: *static_cast<std::string*>(member) = reader.ReadString(); break;
        case WideString: *static_cast<std::u16string*>(member) = reader.ReadWideString(); break;
        case StringList: reader.ReadStringList(*static_cast<TStringListEx*>(member)); break;
        case StringListText: static_cast<TStringListEx*>(member)->SetText(reader.ReadString()); break;
        case Blob: reader.ReadBlob(*static_cast<TVirtualStream*>(member), context != nullptr); break;
        case Packet: case OptionalPacket: {
            auto& nested = *static_cast<std::unique_ptr<TPacket>*>(member);
            if (def.Coding == OptionalPacket) {
                const uint8_t present = reader.ReadValue<uint8_t>();
                if (present > 1)
                    throw EPacketError(Format("Invalid packet data in %s: presence byte %d",
                                              {reader.FieldText(), present}));
                if (!present) {
                    nested.reset();
                    break;
                }
            }
            if (!nested) {
                CM_ASSERT(PacketsUnit, def.ItemClass && def.ItemClass->Construct);
                ChargeBuild(*def.ItemClass);
                nested.reset(def.ItemClass->Construct());
            }
            const int64_t limit = reader.SyncOut();
            ReadPacket(reader.Stream(), context, nested.get(), limit, reader.Depth() + 1);
            reader.SyncIn();
            break;
        }
        case PacketList: {
            auto& list = *static_cast<TCustomPacketList*>(member);
            const int32_t count = reader.ReadValue<int32_t>();
            const int32_t minSize = context ? MinCompactPacketSize : MinFullPacketSize;
            reader.CheckLength(int64_t(count) * minSize, count);
            list.Clear();
            list.Reserve(count);
            const int64_t limit = reader.SyncOut();
            for (int32_t i = 0; i < count; ++i)
                list.Add(ReadPacket(reader.Stream(), context, nullptr, limit, reader.Depth() + 1));
            reader.SyncIn();
            break;
        }
        case RecordList: {
            reader.SyncOut();
            static_cast<TCustomList*>(member)->LoadFromStream(reader.Stream());
            reader.SyncIn();
            break;
        }
    }
}

// Reads the class reference of the compact form; returns the class and its stored field count.
TPacketReadContext::TEntry ReadClassReference(TFieldReader& reader, TPacketReadContext& context) {
    const int32_t id = reader.ReadCompactWord();
    if (id != 0) {
        if (id - 1 >= static_cast<int32_t>(context.Entries.size()))
            throw EPacketError(Format("Invalid streaming context ID: %d", {id}));
        return context.Entries[id - 1];
    }
    uint8_t record[ClassRecordSize];
    reader.Read(record, sizeof record);
    uint16_t storedCount;
    TGuid guid;
    std::memcpy(&storedCount, record + 1, 2);
    std::memcpy(&guid, record + 3, 16);
    const TPacketClass* cls = FindPacketClass(guid);
    if (!cls)
        throw EPacketError(Format("Unregistered packet class in context: %s", {GuidToString(guid)}));
    if (cls->FieldCount() < storedCount)
        throw EPacketError(Format("Unsupported version of packet class: %s (version %d)", {cls->Name, storedCount}));
    TPacketReadContext::TEntry entry{cls, storedCount};
    if (!context.Frozen)
        context.Entries.push_back(entry);
    return entry;
}

struct TBuildBudget {
    int64_t Input = 0;
    int64_t Limit = 0;
    int64_t Used = 0;
};
thread_local TBuildBudget* CurrentBudget = nullptr;

// Depth of nested reads on this thread; a lying stream could otherwise nest packets until the
// stack runs out.
class TNestingGuard {
public:
    explicit TNestingGuard(int32_t depth) {
        if (depth > PacketMaxNesting)
            throw EPacketError(Format("Cannot load packet. Nesting deeper than %d levels", {PacketMaxNesting}));
    }
};

}  // namespace

TBuildScope::TBuildScope(int64_t inputBytes) : FOutermost(CurrentBudget == nullptr) {
    if (!FOutermost) return;
    auto* budget = new TBuildBudget;
    budget->Input = std::max<int64_t>(inputBytes, 0);
    budget->Limit = budget->Input * PacketBuildBytesPerInputByte + PacketBuildAllowance;
    CurrentBudget = budget;
}

TBuildScope::~TBuildScope() {
    if (!FOutermost) return;
    delete CurrentBudget;
    CurrentBudget = nullptr;
}

void ChargeBuild(const TPacketClass& cls) {
    TBuildBudget* budget = CurrentBudget;
    if (!budget) return;
    budget->Used += PacketBuildCost + PacketFieldBuildCost * cls.FieldCount();
    if (budget->Used > budget->Limit)
        throw EPacketError(Format("Cannot load packet. %d bytes of data would build more than %d bytes of packets",
                                  {static_cast<long long>(budget->Input), static_cast<long long>(budget->Limit)}));
}

void ReadBody(TPacket& packet, TFieldReader& reader, int32_t& storedCount, TPacketReadContext* context) {
    if (storedCount <= 0)
        return;
    const TPacketClass& cls = packet.ClassType();
    const int32_t fieldCount = cls.FieldCount();
    int32_t index = 0;
    for (; index < fieldCount && index < storedCount; ++index) {
        const TFieldDef* def = cls.FieldDef(index);
        const TPacketClass* owner = &cls;
        while (owner->Parent && index < owner->Parent->FieldCount())
            owner = owner->Parent;
        ReadField(packet, *owner, *def, reader, context);
    }
    storedCount -= index;
}

std::unique_ptr<TPacket> ReadPacket(TStream& stream, TPacketReadContext* context, TPacket* into, int64_t limit,
                                    int32_t depth) {
    TNestingGuard guard(depth);
    if (limit < 0)
        limit = stream.Size();
    TFieldReader head(stream, limit, depth);

    const TPacketClass* cls;
    int32_t storedCount;
    int64_t bodyLength = -1;  // unknown in the compact form
    if (!context) {
        TPacketHeader header;
        head.Read(&header, sizeof header);
        if (header.FormatVersion != PacketFormatVersion)
            throw EPacketError(Format("Cannot load packet. Unknown format version: %d", {header.FormatVersion}));
        if (header.TotalSize < PacketHeaderSize)
            throw EPacketError(Format("Cannot load packet. Invalid total size: %d", {header.TotalSize}));
        if (header.TotalSize - PacketHeaderSize > head.Remaining())
            throw EPacketError(Format("Cannot load packet. Total size %d exceeds the %d bytes left",
                                      {header.TotalSize, static_cast<long long>(head.Remaining() + PacketHeaderSize)}));
        if (into) {
            cls = &into->ClassType();
            if (!(header.ClassGuid == cls->Guid))
                throw EPacketError(Format("Incompatible packet class: %s (%s, %s expected)",
                                          {GuidToString(header.ClassGuid), GuidToString(cls->Guid), cls->Name}));
        } else {
            cls = FindPacketClass(header.ClassGuid);
            if (!cls)
                throw EPacketError(Format("Unregistered packet class: %s", {GuidToString(header.ClassGuid)}));
        }
        storedCount = header.FieldCount;
        bodyLength = header.TotalSize - PacketHeaderSize;
    } else {
        const TPacketReadContext::TEntry entry = ReadClassReference(head, *context);
        if (into && entry.Class != &into->ClassType())
            throw EPacketError(Format("Incompatible packet class: %s (%s, %s expected)",
                                      {GuidToString(entry.Class->Guid), GuidToString(into->ClassType().Guid),
                                       into->ClassName()}));
        cls = entry.Class;
        storedCount = entry.StoredFieldCount;
    }
    head.SyncOut();

    std::unique_ptr<TPacket> created;
    if (!into) {
        if (!cls->Construct)
            throw EPacketError(Format("Cannot load packet. Class %s cannot be created", {cls->Name}));
        ChargeBuild(*cls);
        created.reset(cls->Construct());
        into = created.get();
    }

    const int32_t bodyStart = stream.Position();
    const int64_t bodyEnd = bodyLength >= 0 ? bodyStart + bodyLength : limit;
    if (IsMemoryStream(stream) || bodyLength < 0 || bodyLength > PacketReadBufferSize) {
        // In place for memory streams; field by field for large or unknown bodies.
        TFieldReader reader(stream, bodyEnd, depth);
        ReadBody(*into, reader, storedCount, context);
        reader.SyncOut();
    } else {
        // One read of the whole body, parsed from memory.
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(bodyLength) + 1]);
        stream.ReadBuffer(buffer.get(), static_cast<int32_t>(bodyLength));
        TPointerStream memory(static_cast<const void*>(buffer.get()), static_cast<int32_t>(bodyLength));
        TFieldReader reader(memory, -1, depth);
        ReadBody(*into, reader, storedCount, context);
    }
    if (bodyLength >= 0)
        stream.Seek(static_cast<int32_t>(bodyEnd), soBeginning);
    return created;
}

}  // namespace packet_engine

void TPacket::ReadFields(TStream& stream, int32_t& storedCount, TPacketReadContext* context) {
    TFieldReader reader(stream, -1, 0);
    packet_engine::ReadBody(*this, reader, storedCount, context);
    reader.SyncOut();
}

void TPacket::ReadFieldsFromMemory(TCustomMemoryStream& stream, int32_t& storedCount, TPacketReadContext* context) {
    TFieldReader reader(stream, -1, 0);
    packet_engine::ReadBody(*this, reader, storedCount, context);
    reader.SyncOut();
}

namespace {

// Reads the packet at the stream's position; a stream that is no memory stream is read through a
// read-ahead, and left positioned after the packet.
std::unique_ptr<TPacket> ReadTopLevel(TStream& stream, TPacketReadContext* context, TPacket* into, uint32_t flags) {
    if (flags & lfCompressed) {
        TDecompressStream decompressed(&stream, -1, false, 1);
        return ReadTopLevel(decompressed, context, into, flags & ~lfCompressed);
    }
    packet_engine::TBuildScope budget(static_cast<int64_t>(stream.Size()) - stream.Position());
    if (IsMemoryStream(stream))
        return packet_engine::ReadPacket(stream, context, into, -1, 0);
    TReadAheadStream ahead(stream);
    const int64_t start = ahead.Position();
    if (!context) {
        // The full form gives its end in the header: the header is taken alone, then nothing
        // beyond the packet's end (a lying size is refused by the packet reader).
        ahead.SetLimit(start + PacketHeaderSize);
        TPacketHeader header{};
        if (ahead.Read(&header, PacketHeaderSize) == PacketHeaderSize && header.TotalSize > PacketHeaderSize)
            ahead.SetLimit(start + header.TotalSize);
        ahead.Seek(static_cast<int32_t>(start), soBeginning);
    } else if (!stream.Seekable()) {
        // The compact form's end is known only once it is read: no read-ahead where the stream
        // cannot give back what was read too far.
        ahead.SetLimit(start);
    }
    auto packet = packet_engine::ReadPacket(ahead, context, into, -1, 0);
    ahead.Detach();
    return packet;
}

}  // namespace

void TPacket::LoadFromStream(TStream& stream, TPacketReadContext* context, uint32_t flags) {
    ReadTopLevel(stream, context, this, flags);
}

std::unique_ptr<TPacket> TPacket::CreateFromStream(TStream& stream, TPacketReadContext* context, uint32_t flags) {
    return ReadTopLevel(stream, context, nullptr, flags);
}

void TCustomPacketList::LoadFromStream(TStream& stream, TPacketReadContext* context) {
    packet_engine::TBuildScope budget(static_cast<int64_t>(stream.Size()) - stream.Position());
    TFieldReader reader(stream, -1, 0);
    const int32_t count = reader.ReadValue<int32_t>();
    reader.CheckLength(int64_t(count) * (context ? MinCompactPacketSize : MinFullPacketSize), count);
    Clear();
    Reserve(count);
    const int64_t limit = reader.SyncOut();
    for (int32_t i = 0; i < count; ++i)
        Add(packet_engine::ReadPacket(stream, context, nullptr, limit, 1));
}

}  // namespace cm
