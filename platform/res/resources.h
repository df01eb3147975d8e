// Resources: FindResourceW and friends, LoadStringW, and the version-information functions.
//
// Stands in for the resource section of a Windows module. A program's resources are written in a resource script
// under resources/ and compiled at build time into a table linked into the program (tools/rescomp); a language
// library is a shared object built from a script of its own and loaded with LoadLibraryW. The module handle
// chooses the table: null or the program's own handle means the program, any other handle a loaded library.
// Lookups behave as on Windows: names and types are integers (MAKEINTRESOURCE) or case-insensitive strings
// ("#300" names the integer 300), strings live in blocks of sixteen, LoadStringW truncates to the buffer and
// hands out a read-only pointer into the table when the buffer size is 0, LoadResource/LockResource give the
// data in place (it is never freed). GetFileVersionInfoW reads the version record from a module file on disk.
#pragma once

#include "platform/base/types.h"

#ifndef MAKEINTRESOURCEW
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#endif
#ifndef MAKEINTRESOURCE
#define MAKEINTRESOURCE(i) MAKEINTRESOURCEW(i)
#endif
#ifndef IS_INTRESOURCE
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#endif

#define RT_CURSOR MAKEINTRESOURCEW(1)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_FONTDIR MAKEINTRESOURCEW(7)
#define RT_FONT MAKEINTRESOURCEW(8)
#define RT_ACCELERATOR MAKEINTRESOURCEW(9)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_MESSAGETABLE MAKEINTRESOURCEW(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCEW(12)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define RT_HTML MAKEINTRESOURCEW(23)
#define RT_MANIFEST MAKEINTRESOURCEW(24)

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
// Calls `callback` once for each language in which the module carries the resource, in the module's order. FALSE
// when the module, the type or the name is missing (ERROR_RESOURCE_DATA_NOT_FOUND, _TYPE_NOT_FOUND, _NAME_NOT_FOUND)
// and when the callback stops the enumeration by answering FALSE (ERROR_RESOURCE_ENUM_USER_STOP). The callback
// receives the type and name as the caller passed them.
using ENUMRESLANGPROCW = BOOL (*)(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param);
BOOL EnumResourceLanguagesW(HMODULE module, LPCWSTR type, LPCWSTR name, ENUMRESLANGPROCW callback, LONG_PTR param);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL resourceData);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL resourceData);

// Copies at most bufferMax-1 characters and terminates; returns the characters copied (0 when the string does not
// exist, the buffer then holds an empty string). With bufferMax 0 the buffer receives a read-only pointer to the
// text in the table (not terminated) and the result is its length.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

struct VS_FIXEDFILEINFO {
    DWORD dwSignature; // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BDu;

// The version record's resource id, and the numbers of its fixed part: file flags, operating system, file type and
// subtype.
constexpr WORD VS_VERSION_INFO = 1;
constexpr DWORD VS_FFI_FILEFLAGSMASK = 0x0000003F;
constexpr DWORD VS_FF_DEBUG = 0x00000001;
constexpr DWORD VS_FF_PRERELEASE = 0x00000002;
constexpr DWORD VS_FF_PATCHED = 0x00000004;
constexpr DWORD VS_FF_PRIVATEBUILD = 0x00000008;
constexpr DWORD VS_FF_INFOINFERRED = 0x00000010;
constexpr DWORD VS_FF_SPECIALBUILD = 0x00000020;
constexpr DWORD VOS_UNKNOWN = 0x00000000;
constexpr DWORD VOS__WINDOWS32 = 0x00000004;
constexpr DWORD VOS_NT = 0x00040000;
constexpr DWORD VOS_NT_WINDOWS32 = VOS_NT | VOS__WINDOWS32;
constexpr DWORD VFT_UNKNOWN = 0x00000000;
constexpr DWORD VFT_APP = 0x00000001;
constexpr DWORD VFT_DLL = 0x00000002;
constexpr DWORD VFT_DRV = 0x00000003;
constexpr DWORD VFT_FONT = 0x00000004;
constexpr DWORD VFT2_UNKNOWN = 0x00000000;
constexpr DWORD VFT2_DRV_SYSTEM = 0x00000007;

// Size of the file's version record, 0 (ERROR_RESOURCE_TYPE_NOT_FOUND, or the file's open error) when it has none.
DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD length, LPVOID data);
// Paths: "\" the VS_FIXEDFILEINFO; "\VarFileInfo\Translation" the language and code-page pairs;
// "\StringFileInfo\<lang><codepage>\<name>" a string (length in characters, including the terminator).
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length);
