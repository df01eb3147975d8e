// CDiskDrive: what a drive-letter volume (CLogicalDrive) and a physical disk (CPhysicalDrive) have in common: the
// device record filled by the enumeration, the open device handle and the handle's device-change registration.
//
// The drive monitor (CDiskDriveMonitor) creates, owns and deletes every drive object and tells a disk from a volume
// with IsKindOf. GUI thread only.
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/String.h"
#include "platform/devices/dbt.h"
#include "platform/kernel/ioctl.h"

// Flags of the drive monitor, which the enumeration of disks and volumes follows.
constexpr DWORD DRIVE_MONITOR_VOLUMES = 0x02;      // drive letters are enumerated and tracked
constexpr DWORD DRIVE_MONITOR_ASK_OWNER = 0x08;    // a removal request is put to the owner window
constexpr DWORD DRIVE_MONITOR_NO_REMOVABLE = 0x10; // removable media (disks and letters) are left out

// The device record: filled by the enumeration and copied whole into a new drive object.
struct DiskDriveInfo {
    HANDLE hDevice = INVALID_HANDLE_VALUE; // the open device; INVALID_HANDLE_VALUE when closed
    HDEVNOTIFY hNotify = nullptr;          // RegisterDeviceNotificationW for hDevice; null when none
    DWORD dwDeviceNumber = 0;              // the disk number (for a volume, of the disk that holds it)
    DWORD dwDeviceType = 0;                // FILE_DEVICE_DISK, or FILE_DEVICE_VIRTUAL_DISK for a secure disk
    ULONGLONG ullCapacity = 0;             // cylinders x tracks per cylinder x sectors per track x bytes per sector
    DISK_GEOMETRY geometry{};
    DWORD dwRemovable = 0; // set only when the storage-property query ran
    DWORD dwSpare = 0;
};

class CDiskDrive : public CObject {
    DECLARE_DYNAMIC(CDiskDrive)
public:
    CDiskDrive() = default;
    explicit CDiskDrive(const DiskDriveInfo& info) : m_info(info) {}
    // Unregisters the handle's notification and closes the handle.
    ~CDiskDrive() override;
    CDiskDrive(const CDiskDrive&) = delete;
    CDiskDrive& operator=(const CDiskDrive&) = delete;

    // The disk number of a physical disk, the letter index of a volume.
    virtual int GetIndex() const = 0;
    // Opens the device again and registers its handle with the window; the new notification handle (0 when none).
    virtual HDEVNOTIFY Open(HWND hNotifyWnd) = 0;
    // The parent id of a physical disk (its USB bridge's id), the disk id of a volume.
    virtual CString GetName() const = 0;

    // Drops the old registration and handle, opens `lpszPath` (a physical disk exclusively, anything else as a
    // volume for queries) and, when that worked, registers the handle with the window. Returns the notification
    // handle (0 when none).
    HDEVNOTIFY OpenDevice(LPCTSTR lpszPath, HWND hNotifyWnd);
    // RegisterDeviceNotificationW with a handle filter for the device handle; whether a registration was made.
    BOOL RegisterHandleChange(HWND hWnd);
    BOOL UnRegisterHandleChange();
    void CloseDevice();

    DWORD GetDeviceType() const { return m_info.dwDeviceType; }
    HANDLE GetHandle() const { return m_info.hDevice; }
    HDEVNOTIFY GetNotifyHandle() const { return m_info.hNotify; }
    DWORD GetDeviceNumber() const { return m_info.dwDeviceNumber; }
    const DiskDriveInfo& GetInfo() const { return m_info; }

    // The two ways a drive is opened: a physical disk for reading and writing without sharing (or, when that is
    // denied, for queries only); a volume for queries only, with write sharing.
    static HANDLE OpenPhysical(LPCTSTR lpszPath);
    static HANDLE OpenVolume(LPCTSTR lpszPath);

protected:
    DiskDriveInfo m_info;
};
