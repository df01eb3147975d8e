#include "storage/DiskDriveMonitor.h"

#include "storage/LogicalDrive.h"

IMPLEMENT_DYNAMIC(CDiskDriveMonitor, CWnd)

CDiskDriveMonitor::~CDiskDriveMonitor() {
    if (m_hWnd)
        DestroyWindow();
}

CLogicalDrive* CDiskDriveMonitor::GetLogicalDriveByName(LPCTSTR lpszDrive) const {
    if (!lpszDrive || !*lpszDrive)
        return nullptr;
    // No drive is tracked yet.
    return nullptr;
}

BOOL CDiskDriveMonitor::CreateMonitorWindow(LPCTSTR lpszTitle) {
    if (!m_hWnd)
        CreateEx(0, nullptr, lpszTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr);
    return m_hWnd != nullptr;
}
