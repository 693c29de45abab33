#include "cm/Packets/FieldReader.h"

#include <algorithm>
#include <cstring>

#include "cm/StreamUtils/StreamUtils.h"

namespace cm {

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

namespace {
thread_local TDeferredBlobs* CurrentDeferredBlobs = nullptr;
}  // namespace

TDeferredBlobs::TDeferredBlobs() : FOuter(CurrentDeferredBlobs) {
    CurrentDeferredBlobs = this;
}

TDeferredBlobs::~TDeferredBlobs() {
    CurrentDeferredBlobs = FOuter;
}

TDeferredBlobs* TDeferredBlobs::Current() {
    return CurrentDeferredBlobs;
}

void TDeferredBlobs::Add(const TVirtualStream& value, TPlace place) {
    FPlaces.emplace_back(&value, place);
}

const TDeferredBlobs::TPlace* TDeferredBlobs::Find(const TVirtualStream& value) const {
    // A blob read twice (a packet loaded again) is where its last read found it.
    for (auto it = FPlaces.rbegin(); it != FPlaces.rend(); ++it)
        if (it->first == &value)
            return &it->second;
    return nullptr;
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
    if (TDeferredBlobs* deferred = TDeferredBlobs::Current(); deferred && !FBase) {
        value.Clear();
        deferred->Add(value, {FPosition, length});
        Skip(length);
        return;
    }
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

}  // namespace cm
