#include "copylib/Trace.h"

#include "platform/base/format.h"
#include "platform/base/module.h"

#include <cstdarg>

const DWORD g_traceMask = 0;

void trace_write(DWORD level, const WCHAR* format, ...) {
    if (!(level & g_traceMask))
        return;
    constexpr size_t kMaxTrace = 8192;
    WCHAR text[kMaxTrace + 1];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, kMaxTrace + 1, format, args);
    va_end(args);
    text[kMaxTrace] = 0;
    OutputDebugStringW(text);
}
