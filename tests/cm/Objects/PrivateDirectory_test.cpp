// CreatePrivateDirectory and RemovePrivateDirectory (PrivateDirectory.cpp): the access list, the
// next free name past whatever was prepared at a predictable one, the hold, the removal.

#include <string>
#include <vector>

#include <aclapi.h>

#include "cm/Objects/PrivateDirectory.h"
#include "support/DirectoryLink.h"
#include "support/MessageOf.h"
#include "FileSystemTestSupport.h"

namespace cm {
namespace {

// ---- Private directories ----

// The principals' security identifiers, in the order of the access list; empty: the current user.
std::vector<std::vector<BYTE>> ExpectedPrincipals(const std::vector<WELL_KNOWN_SID_TYPE>& types) {
    std::vector<std::vector<BYTE>> sids;
    for (WELL_KNOWN_SID_TYPE type : types) {
        std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
        DWORD size = static_cast<DWORD>(sid.size());
        EXPECT_TRUE(CreateWellKnownSid(type, nullptr, sid.data(), &size));
        sids.push_back(sid);
    }
    if (types.empty()) {
        HANDLE token = nullptr;
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
        UniqueHandle owned(token);
        std::vector<BYTE> user(512);
        DWORD size = static_cast<DWORD>(user.size());
        EXPECT_TRUE(GetTokenInformation(token, TokenUser, user.data(), size, &size));
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        const BYTE* bytes = static_cast<const BYTE*>(sid);
        sids.emplace_back(bytes, bytes + GetLengthSid(sid));
    }
    return sids;
}

// A protected access list allowing exactly the principals, inherited by files and directories.
void ExpectPrivateAccessList(PSECURITY_DESCRIPTOR descriptor, const std::vector<std::vector<BYTE>>& principals) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr);
    ASSERT_EQ(acl->AceCount, principals.size());
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_TRUE(EqualSid(&ace->SidStart, const_cast<BYTE*>(principals[i].data()))) << "entry " << i;
    }
}

// A new private directory gets only its own access list, with the principals asked for. Read back
// from the directory where the file system keeps access lists (Wine 8 keeps none it is given).
TEST_F(FileSystemTest, PrivateDirectoryIsCreatedWithItsAccessList) {
    struct Case {
        TPrivateDirectoryAccess Access;
        std::vector<WELL_KNOWN_SID_TYPE> Principals;  // empty: the current user alone
    };
    const Case cases[] = {
        {TPrivateDirectoryAccess::AdministratorsAndSystem, {WinBuiltinAdministratorsSid, WinLocalSystemSid}},
        {TPrivateDirectoryAccess::CurrentUser, {}},
    };
    bool keptHere = true;
    for (const Case& c : cases) {
        const std::string path = root_ + (c.Principals.empty() ? "user" : "admins");
        SCOPED_TRACE(path);
        const std::vector<std::vector<BYTE>> principals = ExpectedPrincipals(c.Principals);
        ExpectPrivateAccessList(PrivateDirectorySecurity(c.Access).get(), principals);

        std::string made;
        UniqueFileHandle held = CreatePrivateDirectory(path, c.Access, made);
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(made, path);
        PSECURITY_DESCRIPTOR readBack = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, GetSecurityInfo(held.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                 nullptr, nullptr, nullptr, &readBack));
        UniqueLocalMemory owned(readBack);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(readBack, &control, &revision));
        if (!(control & SE_DACL_PROTECTED)) {
            keptHere = false;
            continue;
        }
        ExpectPrivateAccessList(readBack, principals);
    }
    if (!keptHere)
        RecordProperty("access_list", "checked as built: this file system does not keep the access lists it is given");
}

// Whatever is found at the predictable name and the next ones (a directory made in advance with
// files in it, a file, a link to another place) is left as it is, nothing is walked through it,
// and the new directory takes the first free name.
TEST_F(FileSystemTest, PrivateDirectoryTakesTheNextFreeNameAndLeavesWhatItFindsAlone) {
    MakeTree({"target\\", "target\\precious.txt", "p\\", "p\\version.dll", "p_2"});
    const std::string base = root_ + "p";
    const bool linked = cm::test::MakeDirectoryLink(base + "_3", root_ + "target");
    struct RemoveLink {
        std::string Path;
        ~RemoveLink() { cm::test::RemoveDirectoryLink(Path); }
    } removeLink{base + "_3"};
    std::string made;
    UniqueFileHandle held = CreatePrivateDirectory(base + "\\", TPrivateDirectoryAccess::CurrentUser, made);
    EXPECT_EQ(made, base + (linked ? "_4" : "_3"));
    EXPECT_TRUE(Exists("p\\version.dll"));
    EXPECT_TRUE(Exists("p_2"));
    EXPECT_TRUE(Exists("target\\precious.txt"));
    int inside = 0;
    EnumerateFiles(made, IncludeDirectories | IncludeDotNames, "*", [&](void*, const FileEnumEntry&) { ++inside; });
    EXPECT_EQ(inside, 0);
    if (!linked) RecordProperty("link", "not checked: directory links are not created here");
}

TEST_F(FileSystemTest, PrivateDirectoryNamesAllTaken) {
    MakeTree({"q\\", "q_2\\", "q_3"});
    std::string made = "unchanged";
    EXPECT_EQ(test::MessageOf([&] { CreatePrivateDirectory(root_ + "q", TPrivateDirectoryAccess::CurrentUser, made, 3); }),
              "Cannot create a private directory at '" + root_ + "q': the names up to '" + root_ + "q_3' are all taken");
    EXPECT_EQ(made, "unchanged");
}

// Held, nobody can remove or rename it; the removal through the hold empties it (links inside are
// removed, never followed) and then removes it.
TEST_F(FileSystemTest, PrivateDirectoryIsHeldAndRemovedThroughItsHold) {
    MakeTree({"outside\\", "outside\\precious.txt"});
    std::string made;
    UniqueFileHandle held = CreatePrivateDirectory(root_ + "p", TPrivateDirectoryAccess::CurrentUser, made);
    EXPECT_FALSE(RemoveDirectoryA(made.c_str()));
    EXPECT_FALSE(MoveFileA(made.c_str(), (root_ + "moved").c_str()));
    MakeTree({"p\\Setup.exe", "p\\sub\\", "p\\sub\\deep.txt"});
    CreateSymbolicLinkA((made + "\\link").c_str(), (root_ + "outside").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    EXPECT_TRUE(RemovePrivateDirectory(std::move(held), made + "\\"));
    EXPECT_FALSE(Exists("p"));
    EXPECT_TRUE(Exists("outside\\precious.txt"));
}

}  // namespace
}  // namespace cm
