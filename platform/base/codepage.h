// The ANSI code page of the C runtime's multibyte conversions (wcstombs, mbstowcs): fixed as Windows-1252, the
// code page of a Western-European Windows, whatever the host's locale says.
//
// What it does the same: characters of Windows-1252 become their one byte and back. The five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same value,
// as Windows' own conversion makes them, so every byte string of the code page converts to wide text and back one
// for one: ciphered bytes survive a trip through wide text. The table is built once through iconv.
//
// Where it differs: the conversions ignore setlocale; a wide character outside the code page fails the whole
// conversion ((size_t)-1), as the runtime's does in its default locale, instead of becoming a default character.
#pragma once

#include "platform/base/types.h"

#include <cstddef>
#include <string>
#include <string_view>

// The code page's number for MultiByteToWideChar and WideCharToMultiByte.
constexpr UINT CP_WINDOWS_1252 = 1252;

// Converts the zero-terminated wide text into at most `count` bytes of `dst` (terminated when room is left). The
// bytes written without the terminator, or (size_t)-1 when a character has no byte in the code page. A null `dst`
// only counts.
size_t wcstombs(char* dst, const char16_t* src, size_t count);
// Converts the zero-terminated byte string into at most `count` wide characters of `dst` (terminated when room is
// left). The characters written without the terminator; a null `dst` only counts.
size_t mbstowcs(char16_t* dst, const char* src, size_t count);

namespace platform {

// One wide character per byte, and back; the second fails (false) for a character outside the code page.
std::u16string Windows1252ToUtf16(std::string_view bytes);
bool Utf16ToWindows1252(std::u16string_view text, std::string& bytes);

} // namespace platform
