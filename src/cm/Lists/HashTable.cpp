// cm/Lists: TCustomHashTable and the hash functions.
#include "cm/Lists/HashTable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <typeinfo>

namespace cm {

uint32_t FirstWordHash(const void* key, int32_t length) {
    CM_ASSERT(ListsUnit, length >= 4);
    const uint8_t* p = static_cast<const uint8_t*>(key);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t StringHash(const void* key, int32_t length) {
    if (length <= 0)
        return 0;
    const uint8_t* s = static_cast<const uint8_t*>(key);
    uint32_t h = static_cast<uint32_t>(length - 2);
    // Words are taken while their offset is below length - 2; the last one may reach one byte past
    // the string (its terminating zero), which is read here as 0 instead of from memory.
    for (int32_t offset = 0; offset < length - 2; offset += 4) {
        uint32_t word = 0;
        for (int32_t i = 0; i < 4 && offset + i < length; ++i)
            word |= static_cast<uint32_t>(s[offset + i]) << (8 * i);
        h ^= word;
    }
    h &= 0xDFDFDFDFu;
    return (h + (h >> 10) + (h >> 20)) & 0x3FFu;
}

TCustomHashTable::TCustomHashTable(const char* className, int32_t itemSize, TDuplicates duplicates, uint16_t flags,
                                   int shift, THashFunction hashFunction)
    : FFlags(flags), FDuplicates(duplicates), FHashFunction(hashFunction), FClassName(className) {
    CM_ASSERT(ListsUnit, shift >= 0 && shift <= 16);
    CM_ASSERT(ListsUnit, itemSize > 0);
    CM_ASSERT(ListsUnit, hashFunction != nullptr);
    CM_ASSERT(ListsUnit, duplicates <= dupError);
    FEntrySize = static_cast<int32_t>(RecordOffset + (static_cast<size_t>(itemSize) + RecordAlign - 1) / RecordAlign * RecordAlign);
    FBucketCount = 1 << shift;
    FMask = static_cast<uint32_t>(FBucketCount - 1);
}

TCustomHashTable::~TCustomHashTable() noexcept(false) {
    CheckSignature(TCustomList::RedundantDestruction);
    // Written through volatile: a store into an object that is ending may otherwise be dropped.
    *static_cast<volatile uint32_t*>(&FSignature) = 0;
    FreeChunks();
    std::free(FBuckets);
}

void TCustomHashTable::CheckSignature(const char* detail) const {
    if (FSignature != HashTableSignature)
        AssertionFailure(ListsUnit, __LINE__, (std::string(FClassName) + detail).c_str());
}

void TCustomHashTable::Error(const char* text) const {
    throw Exception(std::string(FClassName) + ": " + text);
}

int32_t TCustomHashTable::ChunkCount() const {
    int32_t n = 0;
    for (TChunk* c = FChunks; c; c = c->Previous)
        ++n;
    return n;
}

void TCustomHashTable::AllocateChunk(int32_t entries) {
    const size_t bytes = ChunkHeader + static_cast<size_t>(entries) * FEntrySize;
    auto* chunk = static_cast<TChunk*>(::operator new(bytes, std::align_val_t(RecordAlign)));
    chunk->Previous = FChunks;
    FChunks = chunk;
    FFreeEntries = entries;
}

void TCustomHashTable::FreeChunks() {
    while (FChunks) {
        TChunk* previous = FChunks->Previous;
        ::operator delete(FChunks, std::align_val_t(RecordAlign));
        FChunks = previous;
    }
    FFreeEntries = 0;
}

void* TCustomHashTable::NewEntry() {
    CheckSignature(TCustomList::DeadObjectDetected);
    if (!FBuckets) {
        FBuckets = static_cast<TEntry**>(std::calloc(static_cast<size_t>(FBucketCount), sizeof(TEntry*)));
        if (!FBuckets)
            throw std::bad_alloc();
    }
    if (FFreeEntries == 0)
        AllocateChunk(FCount == 0 ? 4 : std::min(FCount, MaxChunkEntries));
    TEntry* entry = EntryIn(FChunks, --FFreeEntries);
    entry->Next = nullptr;
    ++FCount;
    return RecordOf(entry);
}

void TCustomHashTable::Link(void* record) {
    CheckSignature(TCustomList::DeadObjectDetected);
    TEntry* entry = EntryOf(record);
    const uint32_t b = BucketOf(record);
    entry->Next = FBuckets[b];
    FBuckets[b] = entry;
}

TCustomHashTable::TEntry** TCustomHashTable::FindEntry(const void* key) {
    CheckSignature(TCustomList::DeadObjectDetected);
    if (FCount == 0 || !FBuckets)
        return nullptr;
    TEntry** link = &FBuckets[BucketOf(key)];
    for (; *link; link = &(*link)->Next)
        if (SameItem(key, RecordOf(*link)))
            return link;
    return nullptr;
}

int32_t TCustomHashTable::ForEach(TForEachCallback callback, void* data) {
    CheckSignature(TCustomList::DeadObjectDetected);
    int32_t calls = 0;
    if (!FBuckets)
        return 0;
    for (int32_t b = FBucketCount - 1; b >= 0; --b) {
        TEntry** link = &FBuckets[b];
        while (TEntry* entry = *link) {
            ++calls;
            if (!callback(data, *this, link))
                return calls;
            if (*link == entry)   // not unlinked by the callback
                link = &entry->Next;
        }
    }
    return calls;
}

void TCustomHashTable::FreeRecords() {
    ForEach([](void*, TCustomHashTable& table, TEntry** link) {
        table.FreeItem(RecordOf(*link));
        return true;
    }, nullptr);
}

void TCustomHashTable::FreeItemsOnDestroy() {
    if (FSignature != HashTableSignature)
        return;
    FreeRecords();
    FCount = 0;
}

void TCustomHashTable::Clear() {
    CheckSignature(TCustomList::OverwriteDetected);
    FreeRecords();
    FreeChunks();
    if (FBuckets)
        std::memset(FBuckets, 0, static_cast<size_t>(FBucketCount) * sizeof(TEntry*));
    FCount = 0;
}

void TCustomHashTable::Assign(TCustomHashTable& source) {
    CheckSignature(TCustomList::DeadObjectDetected);
    source.CheckSignature(TCustomList::DeadObjectDetected);
    CM_ASSERT(ListsUnit, typeid(source) == typeid(*this));
    CM_ASSERT(ListsUnit, source.FBucketCount == FBucketCount);
    CM_ASSERT(ListsUnit, source.FEntrySize == FEntrySize);
    CM_ASSERT(ListsUnit, source.FHashFunction == FHashFunction);
    if (&source == this)
        return;
    Clear();
    if (source.FCount == 0 || !source.FBuckets)
        return;
    if (!FBuckets) {
        FBuckets = static_cast<TEntry**>(std::calloc(static_cast<size_t>(FBucketCount), sizeof(TEntry*)));
        if (!FBuckets)
            throw std::bad_alloc();
    }
    AllocateChunk(source.FCount);
    for (int32_t b = 0; b < FBucketCount; ++b) {
        TEntry** tail = &FBuckets[b];
        for (TEntry* from = source.FBuckets[b]; from; from = from->Next) {
            TEntry* entry = EntryIn(FChunks, --FFreeEntries);
            CopyItem(RecordOf(from), RecordOf(entry));
            entry->Next = nullptr;
            *tail = entry;
            tail = &entry->Next;
            ++FCount;
        }
    }
}

}  // namespace cm
