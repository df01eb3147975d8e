// A whole folder at once: every entry's name and attributes, as FindFirstFileW and FindNextFileW report them.
//
// For a view that shows every entry of a folder of thousands: the entries' attributes are read by a few threads
// side by side instead of one after the other, and the listing is complete when the call returns.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

namespace platform::fs {

struct FolderEntry {
    std::u16string name;
    DWORD attributes = 0;
};

// The entries of `folder` (a Windows path) in the host's order, "." and ".." left out. An entry that goes away
// while it is listed is left out. False with the last error set as FindFirstFileW sets it for "folder\*" when
// the folder cannot be listed (ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ...); an empty folder gives true and no
// entries.
bool ListFolder(LPCWSTR folder, std::vector<FolderEntry>& entries);

} // namespace platform::fs
