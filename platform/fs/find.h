// Directory listing: FindFirstFileW, FindNextFileW, FindClose.
//
// Patterns use '*' and '?' on the last component as Windows does ("*.*" matches every name, also names
// without a dot); matching is case-insensitive. A directory listing includes "." and ".." first when the
// pattern matches them, as Windows lists them for every folder but a drive root. A pattern naming one file
// finds that file. An empty result fails with ERROR_FILE_NOT_FOUND, a missing folder with
// ERROR_PATH_NOT_FOUND; the end of a listing with ERROR_NO_MORE_FILES.
#pragma once

#include "platform/base/types.h"

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW findData);
BOOL FindClose(HANDLE find);

namespace platform::fs {

// Windows wildcard match of one name ('*' and '?', case-insensitive, "*.*" matching names without a dot).
bool MatchPattern(const WCHAR* pattern, const WCHAR* name);

} // namespace platform::fs
