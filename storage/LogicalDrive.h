// CLogicalDrive: the volume behind one drive letter (index 0 to 25 for A: to Z:).
#pragma once

#include "storage/DiskDrive.h"

class CPhysicalDrive;

class CLogicalDrive : public CDiskDrive {
    DECLARE_DYNAMIC(CLogicalDrive)
public:
    explicit CLogicalDrive(int nLetterIndex) : m_nLetterIndex(nLetterIndex) {}

    int GetLetterIndex() const { return m_nLetterIndex; }
    // The volume's label and file-system name, and the physical disk that holds it (null when unknown). The label
    // and the file-system name are read once and then kept. FALSE when the volume cannot be asked.
    BOOL GetVolumeInfo(CString& strLabel, CString& strFileSystem, CPhysicalDrive** ppParent);

private:
    int m_nLetterIndex;
    BOOL m_bVolumeInfoRead = FALSE;
    CString m_strLabel;
    CString m_strFileSystem;
    CPhysicalDrive* m_pParent = nullptr;
};
