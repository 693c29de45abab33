// A private working directory under a predictable name: a new one, that nobody else could have
// redirected or seeded, held open while it is in use and emptied while still held.
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

// How many names CreatePrivateDirectory tries: base, then base_2 to base_<this>.
constexpr int PrivateDirectoryNameTries = 1000;

// Makes a new private directory and returns the handle that holds it: while the handle is open
// the directory can be neither removed nor renamed by anybody else, so nobody can put a link in
// its place. The name is base (no trailing backslash needed), or the first of base_2, base_3, ...
// at which nothing exists; `made` gets it (without a trailing backslash). Nothing found at a name
// is used, changed or walked, whatever it is (a directory somebody made in advance, a file, a
// link): a predictable name may have been prepared by another program. The directory is created
// and opened in one step (fail-if-exists: there is no moment in which it exists unheld), with a
// protected access list of its own that admits only `access`'s principals.
// Raises "Cannot create a private directory at '%s': the names up to '%s' are all taken" when
// no name of the `tries` is free, and "Cannot create directory '%s'" with the system text when
// the system refuses for another reason.
UniqueFileHandle CreatePrivateDirectory(const std::string& base, TPrivateDirectoryAccess access, std::string& made,
                                        int tries = PrivateDirectoryNameTries);

// Removes a directory that CreatePrivateDirectory made: first its contents (links inside removed,
// never followed) while the handle still keeps the directory in its place, then, with the handle
// closed, the empty directory. Returns false when something could not be removed (a file still in
// use); what could be removed is gone then.
bool RemovePrivateDirectory(UniqueFileHandle held, const std::string& path) noexcept;

}  // namespace cm
