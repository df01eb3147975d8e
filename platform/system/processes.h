// Processes: starting programs, listing the running ones, their main module's name, ending them.
//
// Processes are host processes, found in /proc. A process handle is a kernel object of the base handle table:
// CloseHandle drops it, the wait functions wait for the process to end (as they do for the main-thread handle
// CreateProcessW returns), GetExitCodeProcess reports STILL_ACTIVE until then. A handle carries the access it was
// opened with: reading modules needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ, ending the process
// PROCESS_TERMINATE; another user's processes cannot be read or ended (ERROR_ACCESS_DENIED), as on Windows without
// privileges. CreateProcessW parses the command line by the Windows rules (the program path may be quoted or,
// unquoted, contain blanks that are tried one by one), maps the program and the current directory from Windows
// paths to host paths, and passes the arguments split as the C runtime would.
//
// Differs: a process's modules are the files mapped into it (/proc/PID/maps); the first is the program, and
// module handles are their load addresses. The base name is the host file name of the program: a program without
// an extension has none. A program name is found as given, else with ".exe" added when it has no extension, else
// without a trailing ".exe", so that host programs named either way start. CREATE_SUSPENDED is not offered. The exit
// code of a process that ends by a signal it was not sent by TerminateProcess is 128 plus the signal number; the exit
// code of a process this one did not start is known only when it ended by TerminateProcess from here or could
// still be read from /proc. The child gets its whole command line in the environment variable WINLAYER_CMDLINE
// (UTF-8), so that a child on this layer sees it unchanged.
#pragma once

#include "platform/base/types.h"

constexpr DWORD PROCESS_TERMINATE = 0x0001;
constexpr DWORD PROCESS_CREATE_THREAD = 0x0002;
constexpr DWORD PROCESS_VM_OPERATION = 0x0008;
constexpr DWORD PROCESS_VM_READ = 0x0010;
constexpr DWORD PROCESS_VM_WRITE = 0x0020;
constexpr DWORD PROCESS_DUP_HANDLE = 0x0040;
constexpr DWORD PROCESS_CREATE_PROCESS = 0x0080;
constexpr DWORD PROCESS_SET_QUOTA = 0x0100;
constexpr DWORD PROCESS_SET_INFORMATION = 0x0200;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_SUSPEND_RESUME = 0x0800;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD PROCESS_ALL_ACCESS = 0x1FFFFF;

// Fills `processIds` with up to `size` / 4 ids; `*bytesReturned` is the number of bytes filled.
BOOL EnumProcesses(DWORD* processIds, DWORD size, DWORD* bytesReturned);
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
// `*needed` is the size all module handles would take; the program comes first.
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
// A null module names the program. Copies at most size - 1 characters and a terminator; returns the length copied.
DWORD GetModuleBaseNameW(HANDLE process, HMODULE module, LPWSTR baseName, DWORD size);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
// The id of the process a handle names; 0 (ERROR_INVALID_HANDLE) for anything else.
DWORD GetProcessId(HANDLE process);

constexpr DWORD DEBUG_PROCESS = 0x00000001;
constexpr DWORD DEBUG_ONLY_THIS_PROCESS = 0x00000002;
constexpr DWORD DETACHED_PROCESS = 0x00000008;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD IDLE_PRIORITY_CLASS = 0x00000040;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x00000080;
constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x00000200;
constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400;
constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x00004000;
constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x00008000;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

// With STARTF_USESTDHANDLES the child's standard streams are the given file handles (platform/fs). An environment
// block is a sequence of "NAME=value" strings ending with an empty one, UTF-16 with CREATE_UNICODE_ENVIRONMENT,
// else 8-bit; null passes this process's environment.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION processInformation);
