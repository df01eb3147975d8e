// The printf family with Windows semantics, for wide and narrow text.
//
// One formatter serves CString::Format, wsprintfW, swprintf and every trace. As on Windows, in a wide format
// %s and %c take wide arguments and %S and %C the other width (narrow char strings); in a narrow format it is
// the reverse. %hs/%ls force the width. Integer conversions %d %i %u %x %X %o with flags (- + space # 0),
// width and precision (also '*'), the size prefixes h, l, ll, I64, I32 and I; %p, %f %e %g %E %G, %%.
// A null string argument prints "(null)". wsprintfW truncates at 1024 characters as Windows does.
#pragma once

#include "platform/base/types.h"

#include <cstdarg>
#include <string>

namespace platform {

std::u16string FormatV(const WCHAR* format, va_list args);
std::u16string Format(const WCHAR* format, ...);
std::string FormatNarrowV(const char* format, va_list args);

} // namespace platform

// Returns the number of characters written (not counting the terminator); output is cut at 1024 characters.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);
// Writes at most count characters including the terminator; returns -1 when the text did not fit (the buffer is
// then filled and terminated), else the length.
int swprintf_s(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
