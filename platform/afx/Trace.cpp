#include "platform/afx/afx.h"

#include <cstdarg>

void AfxTrace(LPCTSTR lpszFormat, ...) {
    if (!lpszFormat)
        return;
    va_list args;
    va_start(args, lpszFormat);
    std::u16string text = platform::FormatV(lpszFormat, args);
    va_end(args);
    OutputDebugStringW(text.c_str());
}
