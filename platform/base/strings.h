// UTF-16 strings: the lstr* and wcs* families, case rules and the one conversion point to the host.
//
// Text is UTF-16 in memory as on Windows. Case-insensitive comparison folds with the simple Unicode
// upper-case mapping, as the file system and lstrcmpiW do for the characters the system uses. The host
// boundary (file names, environment, sockets) speaks UTF-8: Utf16ToUtf8 and Utf8ToUtf16 are the only
// converters. Unpaired surrogates survive a round trip (encoded as WTF-8) so that no name is lost.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <string_view>

int lstrlenW(LPCWSTR s);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
// Copies at most max-1 characters and always terminates (max > 0), as Windows does.
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max);
LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
LPWSTR CharUpperW(LPWSTR s);
LPWSTR CharLowerW(LPWSTR s);
LPWSTR CharNextW(LPCWSTR s);
LPWSTR CharPrevW(LPCWSTR start, LPCWSTR s);

size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(WCHAR* s, WCHAR c);
const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub);
WCHAR* wcsstr(WCHAR* s, const WCHAR* sub);
WCHAR* _wcsupr(WCHAR* s);
WCHAR* _wcslwr(WCHAR* s);
long wcstol(const WCHAR* s, WCHAR** end, int base);
unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base);
long long _wcstoi64(const WCHAR* s, WCHAR** end, int base);
int _wtoi(const WCHAR* s);
long long _wtoi64(const WCHAR* s);
double _wtof(const WCHAR* s);
WCHAR towupper_w(WCHAR c);
WCHAR towlower_w(WCHAR c);
int iswspace_w(WCHAR c);
int iswdigit_w(WCHAR c);
int iswalpha_w(WCHAR c);

namespace platform {

// Conversion at the host boundary. Invalid input never throws: a bad UTF-8 byte becomes U+FFFD, a lone
// surrogate is carried through as WTF-8 so that host names with any content round-trip exactly.
std::string Utf16ToUtf8(std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);
// Convenience for possibly-null C strings.
std::string Utf16ToUtf8(LPCWSTR s);

// Case-insensitive comparison and folding of one character or a whole string (simple upper-case mapping).
WCHAR FoldUpper(WCHAR c);
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Copies `src` into dst[capacity] with truncation; always terminates when capacity > 0. Returns the number of
// characters written, not counting the terminator.
size_t CopyTruncated(WCHAR* dst, size_t capacity, std::u16string_view src);

} // namespace platform

// MultiByteToWideChar / WideCharToMultiByte for CP_ACP (taken as UTF-8 on this host), CP_UTF8 and Windows-1252
// (CP_WINDOWS_1252 of codepage.h, the C runtime's fixed ANSI code page).
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR defaultChar,
                        LPBOOL usedDefault);
