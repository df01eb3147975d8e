// System facts: the Windows version, the user-interface language, the computer's and the user's names.
//
// The version is an emulated one that the machine folder sets, so that every version test of the programs can be
// driven: the file "version" in the machine folder holds "key=value" lines, any of
//     platform=2  major=6  minor=0  build=6002  csd=Service Pack 2  spmajor=2  spminor=0  suite=0x100  product=1
// (those are the defaults: Windows Vista SP2, the newest version the programs know). platform is 1 for the
// Windows 9x family, 2 for NT, 3 for CE; numbers may be decimal or 0x-hexadecimal. On the 9x family the build
// number's high word holds the major and minor version and GetVersion sets the high bit, as Windows did. A file
// that cannot be parsed is reported on standard error and the defaults are used. The file "uilanguage" holds the
// language id GetUserDefaultUILanguage returns (default 0x0409).
//
// The computer name is the host name up to its first dot, upper-cased and cut to 15 characters, as a NetBIOS name;
// the user name is the host user's login name.
#pragma once

#include "platform/base/types.h"

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
using LPOSVERSIONINFOW = OSVERSIONINFOW*;

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
using LPOSVERSIONINFOEXW = OSVERSIONINFOEXW*;

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr DWORD VER_PLATFORM_WIN32_CE = 3;
constexpr BYTE VER_NT_WORKSTATION = 1;
constexpr BYTE VER_NT_DOMAIN_CONTROLLER = 2;
constexpr BYTE VER_NT_SERVER = 3;

// dwOSVersionInfoSize must be the size of either record (ERROR_INSUFFICIENT_BUFFER otherwise).
BOOL GetVersionExW(LPOSVERSIONINFOW info);
// Low byte major, next byte minor, high word the build (NT) or 0x8000 and the build's low bits (9x).
DWORD GetVersion();
LANGID GetUserDefaultUILanguage();

// The Windows folder: the first line of the machine folder's file "windowsdir" (a Windows path), else "C:\Windows".
// Nothing of the system's own lives there unless a machine puts it there. The length copied without the
// terminator, or, when `size` is too small, the room needed with it.
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);

constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
// `*size`: in, the room in characters; out, the length without the terminator, or on ERROR_BUFFER_OVERFLOW the
// room needed with it.
BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);
// `*size`: in, the room in characters; out, the length with the terminator, also on ERROR_INSUFFICIENT_BUFFER.
BOOL GetUserNameW(LPWSTR buffer, LPDWORD size);
