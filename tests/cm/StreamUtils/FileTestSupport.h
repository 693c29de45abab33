// Scratch files for the file-stream tests: a private directory per test, removed afterwards
// (read-only files included).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"

namespace cm::testing {

class ScratchDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        dir_ = GetTempDirectory() + "cm_streams_" + std::to_string(::GetCurrentProcessId()) + "_" +
               std::to_string(++counter);
        ASSERT_TRUE(::CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    }
    void TearDown() override {
        ClearReadOnly(dir_);
        DeleteDirectoryTree(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

    static void WriteBytes(const std::string& path, const std::string& data) {
        UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid()) << path;
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
        ASSERT_EQ(written, data.size());
    }
    static std::string ReadBytes(const std::string& path) {
        UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return "(missing)";
        std::string data(static_cast<size_t>(::GetFileSize(file.get(), nullptr)), '\0');
        DWORD read = 0;
        if (!data.empty()) ::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
        data.resize(read);
        return data;
    }
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
    static void ClearReadOnly(const std::string& directory) {
        WIN32_FIND_DATAA found;
        UniqueFindHandle find(::FindFirstFileA((directory + "\\*").c_str(), &found));
        if (!find.valid()) return;
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = directory + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ClearReadOnly(path);
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        } while (::FindNextFileA(find.get(), &found));
    }
};

}  // namespace cm::testing
