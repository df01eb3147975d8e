#include "storage/ZentraManager.h"

IMPLEMENT_DYNAMIC(CZentraManager, CDiskDriveMonitor)

CZentraManager::~CZentraManager() {
    m_receivers.RemoveAll();
}

BOOL CZentraManager::Init(int nDriveSlots) {
    m_nDriveSlots = nDriveSlots;
    CreateMonitorWindow(u"ZentraManager");
    // The driver is not installed yet, so no secure disk can be opened.
    return FALSE;
}

int CZentraManager::RegisterWindow(CWnd* pWnd, DWORD_PTR dwValue) {
    m_receivers.SetAt(pWnd, reinterpret_cast<void*>(dwValue));
    return 1;
}

BOOL CZentraManager::IsRegisteredWindow(CWnd* pWnd) const {
    void* value = nullptr;
    return m_receivers.Lookup(pWnd, value);
}

BOOL CZentraManager::IsEnclosureDisk(int) const {
    return FALSE;
}

BOOL CZentraManager::HasEnclosureDisk() const {
    return FALSE;
}

BOOL CZentraManager::HasDiskOnEnclosureBridge() const {
    return FALSE;
}

DWORD CZentraManager::GetEnclosureDrives() const {
    return 0;
}

BOOL CZentraManager::IsSecureVolume(int, BOOL) const {
    return FALSE;
}

BOOL CZentraManager::IsPublicZentra(int) const {
    return FALSE;
}
