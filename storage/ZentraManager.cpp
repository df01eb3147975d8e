#include "storage/ZentraManager.h"

#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"
#include "storage/ZentraDriver.h"
#include "storage/ZentraObj.h"

#include "driver/ZentraIoctl.h"

#include "platform/afx/afx.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"

#include <cstring>
#include <vector>

IMPLEMENT_DYNAMIC(CZentraManager, CDiskDriveMonitor)

namespace {

// Hands a mounted disk from another thread to the window's thread (lParam: the CZentraObj).
constexpr UINT WM_STORE_SECURE_DISK = WM_USER + 2101;

constexpr DWORD kSectorBytes = 512;
constexpr int kLayoutEntries = 5;

// The letter index of a drive text (upper-cased), or -1.
int LetterOf(LPCTSTR lpszDrive) {
    if (!lpszDrive || !*lpszDrive)
        return -1;
    const int nIndex = platform::FoldUpper(lpszDrive[0]) - u'A';
    return nIndex >= 0 && nIndex < DRIVE_MONITOR_LETTERS ? nIndex : -1;
}

// Creating, opening, closing and re-passwording take only D to Z.
bool IsSecureLetter(int nIndex) {
    return nIndex >= 3 && nIndex < DRIVE_MONITOR_LETTERS;
}

struct LayoutPartitions {
    DWORD dwSignature = 0;
    std::vector<PARTITION_INFORMATION> entries; // the used ones, in table order
};

BOOL ReadLayout(CPhysicalDrive* pDisk, LayoutPartitions& layout) {
    alignas(8) BYTE buffer[DRIVE_LAYOUT_BUFFER_SIZE];
    if (!pDisk || pDisk->GetDriveLayout(buffer, sizeof(buffer)) != ERROR_SUCCESS)
        return FALSE;
    const auto* pLayout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION*>(buffer);
    layout.dwSignature = pLayout->Signature;
    const DWORD dwCount = std::min<DWORD>(pLayout->PartitionCount, kLayoutEntries);
    for (DWORD i = 0; i < dwCount; ++i) {
        PARTITION_INFORMATION entry;
        memcpy(&entry, buffer + offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) + i * sizeof(entry), sizeof(entry));
        if (entry.PartitionType != 0 && entry.PartitionLength.QuadPart > 0)
            layout.entries.push_back(entry);
    }
    return TRUE;
}

// Whether the letter names a disk of the virtual disk driver.
bool IsVirtualDiskLetter(int nIndex) {
    CString strPath;
    strPath.Format(u"\\\\.\\%c:", static_cast<TCHAR>(u'A' + nIndex));
    HANDLE hVolume = CDiskDrive::OpenVolume(strPath);
    if (hVolume == INVALID_HANDLE_VALUE)
        return false;
    STORAGE_DEVICE_NUMBER number{};
    DWORD dwReturned = 0;
    const BOOL bOk = ::DeviceIoControl(hVolume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                                       &dwReturned, nullptr);
    ::CloseHandle(hVolume);
    return bOk && number.DeviceType == FILE_DEVICE_VIRTUAL_DISK;
}

} // namespace

const LPCTSTR g_enclosureUsbIds[] = {u"USB\\VID_152D&PID_2338", u"USB\\VID_6A5E&PID_0001", u"USB\\VID_6A5E&PID_0002",
                                     u"USB\\VID_6A5E&PID_0003", u""};

BEGIN_MESSAGE_MAP(CZentraManager, CDiskDriveMonitor)
ON_WM_DESTROY()
ON_MESSAGE(WM_STORE_SECURE_DISK, OnStoreSecureDisk)
END_MESSAGE_MAP()

CZentraManager::~CZentraManager() {
    CloseAllSecureDisks();
    // What could not be dismounted is let go with the program; the driver keeps it and the next start adopts it.
    for (auto& pObject : m_pZentraObjs) {
        delete pObject;
        pObject = nullptr;
    }
    m_mapZentraWnds.RemoveAll();
}

BOOL CZentraManager::Init(DWORD dwFlags) {
    if (!InstallDriver(ZENTRA_SERVICE_NAME))
        TRACE(u"CZentraManager: can't load crypto disk driver!\n");
    if (!Create(dwFlags))
        return FALSE;
    const DWORD dwPresent = ::GetLogicalDrives();
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (m_pZentraObjs[i])
            continue;
        // A secure disk whose image lies on no tracked disk has no volume object; it is the program's all the same.
        CLogicalDrive* pVolume = GetLogicalDrive(i);
        const bool bVirtual = pVolume ? pVolume->GetDeviceType() == FILE_DEVICE_VIRTUAL_DISK
                                      : (dwPresent & (1u << i)) && IsVirtualDiskLetter(i);
        if (!bVirtual)
            continue;
        CZentraObj* pObject = nullptr;
        if (CZentraObj::QueryDevice(i, &pObject) == ERROR_SUCCESS && pObject)
            StoreSecureDisk(pObject);
    }
    return TRUE;
}

BOOL CZentraManager::RegisterWindow(CWnd* pWnd, DWORD_PTR dwValue) {
    CDiskDriveMonitor::RegisterWindow(pWnd, dwValue);
    if (pWnd && pWnd->GetSafeHwnd())
        m_mapZentraWnds.SetAt(pWnd->GetSafeHwnd(), reinterpret_cast<void*>(dwValue));
    return TRUE;
}

BOOL CZentraManager::UnregisterWindow(CWnd* pWnd) {
    if (pWnd)
        m_mapZentraWnds.RemoveKey(pWnd->GetSafeHwnd());
    return CDiskDriveMonitor::UnregisterWindow(pWnd);
}

void CZentraManager::OnDestroy() {
    CDiskDriveMonitor::OnDestroy();
    CloseAllSecureDisks();
    m_mapZentraWnds.RemoveAll();
}

void CZentraManager::PostNotify(WPARAM wCode, LPARAM lIndex) {
    POSITION pos = m_mapZentraWnds.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapZentraWnds.GetNextAssoc(pos, pKey, pValue);
        ::PostMessageW(static_cast<HWND>(pKey), WM_DRIVE_NOTIFY, wCode, lIndex);
    }
}

void CZentraManager::StoreSecureDisk(CZentraObj* pObject) {
    const int nIndex = pObject->GetDriveNumber();
    // The driver refuses a letter it serves already, so a slot is free when a mount succeeded; an object that is
    // still here belongs to a disk that is gone.
    delete m_pZentraObjs[nIndex];
    m_pZentraObjs[nIndex] = pObject;
    int nPublic = 0;
    GetPublicZentraIndex(nIndex, nPublic);
    PostNotify(DRIVE_NOTIFY_SECURE_OPENED, nPublic);
}

LRESULT CZentraManager::OnStoreSecureDisk(WPARAM, LPARAM lParam) {
    StoreSecureDisk(reinterpret_cast<CZentraObj*>(lParam));
    return 0;
}

DWORD CZentraManager::AddSecureDisk(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode,
                                    DWORD dwSizeMegabytes, bool bCreate) {
    const int nIndex = LetterOf(lpszDrive);
    if (!IsSecureLetter(nIndex))
        return ERROR_INVALID_HANDLE;
    auto* pObject = new CZentraObj;
    const DWORD dwResult = bCreate ? pObject->Create(lpszDrive, lpszImagePath, lpszPassword, nMode, dwSizeMegabytes)
                                   : pObject->Mount(lpszDrive, lpszImagePath, lpszPassword, nMode);
    if (dwResult != ERROR_SUCCESS) {
        delete pObject;
        return dwResult;
    }
    if (m_hWnd && ::GetWindowThreadProcessId(m_hWnd, nullptr) != ::GetCurrentThreadId())
        SendMessage(WM_STORE_SECURE_DISK, 0, reinterpret_cast<LPARAM>(pObject));
    else
        StoreSecureDisk(pObject);
    return ERROR_SUCCESS;
}

DWORD CZentraManager::CreateSecureDisk(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode,
                                       DWORD dwSizeMegabytes) {
    return AddSecureDisk(lpszDrive, lpszImagePath, lpszPassword, nMode, dwSizeMegabytes, true);
}

DWORD CZentraManager::OpenSecureDisk(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode) {
    return AddSecureDisk(lpszDrive, lpszImagePath, lpszPassword, nMode, 0, false);
}

DWORD CZentraManager::CloseSecureDisk(LPCTSTR lpszDrive) {
    const int nIndex = LetterOf(lpszDrive);
    if (!IsSecureLetter(nIndex))
        return ERROR_INVALID_HANDLE;
    return CloseSecureDiskByIndex(nIndex);
}

DWORD CZentraManager::CloseSecureDiskByIndex(int nIndex) {
    CZentraObj* pObject = GetZentraObj(nIndex);
    if (!pObject)
        return ERROR_INVALID_HANDLE;
    int nPublic = 0;
    GetPublicZentraIndex(nIndex, nPublic);
    const DWORD dwResult = pObject->Unmount();
    // A disk the driver still has (its file system is in use) stays the program's: it can be closed later.
    if (pObject->IsMounted())
        return dwResult;
    PostNotify(DRIVE_NOTIFY_SECURE_CLOSED, nPublic);
    delete pObject;
    m_pZentraObjs[nIndex] = nullptr;
    return dwResult;
}

void CZentraManager::CloseAllSecureDisks() {
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (m_pZentraObjs[i])
            CloseSecureDiskByIndex(i);
    }
}

void CZentraManager::CloseSecureDisksOnDisk(CPhysicalDrive* pDisk) {
    if (!pDisk)
        return;
    const DWORD dwOpened = GetOpenedSecureDisks();
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (!(dwOpened & (1u << i)))
            continue;
        CLogicalDrive* pVolume = GetLogicalDrive(i);
        if (pVolume && pVolume->GetParent() == pDisk)
            CloseSecureDisk(pVolume->GetDriveName());
    }
}

BOOL CZentraManager::ChangePassword(LPCTSTR lpszDrive, LPCTSTR lpszOldPassword, LPCTSTR lpszNewPassword) {
    const int nIndex = LetterOf(lpszDrive);
    if (!IsSecureLetter(nIndex) || !m_pZentraObjs[nIndex])
        return FALSE;
    return m_pZentraObjs[nIndex]->ChangePasswd(lpszOldPassword, lpszNewPassword) == ERROR_SUCCESS;
}

CZentraObj* CZentraManager::GetZentraObj(int nIndex) const {
    if (static_cast<unsigned>(nIndex) >= DRIVE_MONITOR_LETTERS)
        return nullptr;
    return m_pZentraObjs[nIndex];
}

BOOL CZentraManager::IsEnclosureUsbId(LPCTSTR lpszId) {
    if (!lpszId || !*lpszId)
        return FALSE;
    for (const LPCTSTR* pId = g_enclosureUsbIds; **pId; ++pId) {
        if (platform::EqualsNoCase(std::u16string_view(*pId), std::u16string_view(lpszId)))
            return TRUE;
    }
    return FALSE;
}

BOOL CZentraManager::IsEnclosureDisk(int nDiskNumber) {
    CPhysicalDrive* pDisk = GetPhysicalDrive(nDiskNumber);
    if (!pDisk)
        return FALSE;
    return pDisk->HasDiskSignature(ZENTRA_DISK_SIGNATURE) || IsEnclosureUsbId(pDisk->GetName());
}

DWORD CZentraManager::GetEnclosureDisks() {
    DWORD dwDisks = 0;
    const DWORD dwPresent = GetPhysicalDrivesBitmap();
    for (int i = 0; i < 32; ++i) {
        if ((dwPresent & (1u << i)) && IsEnclosureDisk(i))
            dwDisks |= 1u << i;
    }
    return dwDisks;
}

BOOL CZentraManager::IsOnEnclosureBridge(int nDiskNumber) const {
    for (const LPCTSTR* pId = g_enclosureUsbIds; **pId; ++pId) {
        if (IsDriveParent(nDiskNumber, *pId))
            return TRUE;
    }
    return FALSE;
}

BOOL CZentraManager::HasDiskOnEnclosureBridge() const {
    const DWORD dwPresent = GetPhysicalDrivesBitmap();
    for (int i = 0; i < 32; ++i) {
        if ((dwPresent & (1u << i)) && IsOnEnclosureBridge(i))
            return TRUE;
    }
    return FALSE;
}

BOOL CZentraManager::IsPublicZentra(CLogicalDrive* pVolume) {
    if (!pVolume)
        return FALSE;
    CPhysicalDrive* pDisk = pVolume->GetParent();
    if (!pDisk) {
        TRACE(u"IsPublicZentra: can't find physical drive!\n");
        return FALSE;
    }
    return IsEnclosureDisk(pDisk->GetIndex());
}

BOOL CZentraManager::IsPublicZentra(int nLetterIndex) {
    CLogicalDrive* pVolume = GetLogicalDrive(nLetterIndex);
    if (!pVolume) {
        TRACE(u"IsPublicZentra: can't find logical drive %d!\n", nLetterIndex);
        return FALSE;
    }
    return IsPublicZentra(pVolume);
}

BOOL CZentraManager::IsSecureVolume(CLogicalDrive* pVolume, BOOL bEnclosureOnly) {
    if (!pVolume || pVolume->GetDeviceType() != FILE_DEVICE_VIRTUAL_DISK)
        return FALSE;
    if (!bEnclosureOnly)
        return TRUE;
    CPhysicalDrive* pDisk = pVolume->GetParent();
    return pDisk && IsEnclosureDisk(pDisk->GetIndex());
}

BOOL CZentraManager::IsSecureVolume(int nLetterIndex, BOOL bEnclosureOnly) {
    return IsSecureVolume(GetLogicalDrive(nLetterIndex), bEnclosureOnly);
}

DWORD CZentraManager::GetOpenedSecureDisks() {
    DWORD dwDrives = 0;
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (IsSecureVolume(i, FALSE))
            dwDrives |= 1u << i;
    }
    return dwDrives;
}

DWORD CZentraManager::GetEnclosureDrives() {
    DWORD dwDrivesBitmap = 0;
    const DWORD dwPresent = ::GetLogicalDrives();
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (!(dwPresent & (1u << i)))
            continue;
        CLogicalDrive* pVolume = GetLogicalDrive(i);
        if (pVolume && (IsSecureVolume(pVolume, TRUE) || IsPublicZentra(pVolume)))
            dwDrivesBitmap |= 1u << i;
    }
    TRACE(u"dwDrivesBitmap = %d\n", dwDrivesBitmap);
    return dwDrivesBitmap;
}

BOOL CZentraManager::GetPublicZentraIndex(int nSecureIndex, int& nPublicIndex) {
    CZentraObj* pObject = GetZentraObj(nSecureIndex);
    CPhysicalDrive* pDisk = pObject ? GetPhysicalDrive(static_cast<int>(pObject->GetPhysicalDiskNumber())) : nullptr;
    if (pDisk) {
        const DWORD dwVolumes = pDisk->GetLogicalDrivesBitmap() & ~(1u << nSecureIndex);
        for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
            if (dwVolumes & (1u << i)) {
                nPublicIndex = i;
                return TRUE;
            }
        }
    }
    nPublicIndex = nSecureIndex - 1;
    if (nPublicIndex >= 0 && !GetLogicalDrive(nPublicIndex)) {
        CString strName;
        strName.Format(u"%c:", static_cast<TCHAR>(u'A' + nPublicIndex));
        CreateLogicalDrive(nPublicIndex, strName);
    }
    TRACE(u"GetPublicZentraIndex: can't get public index, guess it for %d!\n", nPublicIndex);
    return FALSE;
}

BOOL CZentraManager::HasSecurePartition(CPhysicalDrive* pDisk) {
    LayoutPartitions layout;
    if (!ReadLayout(pDisk, layout) || layout.entries.size() <= 1)
        return FALSE;
    const ULONGLONG ullOffset = static_cast<ULONGLONG>(layout.entries[0].StartingOffset.QuadPart) +
                                static_cast<ULONGLONG>(layout.entries[0].PartitionLength.QuadPart);
    alignas(8) BYTE sector[kSectorBytes];
    if (pDisk->Read(ullOffset, sector, sizeof(sector)) != ERROR_SUCCESS) {
        TRACE(u"HasSecurePartition: Can't read SuperBlock Signature with Part Count = %d!\n",
              static_cast<int>(layout.entries.size()));
        return FALSE;
    }
    DWORD dwMarker = 0;
    memcpy(&dwMarker, sector, sizeof(dwMarker));
    return dwMarker == ZENTRA_DISK_SIGNATURE;
}

BOOL CZentraManager::CanOpenSecurePartition(int nDiskNumber) {
    CPhysicalDrive* pDisk = GetPhysicalDrive(nDiskNumber);
    if (!pDisk || !HasSecurePartition(pDisk))
        return FALSE;
    const CString strPartition = pDisk->GetSecurePartitionName();
    for (CZentraObj* pObject : m_pZentraObjs) {
        if (pObject && pObject->GetImagePath() == strPartition)
            return FALSE;
    }
    return TRUE;
}

int CZentraManager::GetOpenableSecureDiskCount() {
    int nCount = 0;
    const DWORD dwPresent = GetPhysicalDrivesBitmap();
    for (int i = 0; i < 32; ++i) {
        if ((dwPresent & (1u << i)) && CanOpenSecurePartition(i))
            ++nCount;
    }
    return nCount;
}

BOOL CZentraManager::GetSignatureOffset(CPhysicalDrive* pDisk, BOOL bNeedDiskSignature, ULONGLONG& ullOffset) {
    LayoutPartitions layout;
    if (!ReadLayout(pDisk, layout) || layout.entries.size() <= 1)
        return FALSE;
    if (bNeedDiskSignature && layout.dwSignature != ZENTRA_DISK_SIGNATURE)
        return FALSE;
    ullOffset = static_cast<ULONGLONG>(layout.entries[0].StartingOffset.QuadPart) +
                static_cast<ULONGLONG>(layout.entries[0].PartitionLength.QuadPart);
    // The marker lives in the gap before the second partition; on a disk laid out without that gap the sector
    // is the second partition's first (the secure volume's header) and is never written.
    return ullOffset + kSectorBytes <= static_cast<ULONGLONG>(layout.entries[1].StartingOffset.QuadPart);
}

BOOL CZentraManager::WriteSignatureSector(int nDiskNumber, BOOL bMark) {
    CPhysicalDrive* pDisk = GetPhysicalDrive(nDiskNumber);
    ULONGLONG ullOffset = 0;
    if (!pDisk || !GetSignatureOffset(pDisk, TRUE, ullOffset))
        return FALSE;
    alignas(8) BYTE sector[kSectorBytes] = {};
    if (bMark) {
        const DWORD dwMarker = ZENTRA_DISK_SIGNATURE;
        memcpy(sector, &dwMarker, sizeof(dwMarker));
    }
    return pDisk->Write(ullOffset, sector, sizeof(sector)) == ERROR_SUCCESS;
}

BOOL CZentraManager::WriteSecureSignature(int nDiskNumber) {
    return WriteSignatureSector(nDiskNumber, TRUE);
}

BOOL CZentraManager::ClearSecureSignature(int nDiskNumber) {
    return WriteSignatureSector(nDiskNumber, FALSE);
}

DWORD CZentraManager::CreateGlobalDosName(int nIndex, LPCTSTR lpszTarget) {
    const size_t nChars = lpszTarget ? static_cast<size_t>(lstrlenW(lpszTarget)) : 0;
    std::vector<BYTE> record;
    try {
        record.assign(std::max<size_t>(ZENTRA_GDOSNAME_RECORD_MIN,
                                       offsetof(ZENTRA_GDOSNAME_RECORD, Name) + (nChars + 1) * sizeof(WCHAR)),
                      0);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    auto* pRecord = reinterpret_cast<ZENTRA_GDOSNAME_RECORD*>(record.data());
    pRecord->Operation = 0;
    pRecord->DriveNumber = static_cast<ULONG>(nIndex);
    pRecord->NameLength = static_cast<USHORT>(nChars * sizeof(WCHAR));
    if (nChars)
        memcpy(record.data() + offsetof(ZENTRA_GDOSNAME_RECORD, Name), lpszTarget, nChars * sizeof(WCHAR));
    return SendControl(IOCTL_VYXDISK_CREATE_GDOSNAME, record.data(), static_cast<DWORD>(record.size()), nullptr, 0);
}

DWORD CZentraManager::RemoveGlobalDosName(int nIndex) {
    BYTE record[ZENTRA_GDOSNAME_RECORD_MIN] = {};
    auto* pRecord = reinterpret_cast<ZENTRA_GDOSNAME_RECORD*>(record);
    pRecord->Operation = 1;
    pRecord->DriveNumber = static_cast<ULONG>(nIndex);
    return SendControl(IOCTL_VYXDISK_CREATE_GDOSNAME, record, sizeof(record), nullptr, 0);
}
