// FormatMessageW, with the system's message texts, and the local heap it hands buffers out from.
//
// The same as Windows: FORMAT_MESSAGE_FROM_SYSTEM takes the English text of a Win32 error code (each text ends with
// CR LF), FORMAT_MESSAGE_FROM_STRING a text of the caller's; inserts %1 to %99 take arguments from a va_list or,
// with FORMAT_MESSAGE_ARGUMENT_ARRAY, from an array of DWORD_PTR, each formatted by its "!printf-format!" (a wide
// string "!s!" by default); %0 ends the text without its line break, %n is a hard line break, %r a carriage return,
// %t a tab and %%, %. and %! stand for the character. FORMAT_MESSAGE_IGNORE_INSERTS copies inserts unchanged. The
// low byte of the flags limits the line width: 0 keeps the text's lines, FORMAT_MESSAGE_MAX_WIDTH_MASK joins them
// with blanks (hard breaks stay), any other value wraps at that many characters. The result is the number of
// characters stored without the terminator, 0 on failure with the last error set: ERROR_MR_MID_NOT_FOUND for a code
// without a text, ERROR_RESOURCE_LANG_NOT_FOUND for a language other than English or neutral,
// ERROR_INSUFFICIENT_BUFFER when the text does not fit. With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument
// points to a pointer that receives a LocalAlloc buffer of at least `size` characters; free it with LocalFree.
//
// Where it differs: modules carry no message tables here (the resource compiler writes none), so
// FORMAT_MESSAGE_FROM_HMODULE finds nothing in a module: with FORMAT_MESSAGE_FROM_SYSTEM the system's texts answer,
// without it the call fails with ERROR_RESOURCE_TYPE_NOT_FOUND. Floating-point inserts are not offered.
#pragma once

#include "platform/base/types.h"

#include <cstdarg>
#include <string>

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

namespace platform {
// The system's text for an error code with the code beside it, as the layer's own programs print it:
// "The system cannot find the file specified. (error 2)".
std::string ErrorText(DWORD code);
} // namespace platform

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     va_list* arguments);

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;
// Fixed blocks only: the handle is the block's address, and LocalFree takes it as any pointer. LocalFree answers
// null on success.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(LPVOID memory);
