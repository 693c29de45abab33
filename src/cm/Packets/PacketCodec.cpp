// The packet stream format: class references, the two forms of SaveToStream, and the readers
// LoadFromStream / CreateFromStream with their bounds (nesting, build budget, read-ahead). The
// fields themselves are written and read by their codings' tables (FieldCodings.cpp).
#include <algorithm>
#include <cstring>

#include "cm/Packets/FieldCodings.h"
#include "cm/Packets/PacketEngine.h"
#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/ReadAheadStream.h"
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

// ---- Writing -------------------------------------------------------------------------------------

// The compact form's class reference: the class's context ID, or the new ID's record the first
// time the class is written with this context. The class must be registered (an assertion).
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
    for (int32_t i = 0, n = cls.FieldCount(); i < n; ++i) {
        const TFieldDef& def = *cls.FieldDef(i);
        CodingOps(def.Coding).Write(def, def.Locate(*this), stream, context);
    }
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

void ReadPacketList(TFieldReader& reader, TCustomPacketList& list, TPacketReadContext* context) {
    const int32_t count = reader.ReadValue<int32_t>();
    reader.CheckLength(int64_t(count) * (context ? MinCompactPacketSize : MinFullPacketSize), count);
    list.Clear();
    list.Reserve(count);
    const int64_t limit = reader.SyncOut();
    for (int32_t i = 0; i < count; ++i)
        list.Add(ReadPacket(reader.Stream(), context, nullptr, limit, reader.Depth() + 1));
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
        reader.SetField(owner, def);
        CodingOps(def->Coding).Read(*def, def->Locate(packet), reader, context);
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
    packet_engine::ReadPacketList(reader, *this, context);
}

}  // namespace cm
