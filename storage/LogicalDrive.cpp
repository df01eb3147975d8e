#include "storage/LogicalDrive.h"

#include "platform/fs/volumes.h"

IMPLEMENT_DYNAMIC(CLogicalDrive, CDiskDrive)

BOOL CLogicalDrive::GetVolumeInfo(CString& strLabel, CString& strFileSystem, CPhysicalDrive** ppParent) {
    if (!m_bVolumeInfoRead) {
        const WCHAR root[] = {static_cast<WCHAR>(u'A' + m_nLetterIndex), u':', u'\\', 0};
        WCHAR label[MAX_PATH + 1] = {};
        WCHAR fileSystem[MAX_PATH + 1] = {};
        if (!GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1))
            return FALSE;
        m_strLabel = label;
        m_strFileSystem = fileSystem;
        m_bVolumeInfoRead = TRUE;
    }
    strLabel = m_strLabel;
    strFileSystem = m_strFileSystem;
    if (ppParent)
        *ppParent = m_pParent;
    return TRUE;
}
