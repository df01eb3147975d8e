// Modules (shared objects), debug output and the program's own file name.
//
// LoadLibraryW loads a host shared object named by a Windows path (translated by the file layer's path
// mapper when one is registered, else taken as a host path) and GetProcAddress finds exports by name.
// A name without a folder is searched beside the program, then by the host's loader rules. HMODULE null in
// GetModuleFileNameW and GetModuleHandleW means the program itself. OutputDebugStringW writes to standard error
// only when the environment variable WINLAYER_DEBUG is set, so debug traces cost nothing otherwise.
//
// The system modules USER32.DLL, KERNEL32.DLL, FMIFS.DLL and SHELL32.DLL (any case, with or without ".dll") are
// always there: their handle finds, through GetProcAddress, the few functions that programs look up at run time
// rather than link (SetLayeredWindowAttributes and GetLayeredWindowAttributes, GetUserDefaultUILanguage, FormatEx
// and its two companions, and SHChangeNotifyRegister and SHChangeNotifyDeregister, also by their ordinals 2 and 4),
// wherever the layer that offers them is linked into the process; anything else is ERROR_PROC_NOT_FOUND. A module
// of the same name that
// the program loaded itself, or that lies beside the program, takes precedence while it is loaded. Freeing a
// system module does nothing.
#pragma once

#include "platform/base/types.h"

#include <string>

HMODULE LoadLibraryW(LPCWSTR fileName);
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

void OutputDebugStringW(LPCWSTR text);
void OutputDebugStringA(LPCSTR text);

namespace platform {

// Host path of the module (null: the program), for layers that look for files beside the program.
std::string ModuleHostPath(HMODULE module);

// The file layer registers the translation of Windows paths to host paths here, so that base does not depend
// on it. Returns false when the path has no host counterpart.
using PathMapper = bool (*)(const std::u16string& windowsPath, std::string& hostPath);
void SetPathMapper(PathMapper mapper);
// A layer that offers a function of a system module registers it here (from a static initialiser), so that
// GetProcAddress finds it wherever that layer is linked, whether or not the program exports its symbols.
void RegisterSystemExport(const char* name, void* address);

// And the reverse, for GetModuleFileNameW: host path to Windows path.
using ReversePathMapper = bool (*)(const std::string& hostPath, std::u16string& windowsPath);
void SetReversePathMapper(ReversePathMapper mapper);

} // namespace platform
