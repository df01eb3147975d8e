// CLogicalDrive: the volume behind one drive letter (index 0 to 25 for A: to Z:), linked to the physical disk that
// holds it.
//
// The link to the disk is plain: the disk unlinks its volumes when it goes, and the drive monitor takes a volume out
// of its disk's map before deleting it. GUI thread only.
#pragma once

#include "shared/DiskDrive.h"

class CPhysicalDrive;

class CLogicalDrive : public CDiskDrive {
    DECLARE_DYNCREATE(CLogicalDrive)
public:
    CLogicalDrive() = default;
    // `lpszName` is the drive name ("X:").
    CLogicalDrive(int nIndex, LPCTSTR lpszName, CPhysicalDrive* pParent, const DiskDriveInfo& info);

    int GetIndex() const override { return m_nIndex; }
    HDEVNOTIFY Open(HWND hNotifyWnd) override;
    CString GetName() const override { return m_strDiskId; }

    // The volume's label, file-system name and serial number. They are read with GetVolumeInformationW while the
    // cached label is empty or the cached serial number is 0 (so a volume without a label is asked at every call);
    // FALSE, with the outputs untouched, when that fails.
    BOOL GetVolumeInfo(CString& strLabel, CString& strFileSystem, DWORD& dwSerial);

    CPhysicalDrive* GetParent() const { return m_pParent; }
    // Links the volume to its disk and takes the disk's parent id as the volume's disk id.
    void SetParent(CPhysicalDrive* pParent);
    void ClearParent() { m_pParent = nullptr; }

    const CString& GetDriveName() const { return m_strDriveName; }
    const CString& GetRoot() const { return m_strRoot; }

private:
    int m_nIndex = 0;
    DWORD m_dwSerial = 0;
    CString m_strLabel;
    CString m_strFileSystem;
    CString m_strDriveName;
    CString m_strRoot;
    CString m_strDiskId;
    CPhysicalDrive* m_pParent = nullptr;
};
