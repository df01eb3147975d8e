// CPhysicalDrive: one physical disk, named by its disk number.
#pragma once

#include "storage/DiskDrive.h"

class CPhysicalDrive : public CDiskDrive {
    DECLARE_DYNAMIC(CPhysicalDrive)
public:
    explicit CPhysicalDrive(int nDiskNumber) : m_nDiskNumber(nDiskNumber) {}

    int GetDiskNumber() const { return m_nDiskNumber; }

private:
    int m_nDiskNumber;
};
