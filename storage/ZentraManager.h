// CZentraManager: the secure-disk manager: the drive monitor of the program, the virtual disk driver's client, and
// the keeper of up to 26 secure disks (one per drive letter).
//
// One object per process, embedded in the application object. GUI thread only.
//
// What stands here: the monitor window, the receivers of the drive-event broadcast and the questions the rest of
// the program asks. Installing the driver, tracking the enclosure's disks and opening secure disks join as the
// storage devices are built; until then Init reports that the driver is not there, no disk is an enclosure disk
// and no letter is a secure or public volume.
#pragma once

#include "storage/DiskDriveMonitor.h"

#include "platform/afx/MapPtrToPtr.h"

class CZentraManager : public CDiskDriveMonitor {
    DECLARE_DYNAMIC(CZentraManager)
public:
    CZentraManager() = default;
    ~CZentraManager() override;

    // Called once at start with the number of drive slots (26): installs and starts the virtual disk driver,
    // creates the monitor window and adopts secure disks already mounted. TRUE when the driver runs.
    virtual BOOL Init(int nDriveSlots);

    // Adds the window (with a value kept beside it) to the receivers of WM_USER+2000; registering again replaces
    // the value. Returns 1.
    int RegisterWindow(CWnd* pWnd, DWORD_PTR dwValue);
    BOOL IsRegisteredWindow(CWnd* pWnd) const;

    BOOL IsEnclosureDisk(int nDiskNumber) const;
    BOOL HasEnclosureDisk() const;
    BOOL HasDiskOnEnclosureBridge() const;
    // Bitmap of the present drive letters that are secure volumes or public partitions of an enclosure disk.
    DWORD GetEnclosureDrives() const;
    // Whether the letter is a volume of the virtual disk driver (with bEnclosureOnly, on an enclosure disk).
    BOOL IsSecureVolume(int nLetterIndex, BOOL bEnclosureOnly) const;
    // Whether the letter is the public partition of an enclosure disk.
    BOOL IsPublicZentra(int nLetterIndex) const;

    int GetDriveSlots() const { return m_nDriveSlots; }

protected:
    int m_nDriveSlots = 0;
    CMapPtrToPtr m_receivers;
};
