// Helpers shared by the cm/Lists tests: a growable memory stream, an object that counts its
// living instances, and probes that can damage a container's signature.
#pragma once

#include "support/MessageOf.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cm/Lists/TypedLists.h"
#include "cm/StreamUtils/Stream.h"

namespace cm::test {

// A memory stream over a std::vector that grows as it is written.
class TVectorStream : public TCustomMemoryStream {
public:
    TVectorStream() = default;
    explicit TVectorStream(const std::vector<uint8_t>& bytes) {
        SetSize(static_cast<int32_t>(bytes.size()));
        if (!bytes.empty())
            std::copy(bytes.begin(), bytes.end(), Block.begin());
    }
    std::vector<uint8_t> Bytes() const { return {Block.begin(), Block.begin() + FSize}; }

protected:
    void* Realloc(int32_t& newCapacity) override {
        Block.resize(static_cast<size_t>(newCapacity));
        return Block.data();
    }

private:
    std::vector<uint8_t> Block;
};

// Counts living instances in *Alive.
struct TCounted : TObject {
    explicit TCounted(int& alive) : Alive(alive) { ++Alive; }
    ~TCounted() override { --Alive; }
    int& Alive;
};

// A container whose signature a test can overwrite, as a stray write would.
struct TProbeList : TCustomList {
    TProbeList() : TCustomList("TProbeList", 4, 0) {}
    void FreeItem(void*) override {}
    void CopyItem(const void*, void*) override {}
    int CompareItems(const void*, const void*) override { return 0; }
    bool SameItem(const void*, const void*) override { return false; }
    int32_t ItemSize() const override { return 4; }
    void Damage() { FSignature ^= 1; }
};

struct TProbeTable : TCustomHashTable {
    TProbeTable() : TCustomHashTable("TProbeTable", 4, dupAccept, 0, 2, FirstWordHash) {}
    void FreeItem(void*) override {}
    void CopyItem(const void*, void*) override {}
    int HashItem(THashFunction, const void*) override { return 0; }
    int CompareItems(const void*, const void*) override { return 0; }
    bool SameItem(const void*, const void*) override { return false; }
    int32_t ItemSize() const override { return 4; }
    void Damage() { FSignature ^= 1; }
};

}  // namespace cm::test
