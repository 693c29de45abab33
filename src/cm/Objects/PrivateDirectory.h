// A private working directory at a predictable path: one that nobody else could have redirected
// or seeded, held open while it is in use.
#pragma once

#include <string>

#include "cm/Objects/Handles.h"
#include "cm/Objects/WinApi.h"

namespace cm {

// Who may use a private directory: the administrators and the system (for an elevated process,
// whose files the user's other programs must not change), or the current user alone.
enum class TPrivateDirectoryAccess { AdministratorsAndSystem, CurrentUser };

// The security descriptor a new private directory gets: a protected access list granting full
// access, inherited by everything inside, to `access`'s principals only. Raises
// "Failed to build an access list" with the system text.
UniqueLocalMemory PrivateDirectorySecurity(TPrivateDirectoryAccess access);

// True when this process runs with an elevated token; false where the system cannot tell.
bool IsProcessElevated();

// The access a private directory of this process gets: AdministratorsAndSystem when elevated.
TPrivateDirectoryAccess DefaultPrivateDirectoryAccess();

// Opens path (no trailing backslash needed) as a private directory and returns the handle that
// holds it: while the handle is open the directory can be neither removed nor renamed, so nobody
// can put a link in its place. Close the handle before removing the directory.
//  - A path that is a link to another place (junction, symbolic link) is refused with
//    "Cannot use directory '%s': it is a link to another location" and left alone.
//  - An existing directory is emptied first, its subdirectories included (links inside are
//    removed, never followed); raises "Cannot empty directory '%s': '%s' could not be removed"
//    (the first entry left) when anything stays.
//  - A missing directory is created with an access list that admits only `access`'s principals
//    ("Cannot create directory '%s'" with the system text when that fails).
UniqueFileHandle OpenPrivateDirectory(const std::string& path, TPrivateDirectoryAccess access);

}  // namespace cm
