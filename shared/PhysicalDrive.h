// CPhysicalDrive: one physical disk of the system's disk interface, with its device identity, raw sector reads and
// writes, and the two partitioning layouts the disk configuration writes.
//
// Its child volumes are plain links (the drive monitor owns both sides): deleting a disk first unlinks every child
// volume from it. GUI thread only.
#pragma once

#include "shared/DiskDrive.h"

#include "platform/afx/MapPtrToPtr.h"

class CLogicalDrive;

// The disk signatures the suite stamps into a disk's master boot record: a disk of a public and a secure
// partition, and a disk of one partition.
constexpr DWORD ZENTRA_DISK_SIGNATURE = 0x5A454456;          // "ZEDV"
constexpr DWORD ZENTRA_ONE_PARTITION_SIGNATURE = 0x5745584F; // "WEXO"

// The buffer for IOCTL_DISK_GET_DRIVE_LAYOUT: the record with room for five partition entries.
constexpr DWORD DRIVE_LAYOUT_BUFFER_SIZE = 168;

class CPhysicalDrive : public CDiskDrive {
    DECLARE_DYNCREATE(CPhysicalDrive)
public:
    CPhysicalDrive() = default;
    CPhysicalDrive(const DiskDriveInfo& info, const CString& strHardwareId, const CString& strInstanceId,
                   const CString& strFriendlyName, const CString& strInterfacePath, const CString& strParentId);
    // Unlinks the child volumes (their parent becomes null).
    ~CPhysicalDrive() override;

    int GetIndex() const override { return static_cast<int>(m_info.dwDeviceNumber); }
    HDEVNOTIFY Open(HWND hNotifyWnd) override { return OpenDevice(m_strInterfacePath, hNotifyWnd); }
    CString GetName() const override { return m_strParentId; }

    // Fills `info` for the disk at the interface path, with its handle left open. FALSE when it cannot be opened
    // or numbered, and, with DRIVE_MONITOR_NO_REMOVABLE in `dwFlags`, for a disk of removable media.
    static BOOL GetPhysicalDriveInfo(LPCTSTR lpszPath, DiskDriveInfo& info, DWORD dwFlags);

    // "Physical disk %d - %dGB".
    CString GetDescription() const;
    // "\Device\Harddisk%d\Partition2": the kernel name of the second partition, where the secure disk lives.
    CString GetSecurePartitionName() const;
    // IOCTL_DISK_GET_DRIVE_LAYOUT into the cleared buffer; 0 or the Win32 error.
    DWORD GetDriveLayout(void* pBuffer, DWORD dwSize) const;
    // Whether the master boot record carries the signature. The signature is read once and kept; a failed read is
    // tried again at the next call.
    BOOL HasDiskSignature(DWORD dwSignature);

    // Raw sector I/O at a byte offset from the start of the disk; `dwBytes` must be a whole number of sectors
    // (ERROR_INVALID_PARAMETER otherwise, and nothing is done). 0 or the Win32 error.
    DWORD Read(ULONGLONG ullOffset, void* pBuffer, DWORD dwBytes);
    DWORD Write(ULONGLONG ullOffset, const void* pBuffer, DWORD dwBytes);

    // A public partition of `ullPublicMegabytes` (type 0x06) and, after one free track, a secure partition over the
    // rest (type 0x63). FALSE, with the disk untouched, when the public partition would not leave room for a
    // secure partition of at least one track; FALSE also when the disk refuses the new layout (the last error says
    // why).
    BOOL MakeTwoPartitions(DWORD dwSignature, ULONGLONG ullPublicMegabytes);
    // One partition (type 0x06) over the whole disk.
    BOOL MakeOnePartition(DWORD dwSignature);

    void AddLogicalDrive(CLogicalDrive* pVolume);
    void RemoveLogicalDrive(CLogicalDrive* pVolume);
    // Bit GetIndex() of every child volume.
    DWORD GetLogicalDrivesBitmap() const;
    // `ullBytes` rounded down to whole tracks.
    ULONGLONG AlignToTrack(ULONGLONG ullBytes) const;

    const CString& GetHardwareId() const { return m_strHardwareId; }
    const CString& GetInstanceId() const { return m_strInstanceId; }
    const CString& GetFriendlyName() const { return m_strFriendlyName; }
    const CString& GetInterfacePath() const { return m_strInterfacePath; }
    ULONGLONG GetCapacity() const { return m_info.ullCapacity; }
    DWORD GetBytesPerSector() const { return m_dwBytesPerSector; }

private:
    // Writes a new master boot record with `dwSignature` and then the layout of `pLayout`.
    BOOL WriteLayout(DWORD dwSignature, const DRIVE_LAYOUT_INFORMATION* pLayout, DWORD dwSize);
    DWORD Transfer(ULONGLONG ullOffset, void* pBuffer, DWORD dwBytes, bool bWrite);

    CString m_strHardwareId;
    CString m_strInstanceId;
    CString m_strFriendlyName;
    CString m_strInterfacePath;
    CString m_strParentId;
    CMapPtrToPtr m_childVolumes;
    DWORD m_dwTracksPerCylinder = 255;
    DWORD m_dwSectorsPerTrack = 63;
    DWORD m_dwBytesPerSector = 512;
    DWORD m_dwSignature = 0;
};
