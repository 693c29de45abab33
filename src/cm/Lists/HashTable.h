// cm/Lists: TCustomHashTable, a chained hash table with a fixed number of buckets whose entries
// are carved from chunks of up to 128 entries, and the two hash functions used with it.
// Portable: no operating system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cm/Lists/CustomList.h"

namespace cm {

// The key's first 32-bit little-endian word (GUID and integer keys); length must be >= 4.
uint32_t FirstWordHash(const void* key, int32_t length);
// The string hash of the length bytes at key, in 0..0x3FF. It clears bit 5 of every byte, so
// strings differing only in ASCII letter case hash alike; an empty string hashes to 0.
uint32_t StringHash(const void* key, int32_t length);

class TCustomHashTable {
public:
    static constexpr uint32_t HashTableSignature = 0x427FDC1F;
    static constexpr int32_t MaxChunkEntries = 128;

    // An entry: the chain link, then (at RecordOffset) the record.
    struct TEntry {
        TEntry* Next;
    };
    // Receives (data, table, link to the entry); returns false to stop. It may unlink the entry.
    using TForEachCallback = bool (*)(void* data, TCustomHashTable& table, TEntry** link);

    TCustomHashTable(const TCustomHashTable&) = delete;
    TCustomHashTable& operator=(const TCustomHashTable&) = delete;
    // Checks the signature (assertion on a mismatch, nothing freed then), zeroes it and frees the
    // chunks and buckets. Records are freed by the concrete table's destructor before this runs.
    virtual ~TCustomHashTable() noexcept(false);

    // The record operations, in slot order.
    virtual void FreeItem(void* item) = 0;
    virtual void CopyItem(const void* source, void* dest) = 0;
    virtual int HashItem(THashFunction hashFunction, const void* item) = 0;
    virtual int CompareItems(const void* a, const void* b) = 0;
    virtual bool SameItem(const void* a, const void* b) = 0;
    virtual int32_t ItemSize() const = 0;

    const char* ClassName() const { return FClassName; }
    uint32_t Signature() const { return FSignature; }
    uint16_t Flags() const { return FFlags; }
    TDuplicates Duplicates() const { return FDuplicates; }
    int32_t Count() const { return FCount; }
    int32_t EntrySize() const { return FEntrySize; }
    int32_t BucketCount() const { return FBucketCount; }
    uint32_t Mask() const { return FMask; }
    THashFunction HashFunction() const { return FHashFunction; }
    // The number of chunks allocated (each holds up to MaxChunkEntries entries).
    int32_t ChunkCount() const;

    // An unlinked, uninitialised record, already counted; the caller fills it and calls Link.
    void* NewEntry();
    // Puts the entry of a record from NewEntry at the head of its bucket's chain.
    void Link(void* record);
    // The link that points to the entry whose record is SameItem with key, or nullptr.
    TEntry** FindEntry(const void* key);
    // Visits the buckets from the last to the first, each chain from its head; returns the number
    // of callbacks made.
    int32_t ForEach(TForEachCallback callback, void* data);
    // FreeItem on every entry, frees the chunks, zeroes the buckets (kept) and sets Count to 0.
    void Clear();
    // Same class, bucket count, entry size and hash function (assertions): clears, then copies
    // every entry of source into one chunk, keeping each chain's order.
    void Assign(TCustomHashTable& source);

    static void* RecordOf(TEntry* entry) { return reinterpret_cast<uint8_t*>(entry) + RecordOffset; }
    static TEntry* EntryOf(void* record) { return reinterpret_cast<TEntry*>(static_cast<uint8_t*>(record) - RecordOffset); }

    void CheckSignature(const char* detail) const;

protected:
    // Records are placed at RecordOffset within an entry and aligned to RecordAlign.
    static constexpr size_t RecordAlign = 8;
    static constexpr size_t RecordOffset = (sizeof(TEntry) + RecordAlign - 1) / RecordAlign * RecordAlign;

    // shift: log2 of the bucket count (0..16, assertion).
    TCustomHashTable(const char* className, int32_t itemSize, TDuplicates duplicates, uint16_t flags, int shift,
                     THashFunction hashFunction);

    // For the concrete table's destructor: frees every record unless the signature is wrong.
    void FreeItemsOnDestroy();
    [[noreturn]] void Error(const char* text) const;   // class name + ": " + text

    uint32_t FSignature = HashTableSignature;

private:
    struct TChunk {
        TChunk* Previous;
    };
    static constexpr size_t ChunkHeader = (sizeof(TChunk) + RecordAlign - 1) / RecordAlign * RecordAlign;

    TEntry* EntryIn(TChunk* chunk, int32_t i) const {
        return reinterpret_cast<TEntry*>(reinterpret_cast<uint8_t*>(chunk) + ChunkHeader + static_cast<size_t>(i) * FEntrySize);
    }
    void AllocateChunk(int32_t entries);
    void FreeChunks();
    void FreeRecords();
    uint32_t BucketOf(const void* record) { return static_cast<uint32_t>(HashItem(FHashFunction, record)) & FMask; }

    uint16_t FFlags;
    TDuplicates FDuplicates;
    int32_t FCount = 0;
    int32_t FEntrySize;
    TChunk* FChunks = nullptr;     // newest chunk; each links to the previous one
    int32_t FFreeEntries = 0;      // entries of FChunks not yet handed out (handed out from the end)
    TEntry** FBuckets = nullptr;
    int32_t FBucketCount;
    uint32_t FMask;
    THashFunction FHashFunction;
    const char* FClassName;
};

}  // namespace cm
