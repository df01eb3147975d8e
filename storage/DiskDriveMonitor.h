// CDiskDriveMonitor: the hidden drive-monitor window that tracks the physical disks and drive letters, reacts to
// their arrival and removal and tells registered windows (WM_USER+2000).
//
// What stands here is the window and the look-up the rest of the program uses. Tracking drives joins as the
// storage devices are built; until then no drive is tracked and every look-up finds nothing.
#pragma once

#include "platform/afx/Wnd.h"

class CLogicalDrive;

class CDiskDriveMonitor : public CWnd {
    DECLARE_DYNAMIC(CDiskDriveMonitor)
public:
    CDiskDriveMonitor() = default;
    ~CDiskDriveMonitor() override;

    // The tracked volume of the drive text's first letter (upper-cased), or null.
    CLogicalDrive* GetLogicalDriveByName(LPCTSTR lpszDrive) const;

protected:
    // Creates the hidden monitor window (titled with the given text). Whether it exists.
    BOOL CreateMonitorWindow(LPCTSTR lpszTitle);
};
