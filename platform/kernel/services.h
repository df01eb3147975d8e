// The service control manager for kernel drivers: install, start, stop, query and delete a driver service.
//
// Services are kept in the machine folder (service_store.h); starting a kernel-driver service loads its module
// into the kernel host (host.h), which runs its DriverEntry, and stopping it runs the driver's unload routine.
// Only kernel drivers (SERVICE_KERNEL_DRIVER) can be started; the binary path is a Windows path of a shared
// object with an exported DriverEntry. Handles are checked: a service handle passed where the manager's is
// expected fails with ERROR_INVALID_HANDLE. Errors are those a client expects: ERROR_SERVICE_EXISTS,
// ERROR_SERVICE_DOES_NOT_EXIST, ERROR_SERVICE_ALREADY_RUNNING, ERROR_SERVICE_NOT_ACTIVE,
// ERROR_SERVICE_MARKED_FOR_DELETE, ERROR_INVALID_SERVICE_CONTROL; a driver whose entry fails reports the
// Win32 form of its status.
#pragma once

#include "platform/base/types.h"

DECLARE_HANDLE(SC_HANDLE);
using LPSC_HANDLE = SC_HANDLE*;

constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;

constexpr DWORD SERVICE_KERNEL_DRIVER = 0x00000001;
constexpr DWORD SERVICE_FILE_SYSTEM_DRIVER = 0x00000002;
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x00000010;

constexpr DWORD SERVICE_BOOT_START = 0;
constexpr DWORD SERVICE_SYSTEM_START = 1;
constexpr DWORD SERVICE_AUTO_START = 2;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_DISABLED = 4;

constexpr DWORD SERVICE_ERROR_IGNORE = 0;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;

constexpr DWORD SERVICE_CONTROL_STOP = 0x00000001;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 0x00000004;

constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;

constexpr DWORD SERVICE_ACCEPT_STOP = 0x00000001;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess);
SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName, DWORD desiredAccess,
                         DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName,
                         LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                         LPCWSTR password);
SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess);
BOOL StartServiceW(SC_HANDLE service, DWORD argumentCount, LPCWSTR* arguments);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL DeleteService(SC_HANDLE service);
BOOL CloseServiceHandle(SC_HANDLE handle);
