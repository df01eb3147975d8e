// CZentraManager: the secure-disk manager: the drive monitor of the program extended with the virtual disk
// driver's client and up to 26 secure disks (one CZentraObj per drive letter).
//
// One object per process, embedded in the application object, whose start-up calls Init with the drive-monitor
// flags 0x1A. It installs and starts the driver, adopts the secure disks the driver already has mounted, creates,
// opens, closes and re-passwords secure disks, posts WM_DRIVE_NOTIFY 8 and 9 when a secure disk opens or closes
// (with the letter of the public partition on the same disk), and answers the rest of the program's questions about
// the enclosure's disk.
//
// The GUI thread owns it. OpenSecureDisk may also be called on another thread (the auto-mount thread): the mount
// itself runs there, while storing the new disk and asking the monitor for drives are handed to the window's own
// thread, so the maps are only ever touched there.
#pragma once

#include "shared/DiskDriveMonitor.h"

class CZentraObj;

// The enclosure's USB bridges.
extern const LPCTSTR g_enclosureUsbIds[];

class CZentraManager : public CDiskDriveMonitor {
    DECLARE_DYNAMIC(CZentraManager)
public:
    CZentraManager() = default;
    // Closes every secure disk and empties the window map.
    ~CZentraManager() override;

    // Installs and starts the driver (a failure only leaves the program without secure disks), creates the monitor
    // window with its drives, and adopts the disks the driver has mounted. FALSE when the window cannot be made.
    virtual BOOL Init(DWORD dwFlags);
    BOOL RegisterWindow(CWnd* pWnd, DWORD_PTR dwValue) override;
    BOOL UnregisterWindow(CWnd* pWnd) override;

    // Secure disks. The drive text's first character, upper-cased, is the letter; only D to Z are taken
    // (ERROR_INVALID_HANDLE otherwise). 0 or the Win32 error.
    DWORD CreateSecureDisk(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode,
                           DWORD dwSizeMegabytes);
    DWORD OpenSecureDisk(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode);
    DWORD CloseSecureDisk(LPCTSTR lpszDrive);
    // Dismounts the letter's secure disk. A disk the driver could not dismount (in use) stays open and held here,
    // and the error is returned; any other outcome forgets it and posts 9.
    DWORD CloseSecureDiskByIndex(int nIndex);
    void CloseAllSecureDisks();
    void CloseSecureDisksOnDisk(CPhysicalDrive* pDisk);
    BOOL ChangePassword(LPCTSTR lpszDrive, LPCTSTR lpszOldPassword, LPCTSTR lpszNewPassword);
    CZentraObj* GetZentraObj(int nIndex) const;

    // The enclosure and its drives.
    static BOOL IsEnclosureUsbId(LPCTSTR lpszId);
    BOOL IsEnclosureDisk(int nDiskNumber);
    DWORD GetEnclosureDisks();
    BOOL HasEnclosureDisk() { return GetEnclosureDisks() != 0; }
    BOOL IsOnEnclosureBridge(int nDiskNumber) const;
    BOOL HasDiskOnEnclosureBridge() const;
    BOOL IsPublicZentra(CLogicalDrive* pVolume);
    BOOL IsPublicZentra(int nLetterIndex);
    BOOL IsSecureVolume(CLogicalDrive* pVolume, BOOL bEnclosureOnly);
    BOOL IsSecureVolume(int nLetterIndex, BOOL bEnclosureOnly);
    DWORD GetOpenedSecureDisks();
    DWORD GetEnclosureDrives();
    BOOL GetPublicZentraIndex(int nSecureIndex, int& nPublicIndex);
    BOOL HasSecurePartition(CPhysicalDrive* pDisk);
    BOOL CanOpenSecurePartition(int nDiskNumber);
    int GetOpenableSecureDiskCount();

    // The secure-partition marker: the sector right after the first partition.
    BOOL WriteSecureSignature(int nDiskNumber);
    BOOL ClearSecureSignature(int nDiskNumber);

    // A temporary drive letter for a raw partition, through the driver. 0 or the Win32 error.
    DWORD CreateGlobalDosName(int nIndex, LPCTSTR lpszTarget);
    DWORD RemoveGlobalDosName(int nIndex);

protected:
    void OnDestroy();
    LRESULT OnStoreSecureDisk(WPARAM wParam, LPARAM lParam);

    // Posts WM_DRIVE_NOTIFY to every window registered with the manager.
    void PostNotify(WPARAM wCode, LPARAM lIndex);
    // Stores a mounted disk in its slot and posts 8 with the public partition's letter.
    void StoreSecureDisk(CZentraObj* pObject);
    // Runs a create or open: the object's work here, the slot and the notice on the window's thread.
    DWORD AddSecureDisk(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode,
                        DWORD dwSizeMegabytes, bool bCreate);
    // The marker sector's offset on the disk, when its layout leaves room for it before the second partition.
    BOOL GetSignatureOffset(CPhysicalDrive* pDisk, BOOL bNeedDiskSignature, ULONGLONG& ullOffset);
    BOOL WriteSignatureSector(int nDiskNumber, BOOL bMark);

    CMapPtrToPtr m_mapZentraWnds; // HWND -> caller's value
    CZentraObj* m_pZentraObjs[DRIVE_MONITOR_LETTERS] = {};

    DECLARE_MESSAGE_MAP()
};
