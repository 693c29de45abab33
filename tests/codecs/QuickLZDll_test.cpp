// Tests of QuickLZ.dll and QuickLZ131.dll through the entry points the codec loader resolves.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cm/Objects/Architecture.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"

namespace {

using Bytes = std::vector<uint8_t>;

using SizeOfBlock = size_t(__stdcall*)(const char*);
using Compress131 = size_t(__stdcall*)(const void*, char*, size_t, void*);
using Decompress131 = size_t(__stdcall*)(const char*, void*, void*);
using GetSetting = int(__stdcall*)(int);
using Compress120 = size_t(__stdcall*)(const void*, char*, size_t);
using Decompress120 = size_t(__stdcall*)(const char*, void*);

// The libraries sit in bin/ beside the tests/ directory of this executable.
std::string LibraryPath(const char* name) {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, n);
    dir.resize(dir.find_last_of('\\'));
    dir.resize(dir.find_last_of('\\'));
    return dir + "\\bin\\" + name;
}

class QuickLZDll : public ::testing::Test {
protected:
    cm::UniqueModule Load(const char* name) {
        cm::UniqueModule module(LoadLibraryA(LibraryPath(name).c_str()));
        EXPECT_TRUE(module.valid()) << LibraryPath(name) << " error " << GetLastError();
        return module;
    }
    template <typename F>
    F Entry(const cm::UniqueModule& module, const char* name) {
        FARPROC p = GetProcAddress(module.get(), name);
        EXPECT_NE(p, nullptr) << name;
        // Through void (*)(void), the generic function pointer type, as GetProcAddress results are.
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
    }

    static Bytes Sample() {
        std::string s;
        for (int i = 0; s.size() < 70000; ++i)
            s += "record " + std::to_string(i % 300) + " of the sample;\n";
        return Bytes(s.begin(), s.end());
    }
};

TEST_F(QuickLZDll, Qlz131EntryPointsRoundTripAndPassTheLoaderChecks) {
    cm::UniqueModule module = Load("QuickLZ131.dll");
    ASSERT_TRUE(module.valid());
    // Under the names of this architecture: decorated on x86, plain on x64.
    auto name = [](const std::string& plain, int bytes) { return cm::arch::StdCallExportName(plain, bytes); };
    for (const std::string prefix : {"qlz_", "qlz_streaming_"}) {
        SCOPED_TRACE(prefix);
        auto sizeDecompressed = Entry<SizeOfBlock>(module, name(prefix + "size_decompressed", 4).c_str());
        auto sizeCompressed = Entry<SizeOfBlock>(module, name(prefix + "size_compressed", 4).c_str());
        auto compress = Entry<Compress131>(module, name(prefix + "compress", 16).c_str());
        auto decompress = Entry<Decompress131>(module, name(prefix + "decompress", 12).c_str());
        auto getSetting = Entry<GetSetting>(module, name(prefix + "get_setting", 4).c_str());
        ASSERT_TRUE(sizeDecompressed && sizeCompressed && compress && decompress && getSetting);

        // The loader's size checks, and the version the library reports.
        EXPECT_LT(getSetting(1), 32785);
        EXPECT_LE(getSetting(2), 16);
        EXPECT_EQ(getSetting(0), 1);
        EXPECT_EQ(getSetting(7) * 100 + getSetting(8) * 10 + getSetting(9), 131);
        EXPECT_EQ(getSetting(10), -1);

        // As the block-compressed streams call it: n + 400 bytes out, a 65,536-byte work area
        // for compression and 16 bytes for decompression.
        Bytes input = Sample();
        std::vector<char> block(input.size() + 400);
        std::vector<uint8_t> work(65536);
        size_t n = compress(input.data(), block.data(), input.size(), work.data() + 1);
        ASSERT_GT(n, 0u);
        EXPECT_LT(n, input.size() / 2);
        EXPECT_EQ(sizeCompressed(block.data()), n);
        EXPECT_EQ(sizeDecompressed(block.data()), input.size());
        Bytes out(input.size());
        uint8_t scratch[16];
        EXPECT_EQ(decompress(block.data(), out.data(), scratch), input.size());
        EXPECT_TRUE(out == input);

        // A block whose tokens lie is refused with 0.
        block[20] ^= 0x5A;
        block[21] ^= 0xA5;
        size_t r = decompress(block.data(), out.data(), scratch);
        EXPECT_TRUE(r == 0 || r == input.size());
        EXPECT_EQ(compress(input.data(), block.data(), 0, work.data()), 0u);
    }
}

TEST_F(QuickLZDll, Qlz120EntryPointsRoundTrip) {
    cm::UniqueModule module = Load("QuickLZ.dll");
    ASSERT_TRUE(module.valid());
    // The stdcall names of this architecture (decorated on x86, plain on x64), and only those: a
    // plain alias of a stdcall routine would invite calls in the wrong convention.
    using cm::arch::StdCallExportName;
    const std::string names[1][4] = {
        {StdCallExportName("qlz_size_decompressed", 4), StdCallExportName("qlz_size_source", 4),
         StdCallExportName("qlz_compress", 12), StdCallExportName("qlz_decompress", 8)},
    };
    if constexpr (sizeof(void*) == 4) {
        EXPECT_EQ(GetProcAddress(module.get(), "qlz_compress"), nullptr);
    }
    for (const auto& set : names) {
        SCOPED_TRACE(set[0]);
        auto sizeDecompressed = Entry<SizeOfBlock>(module, set[0].c_str());
        auto sizeSource = Entry<SizeOfBlock>(module, set[1].c_str());
        auto compress = Entry<Compress120>(module, set[2].c_str());
        auto decompress = Entry<Decompress120>(module, set[3].c_str());
        ASSERT_TRUE(sizeDecompressed && sizeSource && compress && decompress);

        Bytes input = Sample();
        std::vector<char> block(input.size() + 36000);
        size_t n = compress(input.data(), block.data(), input.size());
        ASSERT_GT(n, 0u);
        EXPECT_LT(n, input.size() / 2);
        EXPECT_EQ(sizeSource(block.data()), n);
        EXPECT_EQ(sizeDecompressed(block.data()), input.size());
        Bytes out(input.size());
        EXPECT_EQ(decompress(block.data(), out.data()), input.size());
        EXPECT_TRUE(out == input);

        // A header with unknown flag bits is refused.
        block[0] = 0x47;
        EXPECT_EQ(decompress(block.data(), out.data()), 0u);
        EXPECT_EQ(sizeSource(block.data()), 0u);
    }
}

}  // namespace
