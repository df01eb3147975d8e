#include "shared/PhysicalDrive.h"

#include "shared/LogicalDrive.h"

#include "platform/base/errors.h"
#include "platform/fs/files.h"
#include "platform/kernel/device_io.h"

#include <cstring>
#include <vector>

IMPLEMENT_DYNCREATE(CPhysicalDrive, CDiskDrive)

namespace {

constexpr BYTE kPublicPartitionType = 0x06;
constexpr BYTE kSecurePartitionType = 0x63;

BOOL Control(HANDLE hDevice, DWORD dwCode, const void* pIn, DWORD dwIn, void* pOut, DWORD dwOut) {
    DWORD dwReturned = 0;
    return ::DeviceIoControl(hDevice, dwCode, const_cast<void*>(pIn), dwIn, pOut, dwOut, &dwReturned, nullptr);
}

bool IsOpen(HANDLE hDevice) {
    return hDevice && hDevice != INVALID_HANDLE_VALUE;
}

} // namespace

CPhysicalDrive::CPhysicalDrive(const DiskDriveInfo& info, const CString& strHardwareId, const CString& strInstanceId,
                               const CString& strFriendlyName, const CString& strInterfacePath,
                               const CString& strParentId)
    : CDiskDrive(info), m_strHardwareId(strHardwareId), m_strInstanceId(strInstanceId),
      m_strFriendlyName(strFriendlyName), m_strInterfacePath(strInterfacePath), m_strParentId(strParentId) {
    if (info.geometry.BytesPerSector) {
        m_dwTracksPerCylinder = info.geometry.TracksPerCylinder;
        m_dwSectorsPerTrack = info.geometry.SectorsPerTrack;
        m_dwBytesPerSector = info.geometry.BytesPerSector;
    }
}

CPhysicalDrive::~CPhysicalDrive() {
    POSITION pos = m_childVolumes.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_childVolumes.GetNextAssoc(pos, pKey, pValue);
        static_cast<CLogicalDrive*>(pValue)->ClearParent();
    }
    m_childVolumes.RemoveAll();
}

BOOL CPhysicalDrive::GetPhysicalDriveInfo(LPCTSTR lpszPath, DiskDriveInfo& info, DWORD dwFlags) {
    info = DiskDriveInfo{};
    info.hDevice = OpenPhysical(lpszPath);
    if (info.hDevice == INVALID_HANDLE_VALUE)
        return FALSE;
    STORAGE_DEVICE_NUMBER number{};
    if (!Control(info.hDevice, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number))) {
        ::CloseHandle(info.hDevice);
        info.hDevice = INVALID_HANDLE_VALUE;
        return FALSE;
    }
    info.dwDeviceType = number.DeviceType;
    info.dwDeviceNumber = number.DeviceNumber;
    // A disk whose geometry cannot be read is still taken, with no capacity.
    if (Control(info.hDevice, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &info.geometry, sizeof(info.geometry)))
        info.ullCapacity = static_cast<ULONGLONG>(info.geometry.Cylinders.QuadPart) * info.geometry.TracksPerCylinder *
                           info.geometry.SectorsPerTrack * info.geometry.BytesPerSector;
    else
        info.geometry = DISK_GEOMETRY{};
    if (dwFlags & DRIVE_MONITOR_NO_REMOVABLE) {
        std::vector<BYTE> result(4096);
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageAdapterProperty;
        query.QueryType = PropertyStandardQuery;
        if (!Control(info.hDevice, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), result.data(),
                     static_cast<DWORD>(result.size())))
            return TRUE;
        query.PropertyId = StorageDeviceProperty;
        std::fill(result.begin(), result.end(), 0);
        if (!Control(info.hDevice, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), result.data(),
                     static_cast<DWORD>(result.size())))
            return TRUE;
        info.dwRemovable = result[offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia)] ? 1 : 0;
        if (info.dwRemovable) {
            ::CloseHandle(info.hDevice);
            info.hDevice = INVALID_HANDLE_VALUE;
            return FALSE;
        }
    }
    return TRUE;
}

CString CPhysicalDrive::GetDescription() const {
    CString strText;
    strText.Format(u"Physical disk %d - %dGB", static_cast<int>(m_info.dwDeviceNumber),
                   static_cast<int>(m_info.ullCapacity / 1024 / 1024 / 1024));
    return strText;
}

CString CPhysicalDrive::GetSecurePartitionName() const {
    CString strName;
    strName.Format(u"\\Device\\Harddisk%d\\Partition2", static_cast<int>(m_info.dwDeviceNumber));
    return strName;
}

DWORD CPhysicalDrive::GetDriveLayout(void* pBuffer, DWORD dwSize) const {
    memset(pBuffer, 0, dwSize);
    if (!Control(m_info.hDevice, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, pBuffer, dwSize))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

BOOL CPhysicalDrive::HasDiskSignature(DWORD dwSignature) {
    if (m_dwSignature == 0) {
        alignas(8) BYTE layout[DRIVE_LAYOUT_BUFFER_SIZE];
        if (GetDriveLayout(layout, sizeof(layout)) == ERROR_SUCCESS)
            m_dwSignature = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION*>(layout)->Signature;
    }
    return m_dwSignature == dwSignature;
}

DWORD CPhysicalDrive::Transfer(ULONGLONG ullOffset, void* pBuffer, DWORD dwBytes, bool bWrite) {
    if (m_dwBytesPerSector == 0 || dwBytes % m_dwBytesPerSector)
        return ERROR_INVALID_PARAMETER;
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(ullOffset);
    if (!::SetFilePointerEx(m_info.hDevice, offset, nullptr, FILE_BEGIN))
        return ::GetLastError();
    auto* pBytes = static_cast<BYTE*>(pBuffer);
    DWORD dwDone = 0;
    while (dwDone < dwBytes) {
        DWORD dwCount = 0;
        const BOOL bOk = bWrite ? ::WriteFile(m_info.hDevice, pBytes + dwDone, dwBytes - dwDone, &dwCount, nullptr)
                                : ::ReadFile(m_info.hDevice, pBytes + dwDone, dwBytes - dwDone, &dwCount, nullptr);
        if (!bOk)
            return ::GetLastError();
        // A transfer that makes no progress (the end of the disk) would otherwise loop for ever.
        if (dwCount == 0)
            return ERROR_HANDLE_EOF;
        dwDone += dwCount;
    }
    return ERROR_SUCCESS;
}

DWORD CPhysicalDrive::Read(ULONGLONG ullOffset, void* pBuffer, DWORD dwBytes) {
    return Transfer(ullOffset, pBuffer, dwBytes, false);
}

DWORD CPhysicalDrive::Write(ULONGLONG ullOffset, const void* pBuffer, DWORD dwBytes) {
    return Transfer(ullOffset, const_cast<void*>(pBuffer), dwBytes, true);
}

ULONGLONG CPhysicalDrive::AlignToTrack(ULONGLONG ullBytes) const {
    const ULONGLONG ullTrack = static_cast<ULONGLONG>(m_dwSectorsPerTrack) * m_dwBytesPerSector;
    return ullTrack ? ullBytes / ullTrack * ullTrack : ullBytes;
}

BOOL CPhysicalDrive::WriteLayout(DWORD dwSignature, const DRIVE_LAYOUT_INFORMATION* pLayout, DWORD dwSize) {
    CREATE_DISK create{};
    create.PartitionStyle = PARTITION_STYLE_MBR;
    create.Mbr.Signature = dwSignature;
    // The disk is wiped only when the new boot record could be written; a refusal (a volume of the disk still in
    // use) leaves it as it was.
    if (!Control(m_info.hDevice, IOCTL_DISK_CREATE_DISK, &create, sizeof(create), nullptr, 0))
        return FALSE;
    Control(m_info.hDevice, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0);
    if (!Control(m_info.hDevice, IOCTL_DISK_SET_DRIVE_LAYOUT, pLayout, dwSize, nullptr, 0))
        return FALSE;
    Control(m_info.hDevice, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0);
    // The cached signature is the new one from now on.
    m_dwSignature = dwSignature;
    return TRUE;
}

BOOL CPhysicalDrive::MakeTwoPartitions(DWORD dwSignature, ULONGLONG ullPublicMegabytes) {
    if (!IsOpen(m_info.hDevice)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const ULONGLONG ullTrack = static_cast<ULONGLONG>(m_dwSectorsPerTrack) * m_dwBytesPerSector;
    const ULONGLONG ullCapacity = m_info.ullCapacity;
    const ULONGLONG ullPublic = ullPublicMegabytes * 1048576ull;
    // Both partitions must hold at least one track: a public size below a track, or one that leaves no track for
    // the secure partition, makes no layout (and nothing is written).
    const ULONGLONG ullLength1 = ullPublic > ullTrack ? AlignToTrack(ullPublic - ullTrack) : 0;
    const ULONGLONG ullStart2 = ullTrack + ullLength1 + ullTrack;
    const ULONGLONG ullLength2 = ullCapacity > ullStart2 ? AlignToTrack(ullCapacity - ullStart2) : 0;
    if (ullPublic > ullCapacity || ullLength1 == 0 || ullLength2 == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    alignas(8) BYTE buffer[DRIVE_LAYOUT_BUFFER_SIZE] = {};
    auto* pLayout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION*>(buffer);
    pLayout->PartitionCount = 4;
    pLayout->Signature = dwSignature;
    PARTITION_INFORMATION entries[4] = {};
    entries[0].StartingOffset.QuadPart = static_cast<LONGLONG>(ullTrack);
    entries[0].PartitionLength.QuadPart = static_cast<LONGLONG>(ullLength1);
    entries[0].HiddenSectors = m_dwSectorsPerTrack;
    entries[0].PartitionNumber = 1;
    entries[0].PartitionType = kPublicPartitionType;
    entries[0].RecognizedPartition = TRUE;
    entries[1].StartingOffset.QuadPart = static_cast<LONGLONG>(ullStart2);
    entries[1].PartitionLength.QuadPart = static_cast<LONGLONG>(ullLength2);
    entries[1].HiddenSectors = static_cast<DWORD>(ullStart2 / m_dwBytesPerSector);
    entries[1].PartitionNumber = 2;
    entries[1].PartitionType = kSecurePartitionType;
    entries[1].RecognizedPartition = FALSE;
    for (auto& entry : entries)
        entry.RewritePartition = TRUE;
    memcpy(buffer + offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry), entries, sizeof(entries));
    return WriteLayout(dwSignature, pLayout, sizeof(buffer));
}

BOOL CPhysicalDrive::MakeOnePartition(DWORD dwSignature) {
    if (!IsOpen(m_info.hDevice)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const ULONGLONG ullTrack = static_cast<ULONGLONG>(m_dwSectorsPerTrack) * m_dwBytesPerSector;
    const ULONGLONG ullLength = m_info.ullCapacity > ullTrack ? AlignToTrack(m_info.ullCapacity - ullTrack) : 0;
    if (ullLength == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    alignas(8) BYTE buffer[DRIVE_LAYOUT_BUFFER_SIZE] = {};
    auto* pLayout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION*>(buffer);
    pLayout->PartitionCount = 4;
    pLayout->Signature = dwSignature;
    PARTITION_INFORMATION entries[4] = {};
    entries[0].StartingOffset.QuadPart = static_cast<LONGLONG>(ullTrack);
    entries[0].PartitionLength.QuadPart = static_cast<LONGLONG>(ullLength);
    entries[0].HiddenSectors = m_dwSectorsPerTrack;
    entries[0].PartitionNumber = 1;
    entries[0].PartitionType = kPublicPartitionType;
    entries[0].RecognizedPartition = TRUE;
    for (auto& entry : entries)
        entry.RewritePartition = TRUE;
    memcpy(buffer + offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry), entries, sizeof(entries));
    return WriteLayout(dwSignature, pLayout, sizeof(buffer));
}

void CPhysicalDrive::AddLogicalDrive(CLogicalDrive* pVolume) {
    m_childVolumes.SetAt(pVolume, pVolume);
    pVolume->SetParent(this);
}

void CPhysicalDrive::RemoveLogicalDrive(CLogicalDrive* pVolume) {
    m_childVolumes.RemoveKey(pVolume);
}

DWORD CPhysicalDrive::GetLogicalDrivesBitmap() const {
    DWORD dwBitmap = 0;
    POSITION pos = m_childVolumes.GetStartPosition();
    while (pos) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_childVolumes.GetNextAssoc(pos, pKey, pValue);
        const int nIndex = static_cast<CLogicalDrive*>(pValue)->GetIndex();
        if (nIndex >= 0 && nIndex < 32)
            dwBitmap |= 1u << nIndex;
    }
    return dwBitmap;
}
