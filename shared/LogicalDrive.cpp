#include "shared/LogicalDrive.h"

#include "shared/PhysicalDrive.h"

#include "platform/fs/volumes.h"

IMPLEMENT_DYNCREATE(CLogicalDrive, CDiskDrive)

CLogicalDrive::CLogicalDrive(int nIndex, LPCTSTR lpszName, CPhysicalDrive* pParent, const DiskDriveInfo& info)
    : CDiskDrive(info), m_nIndex(nIndex), m_strDriveName(lpszName), m_strRoot(m_strDriveName + u"\\") {
    if (pParent)
        SetParent(pParent);
}

HDEVNOTIFY CLogicalDrive::Open(HWND hNotifyWnd) {
    return OpenDevice(u"\\\\.\\" + m_strDriveName, hNotifyWnd);
}

BOOL CLogicalDrive::GetVolumeInfo(CString& strLabel, CString& strFileSystem, DWORD& dwSerial) {
    if (m_strLabel.IsEmpty() || m_dwSerial == 0) {
        WCHAR label[MAX_PATH + 1] = {};
        WCHAR fileSystem[MAX_PATH + 1] = {};
        DWORD dwNewSerial = 0;
        if (!::GetVolumeInformationW(m_strRoot, label, MAX_PATH + 1, &dwNewSerial, nullptr, nullptr, fileSystem,
                                     MAX_PATH + 1))
            return FALSE;
        m_strLabel = label;
        m_dwSerial = dwNewSerial;
        m_strFileSystem = fileSystem;
    }
    strLabel = m_strLabel;
    strFileSystem = m_strFileSystem;
    dwSerial = m_dwSerial;
    return TRUE;
}

void CLogicalDrive::SetParent(CPhysicalDrive* pParent) {
    m_pParent = pParent;
    if (pParent)
        m_strDiskId = pParent->GetName();
}
