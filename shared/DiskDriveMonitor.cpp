#include "shared/DiskDriveMonitor.h"

#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/devices/setupapi.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"

#include <vector>

IMPLEMENT_DYNAMIC(CDiskDriveMonitor, CWnd)

BEGIN_MESSAGE_MAP(CDiskDriveMonitor, CWnd)
ON_WM_DEVICECHANGE()
ON_WM_ENDSESSION()
END_MESSAGE_MAP()

namespace {

bool EqualsNoCase(const CString& a, LPCTSTR b) {
    return platform::EqualsNoCase(std::u16string_view(a, a.GetLength()), std::u16string_view(b ? b : u""));
}

// A device registry property as text: an empty text for a property the device does not have; FALSE when it
// cannot be read at all.
BOOL ReadTextProperty(HDEVINFO hSet, SP_DEVINFO_DATA& device, DWORD dwProperty, CString& strValue) {
    strValue.Empty();
    DWORD dwSize = 0;
    DWORD dwType = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(hSet, &device, dwProperty, &dwType, nullptr, 0, &dwSize)) {
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_INVALID_DATA)
            return TRUE;
        if (dwError != ERROR_INSUFFICIENT_BUFFER)
            return FALSE;
    }
    std::vector<BYTE> buffer(static_cast<size_t>(dwSize) * 2 + sizeof(WCHAR), 0);
    if (!::SetupDiGetDeviceRegistryPropertyW(hSet, &device, dwProperty, &dwType, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), nullptr))
        return ::GetLastError() == ERROR_INVALID_DATA;
    // A multi-string property reads as its first string.
    strValue = reinterpret_cast<LPCWSTR>(buffer.data());
    return TRUE;
}

// A new CPhysicalDrive for one member of the disk set, or null (see the monitor's enumeration).
CPhysicalDrive* GetPhyDriveRegistryProperty(HDEVINFO hSet, SP_DEVINFO_DATA& device, int nMode, LPCTSTR lpszLinkName,
                                            DWORD dwFlags) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    if (!::SetupDiEnumDeviceInterfaces(hSet, &device, &GUID_DEVINTERFACE_DISK, 0, &iface))
        return nullptr;
    DWORD dwSize = 0;
    ::SetupDiGetDeviceInterfaceDetailW(hSet, &iface, nullptr, 0, &dwSize, nullptr);
    if (dwSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return nullptr;
    std::vector<BYTE> detailBuffer(dwSize, 0);
    auto* pDetail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer.data());
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(hSet, &iface, pDetail, dwSize, nullptr, nullptr))
        return nullptr;
    const CString strPath = pDetail->DevicePath;
    if (nMode == CDiskDriveMonitor::ENUM_BY_LINK && !EqualsNoCase(strPath, lpszLinkName))
        return nullptr;

    DiskDriveInfo info;
    if (!CPhysicalDrive::GetPhysicalDriveInfo(strPath, info, dwFlags))
        return nullptr;
    // From here on the open handle belongs to the record; a disk that is given up closes it.
    auto giveUp = [&info]() -> CPhysicalDrive* {
        ::CloseHandle(info.hDevice);
        return nullptr;
    };
    CString strHardwareId;
    CString strFriendlyName;
    if (ReadTextProperty(hSet, device, SPDRP_HARDWAREID, strHardwareId))
        ReadTextProperty(hSet, device, SPDRP_FRIENDLYNAME, strFriendlyName);

    DWORD dwIdSize = 0;
    ::SetupDiGetDeviceInstanceIdW(hSet, &device, nullptr, 0, &dwIdSize);
    std::vector<WCHAR> instanceId(dwIdSize + 1, 0);
    if (dwIdSize == 0 || !::SetupDiGetDeviceInstanceIdW(hSet, &device, instanceId.data(),
                                                        static_cast<DWORD>(instanceId.size()), nullptr))
        return giveUp();

    CString strParentId;
    DEVINST parent = 0;
    ULONG ulLength = 0;
    if (::CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS &&
        ::CM_Get_Device_ID_Size(&ulLength, parent, 0) == CR_SUCCESS) {
        std::vector<WCHAR> parentId(ulLength + 1, 0);
        if (::CM_Get_Device_IDW(parent, parentId.data(), ulLength + 1, 0) == CR_SUCCESS) {
            strParentId = parentId.data();
            const int nSlash = strParentId.ReverseFind(u'\\');
            if (nSlash >= 0)
                strParentId = strParentId.Left(nSlash);
        }
    }
    return new CPhysicalDrive(info, strHardwareId, CString(instanceId.data()), strFriendlyName, strPath, strParentId);
}

// Whether a drive letter's volume is one the monitor takes.
BOOL IsDriveAccepted(LPCTSTR lpszRoot, DWORD dwFlags) {
    switch (::GetDriveTypeW(lpszRoot)) {
    case DRIVE_REMOVABLE:
        return !(dwFlags & DRIVE_MONITOR_NO_REMOVABLE);
    case DRIVE_REMOTE:
        // A network letter is taken only with its connection known; the connection table of network shares is
        // not offered by this system's layer yet, so none is.
        return FALSE;
    default:
        return TRUE;
    }
}

} // namespace

CDiskDriveMonitor::~CDiskDriveMonitor() {
    DeleteAllDrives();
    m_mapWnds.RemoveAll();
    m_nWindows = 0;
    if (m_hInterfaceNotify) {
        ::UnregisterDeviceNotification(m_hInterfaceNotify);
        m_hInterfaceNotify = nullptr;
    }
    if (m_hWnd)
        DestroyWindow();
}

void CDiskDriveMonitor::DeleteAllDrives() {
    POSITION pos = m_mapDrives.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapDrives.GetNextAssoc(pos, pKey, pValue);
        auto* pDrive = static_cast<CDiskDrive*>(pValue);
        if (pDrive->IsKindOf(RUNTIME_CLASS(CPhysicalDrive)))
            delete pDrive;
    }
    m_mapDrives.RemoveAll();
    for (auto& pVolume : m_pVolumes) {
        delete pVolume;
        pVolume = nullptr;
    }
    m_nPhysicalDrives = 0;
    m_nLogicalDrives = 0;
}

BOOL CDiskDriveMonitor::Create(DWORD dwFlags) {
    m_dwFlags = dwFlags;
    if (!m_hWnd && !CreateEx(WS_EX_TOPMOST, u"STATIC", u"Kovra", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr))
        return FALSE;
    if (!m_hInterfaceNotify) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = GUID_DEVINTERFACE_DISK;
        m_hInterfaceNotify = ::RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    GetPhysicalDrives(ENUM_ALL, nullptr);
    EnumLogicalDrives(0);
    return TRUE;
}

BOOL CDiskDriveMonitor::RegisterWindow(CWnd* pWnd, DWORD_PTR dwValue) {
    if (!pWnd || !pWnd->GetSafeHwnd())
        return TRUE;
    void* pKey = pWnd->GetSafeHwnd();
    void* pOld = nullptr;
    if (!m_mapWnds.Lookup(pKey, pOld))
        ++m_nWindows;
    m_mapWnds.SetAt(pKey, reinterpret_cast<void*>(dwValue));
    return TRUE;
}

BOOL CDiskDriveMonitor::UnregisterWindow(CWnd* pWnd) {
    if (!pWnd || !m_mapWnds.RemoveKey(pWnd->GetSafeHwnd()))
        return FALSE;
    --m_nWindows;
    return TRUE;
}

void CDiskDriveMonitor::SendNotify(WPARAM wCode, LPARAM lIndex) {
    // A receiver may register or unregister windows while it handles the message: the list is taken first.
    std::vector<HWND> windows;
    POSITION pos = m_mapWnds.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapWnds.GetNextAssoc(pos, pKey, pValue);
        windows.push_back(static_cast<HWND>(pKey));
    }
    for (HWND hWnd : windows) {
        if (::IsWindow(hWnd))
            ::SendMessageW(hWnd, WM_DRIVE_NOTIFY, wCode, lIndex);
    }
}

CLogicalDrive* CDiskDriveMonitor::GetLogicalDrive(int nIndex) const {
    if (static_cast<unsigned>(nIndex) >= DRIVE_MONITOR_LETTERS)
        return nullptr;
    return m_pVolumes[nIndex];
}

CLogicalDrive* CDiskDriveMonitor::GetLogicalDriveByName(LPCTSTR lpszDrive) const {
    if (!lpszDrive || !*lpszDrive)
        return nullptr;
    return GetLogicalDrive(platform::FoldUpper(lpszDrive[0]) - u'A');
}

CPhysicalDrive* CDiskDriveMonitor::GetPhysicalDrive(int nNumber) const {
    POSITION pos = m_mapDrives.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapDrives.GetNextAssoc(pos, pKey, pValue);
        auto* pDrive = static_cast<CDiskDrive*>(pValue);
        if (pDrive->IsKindOf(RUNTIME_CLASS(CPhysicalDrive)) && pDrive->GetIndex() == nNumber)
            return static_cast<CPhysicalDrive*>(pDrive);
    }
    return nullptr;
}

DWORD CDiskDriveMonitor::GetLogicalDrivesBitmap() const {
    DWORD dwBitmap = 0;
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (m_pVolumes[i])
            dwBitmap |= 1u << i;
    }
    return dwBitmap;
}

DWORD CDiskDriveMonitor::GetPhysicalDrivesBitmap() const {
    DWORD dwBitmap = 0;
    POSITION pos = m_mapDrives.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapDrives.GetNextAssoc(pos, pKey, pValue);
        auto* pDrive = static_cast<CDiskDrive*>(pValue);
        // Disk 32 would alias disk 0 in a bitmap of 32 bits; it is left out rather than named wrongly.
        if (pDrive->IsKindOf(RUNTIME_CLASS(CPhysicalDrive)) && pDrive->GetIndex() >= 0 && pDrive->GetIndex() < 32)
            dwBitmap |= 1u << pDrive->GetIndex();
    }
    return dwBitmap;
}

BOOL CDiskDriveMonitor::GetFreeDriveLetter(CString& strDrive) {
    strDrive = u"?:";
    const DWORD dwUsed = ::GetLogicalDrives();
    for (int i = 2; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (!(dwUsed & (1u << i))) {
            strDrive.SetAt(0, static_cast<TCHAR>(u'A' + i));
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CDiskDriveMonitor::IsDriveParent(int nNumber, LPCTSTR lpszId) {
    HDEVINFO hSet =
        ::SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL bParent = FALSE;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(hSet, i, &device); ++i) {
        CPhysicalDrive* pDrive = GetPhyDriveRegistryProperty(hSet, device, ENUM_ALL, nullptr, 0);
        if (!pDrive)
            continue;
        const bool bThisDisk = pDrive->GetIndex() == nNumber;
        if (bThisDisk)
            bParent = EqualsNoCase(pDrive->GetName(), lpszId);
        delete pDrive;
        if (bThisDisk)
            break;
    }
    ::SetupDiDestroyDeviceInfoList(hSet);
    return bParent;
}

int CDiskDriveMonitor::GetPhysicalDrives(int nMode, LPCTSTR lpszLinkName) {
    HDEVINFO hSet =
        ::SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE)
        return 0;
    int nAdded = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(hSet, i, &device); ++i) {
        CPhysicalDrive* pDrive = GetPhyDriveRegistryProperty(hSet, device, nMode, lpszLinkName, m_dwFlags);
        if (!pDrive)
            continue;
        // A disk already tracked (an arrival notice for a disk seen at creation) is not taken twice.
        if (GetPhysicalDrive(pDrive->GetIndex()) || !pDrive->RegisterHandleChange(m_hWnd)) {
            delete pDrive;
            continue;
        }
        m_mapDrives.SetAt(pDrive->GetNotifyHandle(), pDrive);
        ++m_nPhysicalDrives;
        SendNotify(DRIVE_NOTIFY_DISK_ADDED, pDrive->GetIndex());
        ++nAdded;
    }
    ::SetupDiDestroyDeviceInfoList(hSet);
    return nAdded;
}

int CDiskDriveMonitor::EnumLogicalDrives(DWORD dwMask) {
    if (!(m_dwFlags & DRIVE_MONITOR_VOLUMES))
        return 0;
    if (dwMask == 0)
        dwMask = ::GetLogicalDrives();
    int nMade = 0;
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (!(dwMask & (1u << i)))
            continue;
        CString strName;
        strName.Format(u"%c:", static_cast<TCHAR>(u'A' + i));
        if (IsDriveAccepted(strName + u"\\", m_dwFlags) && CreateLogicalDrive(i, strName))
            ++nMade;
    }
    return nMade;
}

BOOL CDiskDriveMonitor::CreateLogicalDrive(int nIndex, LPCTSTR lpszName) {
    if (static_cast<unsigned>(nIndex) >= DRIVE_MONITOR_LETTERS)
        return FALSE;
    DiskDriveInfo info;
    info.hDevice = CDiskDrive::OpenVolume(CString(u"\\\\.\\") + lpszName);
    if (info.hDevice == INVALID_HANDLE_VALUE)
        return FALSE;
    STORAGE_DEVICE_NUMBER number{};
    DWORD dwReturned = 0;
    if (::DeviceIoControl(info.hDevice, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                          &dwReturned, nullptr)) {
        info.dwDeviceNumber = number.DeviceNumber;
        info.dwDeviceType = number.DeviceType;
    } else {
        info.dwDeviceNumber = 0;
        info.dwDeviceType = FILE_DEVICE_DISK;
    }
    CPhysicalDrive* pParent = GetPhysicalDrive(static_cast<int>(info.dwDeviceNumber));
    // A volume is tracked only on a tracked disk, and once per letter; the handle of one that is not goes.
    if ((info.dwDeviceType != FILE_DEVICE_DISK && info.dwDeviceType != FILE_DEVICE_VIRTUAL_DISK) || !pParent ||
        m_pVolumes[nIndex]) {
        ::CloseHandle(info.hDevice);
        return FALSE;
    }
    auto* pVolume = new CLogicalDrive(nIndex, lpszName, pParent, info);
    if (pVolume->RegisterHandleChange(m_hWnd))
        m_mapDrives.SetAt(pVolume->GetNotifyHandle(), pVolume);
    else
        pVolume->CloseDevice();
    m_pVolumes[nIndex] = pVolume;
    ++m_nLogicalDrives;
    pParent->AddLogicalDrive(pVolume);
    SendNotify(DRIVE_NOTIFY_VOLUME_ADDED, nIndex);
    return TRUE;
}

CLogicalDrive* CDiskDriveMonitor::RemoveLogicalDriveByIndex(int nIndex) {
    CLogicalDrive* pVolume = GetLogicalDrive(nIndex);
    if (!pVolume)
        return nullptr;
    SendNotify(DRIVE_NOTIFY_VOLUME_REMOVED, nIndex);
    --m_nLogicalDrives;
    m_pVolumes[nIndex] = nullptr;
    if (CPhysicalDrive* pParent = pVolume->GetParent())
        pParent->RemoveLogicalDrive(pVolume);
    // The entry is found by the volume itself: its notify handle may have been given up since it was registered
    // (a disk being prepared again closes its volumes' handles), and the key it was mapped under must go with it.
    POSITION pos = m_mapDrives.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapDrives.GetNextAssoc(pos, pKey, pValue);
        if (pValue == pVolume)
            m_mapDrives.RemoveKey(pKey);
    }
    return pVolume;
}

void CDiskDriveMonitor::DestroyLogicalDriveByBitmap(DWORD dwMask) {
    for (int i = 0; i < DRIVE_MONITOR_LETTERS; ++i) {
        if (dwMask & (1u << i))
            delete RemoveLogicalDriveByIndex(i);
    }
}

CDiskDrive* CDiskDriveMonitor::RemoveDiskDriveByNotifyHandle(HDEVNOTIFY hNotify, BOOL bNotify) {
    void* pValue = nullptr;
    if (!hNotify || !m_mapDrives.Lookup(hNotify, pValue))
        return nullptr;
    auto* pDrive = static_cast<CDiskDrive*>(pValue);
    if (pDrive->IsKindOf(RUNTIME_CLASS(CLogicalDrive))) {
        auto* pVolume = static_cast<CLogicalDrive*>(pDrive);
        if (bNotify)
            SendNotify(DRIVE_NOTIFY_VOLUME_REMOVED, pVolume->GetIndex());
        --m_nLogicalDrives;
        if (m_pVolumes[pVolume->GetIndex()] == pVolume)
            m_pVolumes[pVolume->GetIndex()] = nullptr;
        if (CPhysicalDrive* pParent = pVolume->GetParent())
            pParent->RemoveLogicalDrive(pVolume);
    } else {
        if (bNotify)
            SendNotify(DRIVE_NOTIFY_DISK_REMOVED, pDrive->GetIndex());
        --m_nPhysicalDrives;
    }
    m_mapDrives.RemoveKey(hNotify);
    return pDrive;
}

BOOL CDiskDriveMonitor::ReOpenDiskDriveByNofityHandle(HDEVNOTIFY hNotify) {
    CDiskDrive* pDrive = RemoveDiskDriveByNotifyHandle(hNotify, FALSE);
    if (!pDrive)
        return FALSE;
    const HDEVNOTIFY hNew = pDrive->Open(m_hWnd);
    if (!hNew || hNew == INVALID_HANDLE_VALUE) {
        // It stays out of the maps; nothing refers to it any more.
        if (pDrive->IsKindOf(RUNTIME_CLASS(CLogicalDrive)))
            static_cast<CLogicalDrive*>(pDrive)->ClearParent();
        delete pDrive;
        return FALSE;
    }
    m_mapDrives.SetAt(hNew, pDrive);
    if (pDrive->IsKindOf(RUNTIME_CLASS(CPhysicalDrive))) {
        ++m_nPhysicalDrives;
        SendNotify(DRIVE_NOTIFY_DISK_REOPENED, pDrive->GetIndex());
        return TRUE;
    }
    auto* pVolume = static_cast<CLogicalDrive*>(pDrive);
    ++m_nLogicalDrives;
    m_pVolumes[pVolume->GetIndex()] = pVolume;
    if (CPhysicalDrive* pParent = pVolume->GetParent())
        pParent->AddLogicalDrive(pVolume);
    SendNotify(DRIVE_NOTIFY_VOLUME_REOPENED, pVolume->GetIndex());
    return TRUE;
}

CPhysicalDrive* CDiskDriveMonitor::RemovePhysicalDriveByLinkName(LPCTSTR lpszLinkName) {
    POSITION pos = m_mapDrives.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_mapDrives.GetNextAssoc(pos, pKey, pValue);
        auto* pDrive = static_cast<CDiskDrive*>(pValue);
        if (!pDrive->IsKindOf(RUNTIME_CLASS(CPhysicalDrive)))
            continue;
        auto* pDisk = static_cast<CPhysicalDrive*>(pDrive);
        if (!EqualsNoCase(pDisk->GetInterfacePath(), lpszLinkName))
            continue;
        SendNotify(DRIVE_NOTIFY_DISK_REMOVED, pDisk->GetIndex());
        m_mapDrives.RemoveKey(pKey);
        --m_nPhysicalDrives;
        return pDisk;
    }
    return nullptr;
}

BOOL CDiskDriveMonitor::OnDeviceChange(UINT nEventType, DWORD_PTR dwData) {
    const auto* pHeader = reinterpret_cast<const DEV_BROADCAST_HDR*>(dwData);
    if (!pHeader)
        return TRUE;
    switch (nEventType) {
    case DBT_DEVICEARRIVAL:
        if (pHeader->dbch_devicetype == DBT_DEVTYP_VOLUME)
            EnumLogicalDrives(reinterpret_cast<const DEV_BROADCAST_VOLUME*>(pHeader)->dbcv_unitmask);
        else if (pHeader->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            GetPhysicalDrives(ENUM_BY_LINK,
                              reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(pHeader)->dbcc_name);
        return TRUE;
    case DBT_DEVICEQUERYREMOVE: {
        if (!(m_dwFlags & DRIVE_MONITOR_ASK_OWNER) || pHeader->dbch_devicetype != DBT_DEVTYP_HANDLE)
            return TRUE;
        void* pValue = nullptr;
        if (!m_mapDrives.Lookup(reinterpret_cast<const DEV_BROADCAST_HANDLE*>(pHeader)->dbch_hdevnotify, pValue))
            return TRUE;
        auto* pDrive = static_cast<CDiskDrive*>(pValue);
        const WPARAM wCode = pDrive->IsKindOf(RUNTIME_CLASS(CLogicalDrive)) ? DRIVE_NOTIFY_QUERY_REMOVE_VOLUME
                                                                            : DRIVE_NOTIFY_QUERY_REMOVE_DISK;
        const LRESULT lAnswer =
            m_hOwner && ::IsWindow(m_hOwner) ? ::SendMessageW(m_hOwner, WM_DRIVE_NOTIFY, wCode, pDrive->GetIndex()) : 0;
        if (lAnswer)
            return BROADCAST_QUERY_DENY;
        // The handle goes so that the removal can go ahead; the notification stays to hear how it ends.
        pDrive->CloseDevice();
        return TRUE;
    }
    case DBT_DEVICEQUERYREMOVEFAILED:
        if (pHeader->dbch_devicetype == DBT_DEVTYP_HANDLE)
            ReOpenDiskDriveByNofityHandle(reinterpret_cast<const DEV_BROADCAST_HANDLE*>(pHeader)->dbch_hdevnotify);
        return TRUE;
    case DBT_DEVICEREMOVECOMPLETE:
        if (pHeader->dbch_devicetype == DBT_DEVTYP_VOLUME)
            DestroyLogicalDriveByBitmap(reinterpret_cast<const DEV_BROADCAST_VOLUME*>(pHeader)->dbcv_unitmask);
        else if (pHeader->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            delete RemovePhysicalDriveByLinkName(
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(pHeader)->dbcc_name);
        else if (pHeader->dbch_devicetype == DBT_DEVTYP_HANDLE)
            delete RemoveDiskDriveByNotifyHandle(
                reinterpret_cast<const DEV_BROADCAST_HANDLE*>(pHeader)->dbch_hdevnotify, TRUE);
        return TRUE;
    default:
        return TRUE;
    }
}

void CDiskDriveMonitor::OnEndSession(BOOL bEnding) {
    CWnd::OnEndSession(bEnding);
    if (bEnding)
        DestroyWindow();
}
