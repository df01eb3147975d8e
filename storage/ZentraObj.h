// CZentraObj: one secure disk as the program sees it: the mount record sent to the virtual disk driver, the drive
// letter and the driver's disk device behind it. It creates a new encrypted image (on a partition or in a file) and
// mounts it, mounts an existing one, dismounts it, changes its password, and rebuilds itself from a disk the driver
// already has mounted.
//
// The secure-disk manager owns the objects. An operation blocks its thread during the driver request (key
// derivation takes noticeable time; a mount is tried up to three times).
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/String.h"
#include "platform/devices/dbt.h"

#include <vector>

struct ZENTRA_DEVICE_RECORD;

// Modes of Create and Mount: a read-only CD-ROM image without header (mount only), a plain image, an encrypted
// image with a password.
constexpr int ZENTRA_MODE_CDROM = 0;
constexpr int ZENTRA_MODE_PLAIN = 1;
constexpr int ZENTRA_MODE_ENCRYPTED = 2;

class CZentraObj : public CObject {
    DECLARE_DYNCREATE(CZentraObj)
public:
    CZentraObj() = default;
    // An object of a disk the driver has mounted: the record as built from the driver's reply.
    explicit CZentraObj(std::vector<BYTE> record);
    ~CZentraObj() override;
    CZentraObj(const CZentraObj&) = delete;
    CZentraObj& operator=(const CZentraObj&) = delete;

    // Creates the image (a file is made, with its folder; a partition is taken whole) and mounts it on the drive
    // letter; `dwSizeMegabytes` sizes a file image. 0 or the Win32 error (ERROR_ALREADY_EXISTS for a letter in
    // use, ERROR_INVALID_PARAMETER for a password longer than 64 bytes).
    DWORD Create(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode, DWORD dwSizeMegabytes);
    // Mounts an existing image: ERROR_INVALID_PASSWORD for a wrong password (asked once), other failures are
    // tried three times with 300 ms between.
    DWORD Mount(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode);
    // Dismounts the disk and takes its letter away. A disk the driver refuses to dismount (its file system is in
    // use) stays mounted, with its letter, and the error is returned; IsMounted then still holds.
    DWORD Unmount();
    // Changes the volume's password: 0 or the Win32 error (ERROR_INVALID_PARAMETER for a password longer than 64
    // bytes); the password stays as it was on any failure.
    DWORD ChangePasswd(LPCTSTR lpszOldPassword, LPCTSTR lpszNewPassword);
    // Asks the driver for the disk mounted on the letter and makes an object of it.
    static DWORD QueryDevice(int nIndex, CZentraObj** ppObject);

    BOOL IsOnPhysicalDisk(DWORD dwDiskNumber) const;
    // The image path without its "\??\UNC" or "\??\" prefix.
    CString GetImagePath() const;
    int GetDriveNumber() const { return m_nDriveNumber; }
    DWORD GetPhysicalDiskNumber() const;
    // Whether the driver still has the disk: after a successful mount, until a dismount the driver carried out.
    BOOL IsMounted() const { return m_bMounted; }
    // "X:".
    CString GetDriveName() const { return m_strVolumePath.Right(2); }

    // The NT path the driver is given for an image path, and the physical disk that holds an image.
    static CString GetNtPath(LPCTSTR lpszImagePath);
    static DWORD GetImageDiskNumber(LPCTSTR lpszImagePath);

private:
    DWORD Prepare(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode, bool bCreate,
                  ULONGLONG ullImageSize);
    void SetDrive(int nDriveNumber);
    ZENTRA_DEVICE_RECORD* Record() { return reinterpret_cast<ZENTRA_DEVICE_RECORD*>(m_record.data()); }
    const ZENTRA_DEVICE_RECORD* Record() const {
        return reinterpret_cast<const ZENTRA_DEVICE_RECORD*>(m_record.data());
    }
    DWORD RecordLength() const;
    // Defines the letter with the raw path of the disk device.
    DWORD DefineLetter();
    void BurnPassword();

    std::vector<BYTE> m_record;
    CString m_strVolumePath; // "\\.\X:"
    CString m_strDeviceName; // "\Device\Zentra\VyxDiskX"
    int m_nDriveNumber = 0;
    DEV_BROADCAST_VOLUME m_volume{};
    BOOL m_bMounted = FALSE;
};
