// The checked system wrappers (SystemWrappers.cpp): process-wide information, GUID text, file
// pointers, memory protection and the failure messages.

#include <functional>
#include <string>

#include "cm/Objects/SystemWrappers.h"
#include "FileSystemTestSupport.h"

namespace cm {
namespace {

TEST(SystemInformationTest, StableProcessWideValues) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    // A 32-bit program runs under WOW64 exactly on 64-bit Windows; a 64-bit one runs only there.
    EXPECT_EQ(IsWindows64Bit(), sizeof(void*) == 8 || wow64 != FALSE);

    const std::string system = SystemDirectory();
    EXPECT_EQ(system.back(), '\\');
    EXPECT_TRUE(DirectoryExistsPlain(system));
    EXPECT_EQ(&SystemDirectory(), &SystemDirectory());

    const std::string name = GetComputerNameChecked();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(GetComputerNameSafe(), name);

    const std::string module = GetModuleFileNameChecked(nullptr);
    EXPECT_TRUE(SameTextAscii(ExtractNamePart(module), "cm_objects_filesystem_test.exe")) << module;
    EXPECT_EQ(GetModuleHandleChecked(""), GetModuleHandleA(nullptr));
}

TEST(GuidTextTest, UpperCaseBracedForm) {
    const struct {
        GUID Guid;
        const char* Text;
    } cases[] = {
        {{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
         "{01234567-89AB-CDEF-0123-456789ABCDEF}"},
        {{0xA, 0xB, 0xC, {0xD, 0xE, 0xF, 0x10, 0x11, 0x12, 0x13, 0x14}}, "{0000000A-000B-000C-0D0E-0F1011121314}"},
        {{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
         "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
    };
    for (const auto& c : cases) EXPECT_EQ(GuidToString(c.Guid), c.Text);
}

// ---- Checked wrappers ----

TEST_F(FileSystemTest, FilePointerAndSizeAcceptAllOnesLowHalf) {
    const std::string path = root_ + "data.bin";
    WriteTextFile(path, std::string(1000, 'x'));
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(GetFileSizeChecked(file.get()), 1000);
    EXPECT_EQ(SetFilePointerChecked(file.get(), 0, FILE_END), 1000);
    EXPECT_EQ(SetFilePointerChecked(file.get(), -10, FILE_CURRENT), 990);
    EXPECT_EQ(SetFilePointerChecked(file.get(), 4096, FILE_BEGIN), 4096);
    SetEndOfFileChecked(file.get());
    EXPECT_EQ(GetFileSizeChecked(file.get()), 4096);
    EXPECT_EQ(GetFileInformationChecked(file.get()).nFileSizeLow, 4096u);

    // Positions and sizes whose low half is all ones are valid results, not failures.
    const int64_t allOnes = 0xFFFFFFFFll;
    EXPECT_EQ(SetFilePointerChecked(file.get(), allOnes, FILE_BEGIN), allOnes);
    EXPECT_EQ(SetFilePointerChecked(file.get(), 0x1FFFFFFFFll, FILE_BEGIN), 0x1FFFFFFFFll);
    EXPECT_EQ(SetFilePointerChecked(file.get(), allOnes, FILE_BEGIN), allOnes);
    SetEndOfFileChecked(file.get());  // sparse where the file system allows it
    EXPECT_EQ(GetFileSizeChecked(file.get()), allOnes);
    EXPECT_EQ(SetFilePointerChecked(file.get(), 0, FILE_BEGIN), 0);
    SetEndOfFileChecked(file.get());
    FlushFileBuffersChecked(file.get());

    try {
        SetFilePointerChecked(file.get(), -1, FILE_BEGIN);
        ADD_FAILURE() << "no error";
    } catch (const EWin32Error& e) {
        EXPECT_EQ(e.message(), Format("Failed to set file pointer for handle 0x0%x", {reinterpret_cast<uintptr_t>(file.get())}) +
                                   SystemSuffix(ERROR_NEGATIVE_SEEK));
    }
}

TEST(ProtectMemoryTest, ChangesAndReportsProtection) {
    const size_t size = 4096;
    void* block = VirtualAllocChecked(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    static_cast<char*>(block)[0] = 1;
    EXPECT_EQ(ProtectMemory(block, size, PAGE_READONLY), static_cast<DWORD>(PAGE_READWRITE));
    EXPECT_EQ(VirtualQueryChecked(block).Protect, static_cast<DWORD>(PAGE_READONLY));
    EXPECT_EQ(ProtectMemory(block, size, PAGE_EXECUTE_READWRITE), static_cast<DWORD>(PAGE_READONLY));
    EXPECT_EQ(VirtualQueryChecked(block).Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
    VirtualFreeChecked(block, 0, MEM_RELEASE);
}

// Each wrapper's failure: its own message, then the system part with the code it got.
TEST(SystemWrapperTest, FailuresCarryTheirMessages) {
    // Windows and Wine answer different codes for the memory cases: only the message form is fixed.
    const uint32_t kAnyCode = 0;
    const HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00FFFFF0));
    void* const lowPage = reinterpret_cast<void*>(static_cast<uintptr_t>(0x00001000));
    // The second page of a reserved region: no region starts there (releasing it fails) and it is
    // not committed (protecting it fails). Kept reserved for the test, so that no other allocation
    // can take the address meanwhile, as one did with a region released beforehand on x64.
    void* const region = VirtualAlloc(nullptr, 2 * 4096, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(region, nullptr);
    void* const released = static_cast<char*>(region) + 4096;
    // Addresses print with the pointer's width (0x0%p).
    auto pointerText = [](uintptr_t value) { return "0x0" + HexDigits(value, static_cast<int>(2 * sizeof(void*))); };
    const std::string releasedText = pointerText(reinterpret_cast<uintptr_t>(released));
    // An address above the user part of the address space, which the system refuses to describe.
    const uintptr_t beyondUserSpace =
        sizeof(void*) == 8 ? static_cast<uintptr_t>(UINT64_C(0xFFFF800000000000)) : static_cast<uintptr_t>(0xFFFF0000);
    const std::string currentProcessText = pointerText(reinterpret_cast<uintptr_t>(GetCurrentProcess()));
    const struct {
        const char* Name;
        std::function<void()> Call;
        std::string Message;
        uint32_t Code;
    } cases[] = {
        {"LoadLibraryChecked", [] { LoadLibraryChecked("cm_no_such_library.dll"); },
         "Cannot load library 'cm_no_such_library.dll'", ERROR_MOD_NOT_FOUND},
        {"GetProcAddressChecked", [] { GetProcAddressChecked(GetModuleHandleA("kernel32.dll"), "CmNoSuchProc"); },
         "Cannot get address of procedure 'CmNoSuchProc'", ERROR_PROC_NOT_FOUND},
        {"GetModuleHandleChecked", [] { GetModuleHandleChecked("cm_no_such_module.dll"); },
         "Cannot get handle of module 'cm_no_such_module.dll'", ERROR_MOD_NOT_FOUND},
        {"CloseHandleChecked", [&] { CloseHandleChecked(bogus); }, "Failed to close handle 0x0FFFFF0",
         ERROR_INVALID_HANDLE},
        {"GetFileInformationChecked", [&] { GetFileInformationChecked(bogus); },
         "Failed to get file information for handle 0x0FFFFF0", ERROR_INVALID_HANDLE},
        {"GetFileSizeChecked", [&] { GetFileSizeChecked(bogus); }, "Failed to get file size for handle 0x0FFFFF0",
         ERROR_INVALID_HANDLE},
        {"SetEndOfFileChecked", [&] { SetEndOfFileChecked(bogus); },
         "Failed to set end of file for handle 0x0FFFFF0", ERROR_INVALID_HANDLE},
        {"SetFileTimeChecked", [&] { FILETIME t{}; SetFileTimeChecked(bogus, &t, &t, &t); }, "Failed to set file time",
         ERROR_INVALID_HANDLE},
        {"FlushFileBuffersChecked", [&] { FlushFileBuffersChecked(bogus); }, "Failed to flush file buffers",
         ERROR_INVALID_HANDLE},
        {"GetFileInformationByName", [] { GetFileInformationByName("Z:\\cm_no_such_dir\\x.txt"); },
         "Cannot open file for getting file information: Z:\\cm_no_such_dir\\x.txt", ERROR_PATH_NOT_FOUND},
        {"DuplicateHandleChecked",
         [&] { DuplicateHandleChecked(bogus, GetCurrentProcess(), GetCurrentProcess()); },
         "Failed to duplicate handle 0x0FFFFF0 (with same access rights, from process " + currentProcessText +
             " to " + currentProcessText + ")",
         ERROR_INVALID_HANDLE},
        {"VirtualAllocChecked", [&] { VirtualAllocChecked(lowPage, 0, MEM_COMMIT, PAGE_READWRITE); },
         "Failed to allocate 0 bytes of virtual memory at " + pointerText(0x1000), ERROR_INVALID_PARAMETER},
        {"VirtualFreeChecked", [&] { VirtualFreeChecked(released, 0, MEM_RELEASE); },
         "Failed to free 0 bytes of virtual memory at " + releasedText, kAnyCode},
        {"VirtualQueryChecked", [&] { VirtualQueryChecked(reinterpret_cast<void*>(beyondUserSpace)); },
         "Failed to query virtual memory at " + pointerText(beyondUserSpace), ERROR_INVALID_PARAMETER},
        {"ProtectMemory", [&] { ProtectMemory(released, 4096, PAGE_READONLY); },
         "Failed to change protection of 4096 bytes at " + releasedText, kAnyCode},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            c.Call();
            ADD_FAILURE() << "no error";
        } catch (const EWin32Error& e) {
            EXPECT_EQ(e.message(), c.Message + SystemSuffix(e.ErrorCode));
            if (c.Code == kAnyCode)
                EXPECT_NE(e.ErrorCode, 0u);
            else
                EXPECT_EQ(e.ErrorCode, c.Code);
        }
    }
    VirtualFree(region, 0, MEM_RELEASE);
}

TEST(SystemWrapperTest, DuplicatedHandleIsTheSameObject) {
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.valid());
    UniqueHandle copy(DuplicateHandleChecked(event.get(), GetCurrentProcess(), GetCurrentProcess()));
    ASSERT_TRUE(SetEvent(copy.get()));
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
    CloseHandleChecked(copy.release());
}

}  // namespace
}  // namespace cm
