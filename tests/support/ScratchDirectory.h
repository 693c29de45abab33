// Scratch directories for the tests that touch the real file system: one private directory per
// test under the temporary directory, removed afterwards with plain system calls (read-only files
// included, links not followed), so that cleaning up never depends on the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"

namespace cm::test {

// Removes a directory and everything in it; a directory link is removed, never walked.
inline void RemoveScratchTree(const std::string& directory) {
    WIN32_FIND_DATAA data;
    UniqueFindHandle find(::FindFirstFileA((directory + "\\*").c_str(), &data));
    if (find.valid()) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = directory + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    ::RemoveDirectoryA(path.c_str());
                else
                    RemoveScratchTree(path);
            } else {
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(find.get(), &data));
    }
    ::RemoveDirectoryA(directory.c_str());
}

// The system's temporary directory, with a trailing backslash.
inline std::string TemporaryDirectory() {
    char temp[MAX_PATH];
    const DWORD length = ::GetTempPathA(MAX_PATH, temp);
    std::string path(temp, length > 0 && length < MAX_PATH ? length : 0);
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

// A new empty directory "<temp>\<prefix>_<process id>_<n>": a leftover of an earlier run with the
// same name (process ids come round again) is removed first. Removed with its content when the
// object goes.
class TScratchDirectory {
public:
    explicit TScratchDirectory(const std::string& prefix) {
        static int counter = 0;
        path_ = TemporaryDirectory() + prefix + "_" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
        if (::GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveScratchTree(path_);
        created_ = ::CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
    }
    ~TScratchDirectory() { RemoveScratchTree(path_); }
    TScratchDirectory(const TScratchDirectory&) = delete;
    TScratchDirectory& operator=(const TScratchDirectory&) = delete;

    bool Created() const { return created_; }
    // The directory, without a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
    bool created_ = false;
};

// Writes data to path, replacing what is there.
inline void WriteFileBytes(const std::string& path, const std::string& data) {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    ASSERT_TRUE(file.valid()) << path;
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) << path;
    ASSERT_EQ(written, data.size()) << path;
}

// The file's content; "(missing)" when it cannot be opened.
inline std::string ReadFileBytes(const std::string& path) {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return "(missing)";
    std::string data(static_cast<size_t>(::GetFileSize(file.get(), nullptr)), '\0');
    DWORD read = 0;
    if (!data.empty()) ::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
    data.resize(read);
    return data;
}

// A test with a scratch directory of its own (dir_, without a trailing backslash).
class ScratchDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = std::make_unique<TScratchDirectory>(ScratchPrefix());
        ASSERT_TRUE(scratch_->Created()) << scratch_->Path();
        dir_ = scratch_->Path();
    }
    void TearDown() override { scratch_.reset(); }
    // The start of the directory's name: the test suite's name.
    virtual std::string ScratchPrefix() const {
        return ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
    }

    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

    static void WriteBytes(const std::string& path, const std::string& data) { WriteFileBytes(path, data); }
    static std::string ReadBytes(const std::string& path) { return ReadFileBytes(path); }
    // The length on disk, seen through the directory entry; -1 when missing.
    static int64_t FileLength(const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
        return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    // count bytes of a pattern that differs at every offset within a view.
    static std::string Pattern(size_t count, unsigned seed = 0) {
        std::string data(count, '\0');
        for (size_t i = 0; i < count; ++i) data[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
        return data;
    }

    std::string dir_;

private:
    std::unique_ptr<TScratchDirectory> scratch_;
};

}  // namespace cm::test
