// Environment variables and the expansion of "%NAME%" references.
//
// The same as Windows: names compare without regard to case; ExpandEnvironmentStringsW replaces every %NAME% of a
// defined variable and leaves a reference to an undefined one as it is (scanning goes on after its closing '%'),
// and returns the size needed including the terminator. The variables are the host process's environment (set
// here, they reach child processes), converted between UTF-8 and UTF-16 at this boundary.
//
// Differs: the host environment holds no Windows variables of its own (SystemRoot, USERPROFILE, ...); only what
// the host or a caller defines exists.
#pragma once

#include "platform/base/types.h"

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
// Returns the value's length; when it does not fit, the size needed including the terminator; 0 with
// ERROR_ENVVAR_NOT_FOUND when the variable does not exist.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
// A null value removes the variable.
BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);
