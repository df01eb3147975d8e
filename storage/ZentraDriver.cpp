#include "storage/ZentraDriver.h"

#include "platform/afx/afx.h"
#include "platform/base/errors.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/services.h"
#include "platform/res/resources.h"

#include <memory>

namespace {

struct ServiceHandleCloser {
    void operator()(SC_HANDLE__* handle) const { ::CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<SC_HANDLE__, ServiceHandleCloser>;

HANDLE CreateDriverFile(LPCTSTR lpszPath) {
    return ::CreateFileW(lpszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes the resource "DRIVER" 300 to "<service>.sys" in the temporary folder and opens it again for reading with
// delete-on-close. Returns that handle (the file goes when it is closed) and the file's path, or
// INVALID_HANDLE_VALUE.
HANDLE DropDriverFile(LPCTSTR lpszServiceName, CString& strPath) {
    HRSRC hResource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_ZENTRA_DRIVER), u"DRIVER");
    HGLOBAL hData = hResource ? ::LoadResource(nullptr, hResource) : nullptr;
    const void* pData = hData ? ::LockResource(hData) : nullptr;
    const DWORD dwSize = hResource ? ::SizeofResource(nullptr, hResource) : 0;
    if (!pData || dwSize == 0) {
        ::SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    WCHAR folder[MAX_PATH + 1] = {};
    if (!::GetTempPathW(MAX_PATH + 1, folder))
        return INVALID_HANDLE_VALUE;
    strPath.Format(u"%s%s.sys", folder, lpszServiceName);
    HANDLE hFile = INVALID_HANDLE_VALUE;
    // The temporary folder is used when it lies on a fixed drive; then without that condition; and last under a
    // unique temporary name.
    const WCHAR root[] = {folder[0], u':', u'\\', 0};
    if (::GetDriveTypeW(root) == DRIVE_FIXED)
        hFile = CreateDriverFile(strPath);
    if (hFile == INVALID_HANDLE_VALUE)
        hFile = CreateDriverFile(strPath);
    if (hFile == INVALID_HANDLE_VALUE) {
        WCHAR unique[MAX_PATH + 1] = {};
        if (!::GetTempFileNameW(folder, lpszServiceName, 0, unique))
            return INVALID_HANDLE_VALUE;
        strPath = unique;
        hFile = CreateDriverFile(strPath);
        if (hFile == INVALID_HANDLE_VALUE)
            return INVALID_HANDLE_VALUE;
    }
    DWORD dwWritten = 0;
    const BOOL bWritten = ::WriteFile(hFile, pData, dwSize, &dwWritten, nullptr) && dwWritten == dwSize;
    const DWORD dwError = ::GetLastError();
    ::CloseHandle(hFile);
    if (!bWritten) {
        ::DeleteFileW(strPath);
        ::SetLastError(dwError ? dwError : ERROR_WRITE_FAULT);
        return INVALID_HANDLE_VALUE;
    }
    hFile = ::CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        const DWORD dwOpenError = ::GetLastError();
        ::DeleteFileW(strPath);
        ::SetLastError(dwOpenError);
    }
    return hFile;
}

} // namespace

BOOL InstallDriver(LPCTSTR lpszServiceName) {
    CString strPath;
    HANDLE hFile = DropDriverFile(lpszServiceName, strPath);
    if (hFile == INVALID_HANDLE_VALUE) {
        TRACE(u"[%x] Failed to drop resource\n", ::GetLastError());
        return FALSE;
    }
    BOOL bResult = FALSE;
    DWORD dwError = ERROR_SUCCESS;
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager) {
        ServiceHandle service(::CreateServiceW(manager.get(), lpszServiceName, lpszServiceName, SERVICE_ALL_ACCESS,
                                               SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                               strPath, nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!service && ::GetLastError() == ERROR_SERVICE_EXISTS)
            service.reset(::OpenServiceW(manager.get(), lpszServiceName, SERVICE_ALL_ACCESS));
        if (!service) {
            dwError = ::GetLastError();
            TRACE(u"[%x] Failed to install %s\n", dwError, lpszServiceName);
        } else if (::StartServiceW(service.get(), 0, nullptr) || ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) {
            bResult = TRUE;
        } else {
            dwError = ::GetLastError();
            TRACE(u"[%d] Failed to start %s\n", dwError, lpszServiceName);
            ::DeleteService(service.get());
        }
    } else {
        dwError = ::GetLastError();
    }
    if (!bResult)
        TRACE(u"Fail to register driver with code %d!\n", dwError);
    // The driver is loaded (or not): its file may go.
    ::CloseHandle(hFile);
    ::SetLastError(dwError);
    return bResult;
}

DWORD SendControl(DWORD dwCode, const void* pInput, DWORD dwInputLength, void* pOutput, DWORD dwOutputLength) {
    HANDLE hControl = ::CreateFileW(ZENTRA_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hControl == INVALID_HANDLE_VALUE) {
        const DWORD dwError = ::GetLastError();
        TRACE(u"Error: Fail to open Zentra controller device with code %d!\n", dwError);
        return dwError;
    }
    DWORD dwReturned = 0;
    DWORD dwError = ERROR_SUCCESS;
    if (!::DeviceIoControl(hControl, dwCode, const_cast<void*>(pInput), dwInputLength, pOutput, dwOutputLength,
                           &dwReturned, nullptr)) {
        dwError = ::GetLastError();
        TRACE(u"Error: DeviceIoControl return code %d!\n", dwError);
    }
    ::CloseHandle(hControl);
    return dwError;
}
