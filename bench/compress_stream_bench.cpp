// Compressing a 64 MB mixed corpus (text, counters, random bytes, runs) with CompressStream and
// reading it back through TDecompressStream, against the codec called directly on the same
// 2,064,384-byte pieces (CompressBlock / DecompressBlock between preallocated buffers), for format
// ids 0 (LZO1X-1) and 3 (QuickLZ 1.31). Each figure is the best of three runs. Prints at the end:
//   BENCH compress_stream_id<N>_vs_codec <stream throughput / direct throughput> 0.9
//   BENCH decompress_stream_id<N>_vs_codec <stream throughput / direct throughput> 0.8
// (a read copies every byte once more, out of the cached part, which the direct call does not)
// and, for information, the throughputs (MB/s) and the compression ratio.
// Build it without sanitizers for figures that mean anything on the host.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cm/RealTimeCompressStreams/RealTimeCompressStreams.h"
#include "cm/StreamUtils/PointerStream.h"
#include "cm/StreamUtils/VirtualStream.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t CorpusSize = 64 << 20;
constexpr int Runs = 3;

std::vector<uint8_t> MixedCorpus() {
    static const char words[][12] = {"setup ", "packet ", "stream ", "product ", "install ", "the ", "of ", "version "};
    std::vector<uint8_t> corpus(static_cast<size_t>(CorpusSize));
    uint32_t seed = 12345;
    auto next = [&] { seed ^= seed << 13; seed ^= seed >> 17; seed ^= seed << 5; return seed; };
    for (size_t at = 0; at < corpus.size();) {
        const size_t piece = std::min<size_t>(corpus.size() - at, 4096 + next() % 65536);
        const uint32_t kind = next() % 4;
        for (size_t i = 0; i < piece; ++i) {
            uint8_t b = 0;
            if (kind == 0) b = static_cast<uint8_t>(words[(i / 7 + seed) % 8][i % 6]);
            else if (kind == 1) b = static_cast<uint8_t>((at + i) / 4 >> ((i % 4) * 8));
            else if (kind == 2) b = static_cast<uint8_t>(next());
            else b = static_cast<uint8_t>(at >> 12);
            corpus[at + i] = b;
        }
        at += piece;
    }
    return corpus;
}

template <class F>
double BestSeconds(F&& work) {
    double best = 1e30;
    for (int i = 0; i < Runs; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

struct Figures {
    double streamCompress, directCompress, streamDecompress, directDecompress, ratio;
};

Figures Measure(const std::vector<uint8_t>& corpus, int32_t formatId) {
    Figures f{};
    cm::TVirtualStream compressed(cm::vsKeepMemoryOnClear);  // both sides write into memory touched before
    f.streamCompress = BestSeconds([&] {
        cm::TPointerStream source(corpus.data(), CorpusSize);
        compressed.Clear();
        cm::CompressStream(source, CorpusSize, compressed, formatId);
    });
    f.ratio = static_cast<double>(compressed.Size()) / CorpusSize;

    std::vector<uint8_t> out(static_cast<size_t>(cm::WorstCaseBlockSize(cm::CompressPartSize, formatId)));
    std::vector<std::vector<uint8_t>> blocks;
    f.directCompress = BestSeconds([&] {
        blocks.clear();
        for (int32_t at = 0; at < CorpusSize; at += cm::CompressPartSize) {
            int32_t size = static_cast<int32_t>(out.size());
            cm::CompressBlock(corpus.data() + at, std::min(cm::CompressPartSize, CorpusSize - at), out.data(), formatId, size);
            blocks.emplace_back(out.begin(), out.begin() + size);
        }
    });

    std::vector<uint8_t> back(static_cast<size_t>(CorpusSize));
    f.streamDecompress = BestSeconds([&] {
        cm::TDecompressStream stream(&compressed, -1, false, 1);
        for (int32_t at = 0; at < CorpusSize; at += 65536)
            stream.Read(back.data() + at, 65536);
    });
    if (std::memcmp(back.data(), corpus.data(), corpus.size()) != 0)
        std::printf("MISMATCH id %d\n", formatId);
    f.directDecompress = BestSeconds([&] {
        int32_t at = 0;
        for (const auto& block : blocks) {
            const int32_t n = std::min(cm::CompressPartSize, CorpusSize - at);
            cm::DecompressBlock(block.data(), static_cast<int32_t>(block.size()), back.data() + at, formatId, n);
            at += n;
        }
    });
    return f;
}

}  // namespace

int main() {
    const std::vector<uint8_t> corpus = MixedCorpus();
    const double megabytes = CorpusSize / 1048576.0;
    Figures figures[2];
    const int32_t ids[2] = {cm::cfMiniLzo, cm::cfQuickLz131};
    for (int i = 0; i < 2; ++i) {
        figures[i] = Measure(corpus, ids[i]);
        const Figures& f = figures[i];
        std::printf("id %d: ratio %.3f; compress stream %.0f MB/s, direct %.0f MB/s; decompress stream %.0f MB/s, direct %.0f MB/s\n",
                    ids[i], f.ratio, megabytes / f.streamCompress, megabytes / f.directCompress,
                    megabytes / f.streamDecompress, megabytes / f.directDecompress);
    }
    for (int i = 0; i < 2; ++i) {
        std::printf("BENCH compress_stream_id%d_vs_codec %.3f 0.9\n", ids[i], figures[i].directCompress / figures[i].streamCompress);
        std::printf("BENCH decompress_stream_id%d_vs_codec %.3f 0.8\n", ids[i], figures[i].directDecompress / figures[i].streamDecompress);
    }
    return 0;
}
