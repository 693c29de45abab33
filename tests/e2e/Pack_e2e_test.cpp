// Bootstraps packed by this build's corvane-pack, run the way a user runs them: the setup gets
// its command line and info.dat; the stub's icon and manifest survive packing; a damaged payload
// is refused before anything is written.
#include <gtest/gtest.h>

#include "cm/Objects/WinApi.h"

#include <imagehlp.h>

#include <functional>

#include "cm/ModuleExp/ModuleExp.h"
#include "cm/ModuleExp/ResourceSection.h"
#include "cm/Objects.h"
#include "e2e/BootstrapRun.h"
#include "helpers/BootstrapFixture.h"
#include "support/ProcessStart.h"

namespace e2e {
namespace {

class PackE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string& bin = TestBinDirectory();
        Packer = cm::CombinePath(bin, "..\\bin\\corvane-pack.exe");
        Setup = bin + "sample_setup.exe";
        Product = WorkDirectory() + "product\\";
        cm::ForceDirectoryPath(Product + "docs\\");
        cm::test::WriteWholeFile(Product + "readme.txt", "CORVANE PACKED PRODUCT\r\n");
        std::string data;
        for (int i = 0; i < 200000; ++i) data += static_cast<char>((i * 7919) >> 7);
        cm::test::WriteWholeFile(Product + "docs\\data.bin", data);
        Many = WorkDirectory() + "many\\";
        for (int d = 0; d < 10; ++d) {
            const std::string dir = Many + "dir" + std::to_string(d) + "\\";
            cm::ForceDirectoryPath(dir);
            for (int f = 0; f < 30; ++f) cm::test::WriteWholeFile(dir + "file" + std::to_string(f) + ".txt", std::string(100 + f * d, 'a' + f % 26));
        }
    }

    static void TearDownTestSuite() {
        try {
            cm::DeleteDirectoryTree(WorkDirectory(), "*.*", false, false);
        } catch (...) {
        }
    }

    // Packs with the build's own stubs; returns the bootstrap's path.
    static std::string Pack(const std::string& name, const std::string& options) {
        const std::string out = WorkDirectory() + name + ".exe";
        const std::string stubs = cm::CombinePath(TestBinDirectory(), "..\\bin");
        const std::string command = cm::QuoteString(Packer) + " build --quiet --setup " + cm::QuoteString(Setup) +
                                    " --caption \"Corvane Packed\" --date 41878.156644675924 --arch " + Arch() +
                                    " --stub-dir " + cm::QuoteString(stubs) + " -o " + cm::QuoteString(out) + " " + options;
        EXPECT_EQ(0, cm::test::RunProcessRetrying(command, true, cm::HideWindow)) << command;
        return out;
    }

    static std::string Arch() { return sizeof(void*) == 8 ? "x64" : "x86"; }

    static std::string Report(const RunResult& r, const std::string& key) {
        auto it = r.Report.find(key);
        return it == r.Report.end() ? std::string("<missing>") : it->second;
    }

    // A directory as an argument: quoted, without its trailing backslash (which would escape the quote).
    static std::string Dir(const std::string& path) { return cm::QuoteString(path.substr(0, path.size() - 1)); }

    static inline std::string Packer, Setup, Product, Many;
};

// The setup receives the command line and info.dat with the package date, whatever the payload's
// form and however many files the product has.
TEST_F(PackE2E, SetupRunsWithItsCommandLineAndProductInformation) {
    struct Case {
        const char* name;
        std::string options;
    };
    const Case cases[] = {
        {"coded", "--files " + Dir(Product)},
        {"stored", "--stored --files " + Dir(Product)},
        {"300-files", "--files " + Dir(Many)},
        {"console", "--console --files " + Dir(Product)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string exe = Pack(c.name, c.options);
        RunResult r = RunBootstrap(exe, {"/silent /exit=7"});
        ASSERT_FALSE(r.TimedOut);
        ASSERT_TRUE(r.SetupRan) << r.StdOut;
        EXPECT_EQ(7, r.ExitCode);
        EXPECT_EQ(cm::QuoteString(r.TempDirectory + "Setup.exe") + " /installer_filename=" + cm::QuoteString(exe) +
                      " /silent /exit=7 /ProductCaption=\"Corvane Packed\"",
                  Report(r, "cmdline"));
        EXPECT_EQ("130535847341000000", Report(r, "infotime")) << "info.dat carries the package date";
        EXPECT_FALSE(DirectoryExists(r.TempDirectory));
    }
}

// The resource as the system's resource functions give it, loaded as an image resource file.
std::string SystemResource(const std::string& exe, LPCSTR type, int id) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return "<cannot load " + exe + ">";
    std::string bytes = "<missing>";
    if (HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), type)) {
        const void* data = LockResource(LoadResource(module, info));
        bytes.assign(static_cast<const char*>(data), SizeofResource(module, info));
    }
    FreeLibrary(module);
    return bytes;
}

// Packing keeps the stub's icon, manifest and version information, read back through the system.
TEST_F(PackE2E, StubResourcesSurvivePacking) {
    const std::string stub = cm::CombinePath(TestBinDirectory(), "..\\bin\\bootstrap.exe");
    const std::string packed = Pack("resources", "--files " + Dir(Product));
    struct Case {
        const char* name;
        LPCSTR type;
        int id;
    };
    const Case cases[] = {{"group icon", RT_GROUP_ICON, 1}, {"icon 1", RT_ICON, 1}, {"icon 2", RT_ICON, 2},
                          {"manifest", RT_MANIFEST, 1}, {"version", RT_VERSION, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = SystemResource(stub, c.type, c.id);
        ASSERT_NE("<missing>", expected) << "the stub has it";
        EXPECT_EQ(expected, SystemResource(packed, c.type, c.id));
    }
    EXPECT_EQ(cm::test::ReadWholeFile(cm::CombinePath(TestBinDirectory(), "..\\bin\\lzma.exe")), SystemResource(packed, RT_RCDATA, 1002));
    // The header checksum is the one the system computes.
    DWORD stored = 0, computed = 0;
    ASSERT_EQ(CHECKSUM_SUCCESS, MapFileAndCheckSumA(packed.c_str(), &stored, &computed));
    EXPECT_EQ(computed, stored);
}

// The file offset of the packed payload (resource 1000).
size_t PayloadOffset(const std::string& image) {
    auto explorer = cm::TModuleExplorer::CreateForFileImage(image.data(), image.size(), cm::emMappedFile);
    const cm::TResourceTable table = cm::ReadResources(*explorer);
    const cm::TResourceEntry* payload = table.Find(cm::ResourceTypeRcData, 1000);
    const uint8_t* at = payload ? explorer->AddressOf(payload->Rva, 1) : nullptr;
    return at ? static_cast<size_t>(at - explorer->ImageStart()) : 0;
}

// One damaged byte of the payload is found before the bootstrap writes anything: files planted in
// its temporary directory are still there (emptying it is its first write), no setup runs, and the
// exit code is 6.
TEST_F(PackE2E, DamagedPayloadIsRefusedBeforeAnythingIsWritten) {
    const std::string good = cm::test::ReadWholeFile(Pack("good", "--console --files " + Dir(Product)));
    const size_t payload = PayloadOffset(good);
    ASSERT_NE(0u, payload);
    struct Case {
        const char* name;
        size_t at;  // offset in the payload
    };
    const Case cases[] = {{"header", 3}, {"middle", 5000}, {"near the end", 20000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = good;
        damaged[payload + c.at] = static_cast<char>(damaged[payload + c.at] ^ 0x5A);
        const std::string exe = WorkDirectory() + "damaged.exe";
        cm::test::WriteWholeFile(exe, damaged);
        RunResult r = RunBootstrap(exe, {"/exit=3", true});
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(6, r.ExitCode);
        EXPECT_EQ("Please wait...Fatal Error: Setup package is damaged: checksum mismatch.\r\n", r.StdOut);
        EXPECT_FALSE(r.SetupRan);
        EXPECT_TRUE(r.PlantedIntact);
        EXPECT_FALSE(DirectoryExists(r.TempDirectory)) << "nothing was written";
    }

    // The GUI build shows the same message in its box.
    std::string damaged = cm::test::ReadWholeFile(Pack("good-gui", "--files " + Dir(Product)));
    damaged[PayloadOffset(damaged) + 100] ^= 1;
    cm::test::WriteWholeFile(WorkDirectory() + "damaged-gui.exe", damaged);
    RunOptions options;
    options.ExpectMessageBox = true;
    RunResult gui = RunBootstrap(WorkDirectory() + "damaged-gui.exe", options);
    ASSERT_TRUE(gui.Box.Found) << "no message box (is there an X display?)";
    EXPECT_EQ("Setup package is damaged: checksum mismatch.", gui.Box.Text);
    EXPECT_EQ(6, gui.ExitCode);
}

// A packed bootstrap whose integrity record is taken out (as payloads packed before the record
// existed have none) runs its setup unchecked; one whose record is of a later version is refused.
TEST_F(PackE2E, IntegrityRecordAbsentRunsAndUnknownVersionIsRefused) {
    const std::string packed = cm::test::ReadWholeFile(Pack("record", "--console --files " + Dir(Product)));
    auto explorer = cm::TModuleExplorer::CreateForFileImage(packed.data(), packed.size(), cm::emMappedFile);
    struct Case {
        const char* name;
        std::function<void(cm::TResourceTable&)> change;
        int exitCode;
        bool setupRuns;
        const char* output;  // the console's text
    };
    const Case cases[] = {
        {"absent", [](cm::TResourceTable& t) { t.Remove(cm::ResourceTypeRcData, 1003); }, 7, true, "Please wait..."},
        {"version 2",
         [](cm::TResourceTable& t) {
             std::string record(t.Find(cm::ResourceTypeRcData, 1003)->Data());
             record[0] = 2;
             t.Set(cm::ResourceTypeRcData, 1003, cm::ResourceLanguageNeutral, record);
         },
         6, false,
         "Please wait...Fatal Error: Setup package integrity record has an unknown version (2).\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cm::TResourceTable table = cm::ReadResources(*explorer);
        ASSERT_NE(nullptr, table.Find(cm::ResourceTypeRcData, 1003));
        c.change(table);
        const std::string exe = WorkDirectory() + "record-" + c.name + ".exe";
        cm::test::WriteWholeFile(exe, cm::RebuildResourceSection(*explorer, table).Bytes());
        RunResult r = RunBootstrap(exe, RunOptions("/exit=7"));
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(c.exitCode, r.ExitCode) << r.StdOut;
        EXPECT_EQ(c.setupRuns, r.SetupRan) << r.StdOut;
        EXPECT_EQ(0u, r.StdOut.find(c.output)) << r.StdOut;
    }
}

}  // namespace
}  // namespace e2e
