// The library's debug trace.
//
// Each call carries a level; only levels in the trace mask are formatted (at most 8192 characters) and written
// with OutputDebugStringW. The mask is 0 and nothing changes it, so the library writes no trace and a trace call
// costs one test.
#pragma once

#include "platform/base/types.h"

constexpr DWORD TRACE_WALK = 0x1;
constexpr DWORD TRACE_WARNING = 0x4;
constexpr DWORD TRACE_ERROR = 0x8;
constexpr DWORD TRACE_JOB = 0x10;
constexpr DWORD TRACE_DIRECTORY = 0x20;
constexpr DWORD TRACE_FILE = 0x40;
constexpr DWORD TRACE_TREE = 0x80;

extern const DWORD g_traceMask;

void trace_write(DWORD level, const WCHAR* format, ...);

#define trace(level, ...)                                                                                              \
    do {                                                                                                               \
        if ((level)&g_traceMask)                                                                                       \
            trace_write((level), __VA_ARGS__);                                                                         \
    } while (0)
