// Compressing a 64 MB mixed corpus (text, counters, random bytes, runs) with CompressStream and
// reading it back through TDecompressStream, against the codec called directly on the same
// 2,064,384-byte pieces (CompressBlock / DecompressBlock between preallocated buffers), for format
// ids 0 (LZO1X-1) and 3 (QuickLZ 1.31).
//
// Fairness: both sides write into memory allocated and touched before the timed runs (the direct
// side's blocks lie back to back in one buffer, as the stream's do), one untimed run of each loads
// the codec library and warms the buffers, and the stream and direct runs alternate so that load
// from elsewhere on the machine falls on both alike. Each ratio is the median of the per-pair
// ratios over Runs pairs. Prints at the end:
//   BENCH compress_stream_id<N>_vs_codec <direct time / stream time> 0.95
//   BENCH decompress_stream_id<N>_vs_codec <direct time / stream time> 0.95
//     (reads of one part's size each, which the stream decompresses straight into the buffer)
//   BENCH decompress_stream_64k_id<N>_vs_codec <direct time / stream time> 0.8
//     (64 KB reads: each byte is copied once more, out of the cached part)
// and, for information, the median throughputs (MB/s) and the compression ratio.
// Build it without sanitizers for figures that mean anything on the host.
#include "BenchName.h"
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
constexpr int32_t SmallRead = 65536;
constexpr int Runs = 7;

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
double Seconds(F&& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One warm-up pair, then Runs alternating pairs.
struct Pair {
    double ratio;   // median of direct / stream
    double stream;  // median seconds
    double direct;
};

template <class S, class D>
Pair Compare(S&& stream, D&& direct) {
    stream();
    direct();
    std::vector<double> ratios, streams, directs;
    for (int i = 0; i < Runs; ++i) {
        const double s = Seconds(stream);
        const double d = Seconds(direct);
        ratios.push_back(d / s);
        streams.push_back(s);
        directs.push_back(d);
    }
    return {Median(ratios), Median(streams), Median(directs)};
}

struct Figures {
    Pair compress, decompress, decompressSmall;
    double ratio;
};

Figures Measure(const std::vector<uint8_t>& corpus, int32_t formatId) {
    Figures f{};
    // The stream's output, like the direct side's buffer, stays committed from run to run: without
    // vsNeverShrink CompressStream's final cut to the written size releases the pages it grew into,
    // and every run would pay their first-touch faults again, which the direct side does not.
    cm::TVirtualStream compressed(static_cast<uint16_t>(cm::vsKeepMemoryOnClear | cm::vsNeverShrink));
    std::vector<uint8_t> blocks(static_cast<size_t>(cm::WorstCaseCompressedSize(CorpusSize, formatId)));
    std::vector<int32_t> blockSizes;
    f.compress = Compare(
        [&] {
            cm::TPointerStream source(corpus.data(), CorpusSize);
            compressed.Clear();
            cm::CompressStream(source, CorpusSize, compressed, formatId);
        },
        [&] {
            blockSizes.clear();
            uint8_t* out = blocks.data();
            for (int32_t at = 0; at < CorpusSize; at += cm::CompressPartSize) {
                int32_t size = static_cast<int32_t>(blocks.data() + blocks.size() - out);
                cm::CompressBlock(corpus.data() + at, std::min(cm::CompressPartSize, CorpusSize - at), out, formatId, size);
                blockSizes.push_back(size);
                out += size;
            }
        });
    f.ratio = static_cast<double>(compressed.Size()) / CorpusSize;

    std::vector<uint8_t> back(static_cast<size_t>(CorpusSize));
    auto direct = [&] {
        const uint8_t* block = blocks.data();
        int32_t at = 0;
        for (const int32_t size : blockSizes) {
            const int32_t n = std::min(cm::CompressPartSize, CorpusSize - at);
            cm::DecompressBlock(block, size, back.data() + at, formatId, n);
            block += size;
            at += n;
        }
    };
    auto streamReads = [&](int32_t chunk) {
        return [&, chunk] {
            cm::TDecompressStream stream(&compressed, -1, false, 1);
            for (int32_t at = 0; at < CorpusSize; at += chunk)
                stream.Read(back.data() + at, chunk);
        };
    };
    const int32_t chunks[2] = {cm::CompressPartSize, SmallRead};
    Pair* pairs[2] = {&f.decompress, &f.decompressSmall};
    for (int i = 0; i < 2; ++i) {
        std::fill(back.begin(), back.end(), 0);
        streamReads(chunks[i])();
        if (std::memcmp(back.data(), corpus.data(), corpus.size()) != 0)
            std::printf("MISMATCH id %d reads of %d\n", formatId, chunks[i]);
        *pairs[i] = Compare(streamReads(chunks[i]), direct);
    }
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
        std::printf("id %d: ratio %.3f; compress stream %.0f MB/s, direct %.0f MB/s; decompress stream %.0f MB/s "
                    "(64 KB reads %.0f MB/s), direct %.0f MB/s\n",
                    ids[i], f.ratio, megabytes / f.compress.stream, megabytes / f.compress.direct,
                    megabytes / f.decompress.stream, megabytes / f.decompressSmall.stream, megabytes / f.decompress.direct);
    }
    for (int i = 0; i < 2; ++i) {
        std::printf("BENCH %s %.3f 0.95\n", BenchName("compress_stream_id" + std::to_string(ids[i]) + "_vs_codec").c_str(), figures[i].compress.ratio);
        std::printf("BENCH %s %.3f 0.95\n", BenchName("decompress_stream_id" + std::to_string(ids[i]) + "_vs_codec").c_str(), figures[i].decompress.ratio);
        std::printf("BENCH %s %.3f 0.8\n", BenchName("decompress_stream_64k_id" + std::to_string(ids[i]) + "_vs_codec").c_str(), figures[i].decompressSmall.ratio);
    }
    return 0;
}
