// The fixture of the file-system tests (FileSystem, Enumerate, PrivateDirectory,
// SystemWrappers), on the real file system (under Wine in the test run): every test works in its
// own scratch directory under the temporary directory and removes it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cm/Objects/Errors.h"
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Strings.h"
#include "cm/Objects/WinApi.h"
#include "support/ScratchDirectory.h"

namespace cm {

// The message a system failure carries after the routine's own text.
inline std::string SystemSuffix(uint32_t code) { return ": " + SystemErrorText(code) + " (" + std::to_string(code) + ")"; }

inline void WriteTextFile(const std::string& path, const std::string& content) { test::WriteFileBytes(path, content); }

// A scratch directory per test (root_, with a trailing backslash); the directory-created
// notifications a test adds are removed after it.
class FileSystemTest : public test::ScratchDirectoryTest {
protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        root_ = dir_ + "\\";
    }
    void TearDown() override {
        for (int handle : notifications_) RemoveDirectoryCreatedNotification(handle);
        ScratchDirectoryTest::TearDown();
        EXPECT_FALSE(DirectoryExistsPlain(root_)) << "scratch directory left behind: " << root_;
    }

    // Builds files and directories under the scratch root; a name ending in '\' is a directory.
    void MakeTree(const std::vector<std::string>& entries) {
        for (const std::string& entry : entries) {
            if (!entry.empty() && entry.back() == '\\')
                ASSERT_TRUE(CreateDirectoryA((root_ + entry).c_str(), nullptr)) << entry;
            else
                WriteTextFile(root_ + entry, "content of " + entry);
        }
    }
    bool Exists(const std::string& relative) const {
        return GetFileAttributesA((root_ + relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    void Watch(DirectoryCreatedCallback callback, void* userData, bool enabled) {
        notifications_.push_back(AddDirectoryCreatedNotification(callback, userData, enabled));
    }

    std::string root_;  // with trailing backslash
    std::vector<int> notifications_;
};

}  // namespace cm
