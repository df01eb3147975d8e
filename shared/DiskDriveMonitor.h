// CDiskDriveMonitor: the hidden window that keeps an up-to-date picture of the physical disks and drive letters.
//
// At creation it enumerates the disks of the disk interface class and the drive letters, registers for the disk
// interface's notices and for each drive's handle, and from then on follows every arrival, removal request, failed
// removal and completed removal, telling the registered windows through WM_DRIVE_NOTIFY. One window, the owner, is
// asked before a disk or volume may go and may refuse. The secure-disk manager derives from it; in the running
// program the monitor and the manager are one window.
//
// GUI thread only: the maps carry no lock. Codes 0 to 7 are sent, so a registered window handles them inside the
// monitor's own handling of the notice and may query the monitor then (for codes 2 and 3 the departing drive is
// still tracked).
#pragma once

#include "shared/DiskDrive.h"

#include "platform/afx/MapPtrToPtr.h"
#include "platform/afx/Wnd.h"
#include "platform/devices/dbt.h"

class CDiskDrive;
class CLogicalDrive;
class CPhysicalDrive;

// The drive-event broadcast: wParam the event code, lParam the letter index (volumes) or device number (disks).
constexpr UINT WM_DRIVE_NOTIFY = WM_USER + 2000;
enum DriveNotifyCode : WPARAM {
    DRIVE_NOTIFY_DISK_ADDED = 0,
    DRIVE_NOTIFY_VOLUME_ADDED = 1,
    DRIVE_NOTIFY_DISK_REMOVED = 2,
    DRIVE_NOTIFY_VOLUME_REMOVED = 3,
    DRIVE_NOTIFY_QUERY_REMOVE_DISK = 4,   // to the owner only; non-zero refuses
    DRIVE_NOTIFY_QUERY_REMOVE_VOLUME = 5, // to the owner only; non-zero refuses
    DRIVE_NOTIFY_DISK_REOPENED = 6,
    DRIVE_NOTIFY_VOLUME_REOPENED = 7,
    DRIVE_NOTIFY_SECURE_OPENED = 8, // posted by the secure-disk manager
    DRIVE_NOTIFY_SECURE_CLOSED = 9, // posted by the secure-disk manager
};

constexpr int DRIVE_MONITOR_LETTERS = 26;

class CDiskDriveMonitor : public CWnd {
    DECLARE_DYNAMIC(CDiskDriveMonitor)
public:
    CDiskDriveMonitor() = default;
    // Deletes every drive, empties the maps, unregisters the interface notice and destroys the window.
    ~CDiskDriveMonitor() override;

    // Creates the hidden window, registers for the disk interface's notices and enumerates disks and volumes.
    virtual BOOL Create(DWORD dwFlags);
    // Adds the window to the receivers of WM_DRIVE_NOTIFY (a known window gets the new value). TRUE.
    virtual BOOL RegisterWindow(CWnd* pWnd, DWORD_PTR dwValue);
    // Non-zero when the window was registered.
    virtual BOOL UnregisterWindow(CWnd* pWnd);

    void SetOwnerWindow(CWnd* pWnd) { m_hOwner = pWnd ? pWnd->GetSafeHwnd() : nullptr; }
    void ClearOwnerWindow() { m_hOwner = nullptr; }

    CLogicalDrive* GetLogicalDrive(int nIndex) const;
    CLogicalDrive* GetLogicalDriveByName(LPCTSTR lpszDrive) const;
    CPhysicalDrive* GetPhysicalDrive(int nNumber) const;
    DWORD GetLogicalDrivesBitmap() const;
    // Bit n for every physical disk numbered n below 32 (a disk of a higher number has no bit).
    DWORD GetPhysicalDrivesBitmap() const;
    int GetPhysicalDriveCount() const { return m_nPhysicalDrives; }
    int GetLogicalDriveCount() const { return m_nLogicalDrives; }
    int GetRegisteredWindowCount() const { return m_nWindows; }

    // The lowest letter from C to Z that the system does not report ("X:"); FALSE with "?:" when all are in use.
    static BOOL GetFreeDriveLetter(CString& strDrive);
    // Whether the present disk numbered `nNumber` hangs on the device `lpszId` (its parent id, compared without
    // regard to case as device ids are).
    static BOOL IsDriveParent(int nNumber, LPCTSTR lpszId);

    // Enumeration and tracking; see the implementation.
    enum { ENUM_ALL = 0, ENUM_BY_LINK = 2 };
    int GetPhysicalDrives(int nMode, LPCTSTR lpszLinkName);
    int EnumLogicalDrives(DWORD dwMask);
    BOOL CreateLogicalDrive(int nIndex, LPCTSTR lpszName);
    CLogicalDrive* RemoveLogicalDriveByIndex(int nIndex);
    void DestroyLogicalDriveByBitmap(DWORD dwMask);
    CDiskDrive* RemoveDiskDriveByNotifyHandle(HDEVNOTIFY hNotify, BOOL bNotify);
    BOOL ReOpenDiskDriveByNofityHandle(HDEVNOTIFY hNotify);
    CPhysicalDrive* RemovePhysicalDriveByLinkName(LPCTSTR lpszLinkName);

protected:
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);
    void OnEndSession(BOOL bEnding);

    // Sends WM_DRIVE_NOTIFY to every registered window.
    void SendNotify(WPARAM wCode, LPARAM lIndex);
    // Deletes every drive and empties the maps.
    void DeleteAllDrives();

    CMapPtrToPtr m_mapWnds;   // HWND -> caller's value
    CMapPtrToPtr m_mapDrives; // HDEVNOTIFY -> CDiskDrive*
    CLogicalDrive* m_pVolumes[DRIVE_MONITOR_LETTERS] = {};
    DWORD m_dwFlags = 0;
    HDEVNOTIFY m_hInterfaceNotify = nullptr;
    HWND m_hOwner = nullptr;
    int m_nPhysicalDrives = 0;
    int m_nLogicalDrives = 0;
    int m_nWindows = 0;

    DECLARE_MESSAGE_MAP()
};
