#include "shared/DiskDrive.h"

#include "shared/PhysicalDrive.h"

#include "platform/base/errors.h"
#include "platform/fs/files.h"

IMPLEMENT_DYNAMIC(CDiskDrive, CObject)

CDiskDrive::~CDiskDrive() {
    UnRegisterHandleChange();
    CloseDevice();
}

HANDLE CDiskDrive::OpenPhysical(LPCTSTR lpszPath) {
    HANDLE hDevice = ::CreateFileW(lpszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (hDevice == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        hDevice = ::CreateFileW(lpszPath, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    return hDevice;
}

HANDLE CDiskDrive::OpenVolume(LPCTSTR lpszPath) {
    return ::CreateFileW(lpszPath, 0, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HDEVNOTIFY CDiskDrive::OpenDevice(LPCTSTR lpszPath, HWND hNotifyWnd) {
    UnRegisterHandleChange();
    CloseDevice();
    m_info.hDevice = IsKindOf(RUNTIME_CLASS(CPhysicalDrive)) ? OpenPhysical(lpszPath) : OpenVolume(lpszPath);
    if (m_info.hDevice != INVALID_HANDLE_VALUE)
        RegisterHandleChange(hNotifyWnd);
    return m_info.hNotify;
}

BOOL CDiskDrive::RegisterHandleChange(HWND hWnd) {
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = m_info.hDevice;
    m_info.hNotify = ::RegisterDeviceNotificationW(hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return m_info.hNotify != nullptr;
}

BOOL CDiskDrive::UnRegisterHandleChange() {
    if (!m_info.hNotify)
        return FALSE;
    const BOOL bDone = ::UnregisterDeviceNotification(m_info.hNotify);
    m_info.hNotify = nullptr;
    return bDone;
}

void CDiskDrive::CloseDevice() {
    if (m_info.hDevice && m_info.hDevice != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_info.hDevice);
    m_info.hDevice = INVALID_HANDLE_VALUE;
}
