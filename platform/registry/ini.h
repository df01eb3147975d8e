// Initialisation files: GetPrivateProfileStringW, GetPrivateProfileIntW and WritePrivateProfileStringW.
//
// The same as Windows: sections and keys compare without regard to case; blanks around names and values are
// dropped and a value in matching quotes loses them; a missing file or key gives the default (with trailing blanks
// removed). Return values follow the Windows rules: a truncated value returns size - 1, a truncated list of
// section or key names (null section or key) returns size - 2 and ends with two zero characters. Writing creates
// the file, the section and the key as needed; a null value deletes the key, a null key deletes the section.
// Files may be ANSI (UTF-8 on this host) or UTF-16LE with a byte-order mark, and a write keeps the file's
// encoding; lines it does not change keep their bytes exactly.
//
// Differs: a write replaces the file whole or not at all (platform/fs/wholefile.h: a writer that dies leaves the
// old file and nothing else), and writers in different processes are serialised by a lock in the machine folder. There
// is no cache and no mapping of names into the registry. A file name without a folder is taken in the current
// directory, not in the Windows folder. Lines starting with ';' are comments: never listed as keys, kept on write.
#pragma once

#include "platform/base/types.h"

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size,
                               LPCWSTR fileName);
// The value's leading decimal number (an optional sign, then digits; 0 when it has none), or the default when
// the key is missing.
UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue, LPCWSTR fileName);
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName);
