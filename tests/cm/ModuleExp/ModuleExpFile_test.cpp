// TModuleExplorer over module handles and files (Win32, under Wine).
#include <gtest/gtest.h>

#include "support/MessageOf.h"

#include <functional>
#include <string>
#include <vector>

#include "cm/ModuleExp/ModuleExp.h"
#include "cm/ModuleExp/PEImageBuilder.h"
#include "cm/Objects/WinApi.h"
#include "cm/StreamUtils/FileStream.h"
#include "support/ScratchDirectory.h"

namespace cm {
namespace {

using test::MessageOf;

using Bytes = std::vector<uint8_t>;

std::string ExeDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

Bytes ReadFile(const std::string& path) {
    TFileStreamEx file(path, fmOpenRead | fmShareDenyWrite);
    Bytes b(static_cast<size_t>(file.Size()));
    file.ReadBuffer(b.data(), static_cast<int32_t>(b.size()));
    return b;
}

void WriteFile(const std::string& path, const Bytes& b) {
    TFileStreamEx file(path, fmCreate);
    file.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
}

class ModuleExpFile : public cm::test::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        Dll = ExeDirectory() + "moduleexp_exports.dll";
        Temp = Path("moduleexp.bin");
    }

    std::string Dll;
    std::string Temp;
};

// The console detection of the bootstrap: this test program is a console program.
TEST_F(ModuleExpFile, OwnModuleIsConsole) {
    auto e = TModuleExplorer::CreateForModule(GetModuleHandleA(nullptr), true);
    EXPECT_FALSE(e->Invalid());
    EXPECT_EQ(emLoadedModule, e->Mode());
    EXPECT_EQ(ImageSubsystemWindowsConsole, e->Subsystem());
    EXPECT_GE(e->ImageSize(), e->Format().SizeOfImage());
}

// Reserved but uncommitted memory is not readable: the extent is empty and the open fails.
TEST_F(ModuleExpFile, UnreadableMemoryIsInvalid) {
    void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, reserved);
    auto quiet = TModuleExplorer::CreateForModule(static_cast<HMODULE>(reserved), false);
    EXPECT_TRUE(quiet->Invalid());
    const std::string message = MessageOf([&] { TModuleExplorer::CreateForModule(static_cast<HMODULE>(reserved), true); });
    EXPECT_EQ(Format("Invalid module at base address 0x%x\r\nInvalid module DOS header at 0x%p", {reinterpret_cast<uintptr_t>(reserved), reserved}), message);
    VirtualFree(reserved, 0, MEM_RELEASE);
}

// The exports read from the loaded DLL, the DLL mapped as a data file and the file in each mode
// name the addresses the loader resolves.
TEST_F(ModuleExpFile, ExportsOfDllInEveryMode) {
    HMODULE loaded = LoadLibraryA(Dll.c_str());
    ASSERT_NE(nullptr, loaded);
    const uint32_t alpha = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetProcAddress(loaded, "ModExpAlpha")) - reinterpret_cast<uintptr_t>(loaded));
    const uint32_t beta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetProcAddress(loaded, "ModExpBeta")) - reinterpret_cast<uintptr_t>(loaded));
    auto check = [&](const TModuleExplorer& e) {
        EXPECT_EQ(alpha, e.FindExport("ModExpAlpha"));
        EXPECT_EQ(beta, e.FindExport("ModExpBeta"));
        EXPECT_EQ(ImageSubsystemWindowsGui, e.Subsystem());
    };
    {
        SCOPED_TRACE("loaded");
        check(*TModuleExplorer::CreateForModule(loaded, true));
    }
    FreeLibrary(loaded);
    HMODULE dataFile = LoadLibraryExA(Dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, dataFile);
    {
        SCOPED_TRACE("data file");
        // The system marks a module mapped as a data file with bit 0 of its handle.
        ASSERT_EQ(1u, reinterpret_cast<uintptr_t>(dataFile) & 3);
        auto e = TModuleExplorer::CreateForModule(dataFile, true);
        EXPECT_TRUE(e->FileLayout());
        check(*e);
    }
    FreeLibrary(dataFile);
    for (int mode : {emLayoutCopy, emMappedFile, emFileCopy}) {
        SCOPED_TRACE(mode);
        auto e = TModuleExplorer::CreateForFile(Dll, mode);
        check(*e);
        EXPECT_EQ(mode == emFileCopy, e->FileTime() != 0);
    }
}

// The console conversion: open in mode 2, set the console subsystem, save to the same path. The
// file then differs from before only in the subsystem field.
TEST_F(ModuleExpFile, ConsoleConversionChangesOnlyTheSubsystem) {
    struct Case { const char* Name; Bytes Image; uint32_t SubsystemOffset; };
    const Bytes dll = ReadFile(Dll);
    const uint32_t dllOptional = PeRead32(&dll[DosNtHeaderOffsetField]) + NtSignatureSize + FileHeaderSize;
    const Case cases[] = {
        {"PE32 DLL", dll, dllOptional + 68},
        {"PE32+ image", test::MakePEImage(true, true), test::PELayout::Subsystem},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(Temp, c.Image);
        {
            auto e = TModuleExplorer::CreateForFile(Temp, emFileCopy);
            e->SetConsoleSubsystem();
            e->SaveImageToFile(Temp);
        }
        const Bytes after = ReadFile(Temp);
        ASSERT_EQ(c.Image.size(), after.size());
        std::vector<size_t> changed;
        for (size_t i = 0; i < after.size(); ++i)
            if (after[i] != c.Image[i]) changed.push_back(i);
        EXPECT_EQ((std::vector<size_t>{c.SubsystemOffset}), changed);
        EXPECT_EQ(ImageSubsystemWindowsConsole, TModuleExplorer::CreateForFile(Temp, emMappedFile)->Subsystem());
    }
}

TEST_F(ModuleExpFile, SaveNeedsThePrivateCopy) {
    auto e = TModuleExplorer::CreateForFile(Dll, emMappedFile);
    EXPECT_THROW(e->SaveImageToFile(Temp), EAssertionFailed);
    EXPECT_THROW(e->SetConsoleSubsystem(), EAssertionFailed);
}

// Every failure of a file open names the file first.
TEST_F(ModuleExpFile, FileFailuresNameTheFile) {
    const std::string missing = Temp + ".missing";
    for (int mode : {emLayoutCopy, emMappedFile, emFileCopy}) {
        SCOPED_TRACE(mode);
        const std::string m = MessageOf([&] { TModuleExplorer::CreateForFile(missing, mode); });
        EXPECT_EQ(0u, m.find("Failed to load image from file: " + missing + "\r\nCannot open file: " + missing)) << m;
    }
    WriteFile(Temp, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'P', 'E'});
    const std::string m = MessageOf([&] { TModuleExplorer::CreateForFile(Temp, emMappedFile); });
    EXPECT_EQ(0u, m.find("Failed to load image from file: " + Temp + "\r\nInvalid module DOS header at 0x")) << m;
    WriteFile(Temp, Bytes{});
    EXPECT_EQ("Failed to load image from file: " + Temp + "\r\nInvalid module DOS header at 0x" +
                  std::string(2 * sizeof(void*), '0'),
              MessageOf([&] { TModuleExplorer::CreateForFile(Temp, emMappedFile); }));
}

}  // namespace
}  // namespace cm
