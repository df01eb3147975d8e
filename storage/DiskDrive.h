// CDiskDrive: what a drive-letter volume (CLogicalDrive) and a physical disk (CPhysicalDrive) have in common.
//
// The raw sector I/O, partitioning and device-change registration of the drive classes join as the storage devices
// are built; what stands here is the identity the rest of the program asks about.
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/String.h"

class CDiskDrive : public CObject {
    DECLARE_DYNAMIC(CDiskDrive)
public:
    CDiskDrive() = default;
    ~CDiskDrive() override = default;
    CDiskDrive(const CDiskDrive&) = delete;
    CDiskDrive& operator=(const CDiskDrive&) = delete;
};
