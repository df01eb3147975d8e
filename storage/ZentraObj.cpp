#include "storage/ZentraObj.h"

#include "storage/ZentraDriver.h"

#include "driver/ZentraIoctl.h"

#include "platform/afx/afx.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/devices/volumenames.h"
#include "platform/fs/files.h"
#include "platform/kernel/device_io.h"

#include <algorithm>
#include <cstring>

IMPLEMENT_DYNCREATE(CZentraObj, CObject)

namespace {

constexpr DWORD kRecordBytes = 118;      // the record's fixed part as allocated, before the path's characters
constexpr DWORD kQueryBufferBytes = 552; // the reply buffer of IOCTL_VYXDISK_QUERY_DEVICE
constexpr int kMountTries = 3;
constexpr DWORD kMountRetryWait = 300;
constexpr DWORD kPasswordRecordBytes = 140;

// The password as 8-bit text of the system's code page, in at most `capacity` bytes. False when it does not fit
// (the record holds 64 meaningful bytes): a password is never cut short, so that it cannot silently change.
bool PasswordBytes(LPCTSTR lpszPassword, BYTE* pOut, size_t capacity, USHORT& length) {
    length = 0;
    if (!lpszPassword || !*lpszPassword)
        return true;
    const int nBytes = ::WideCharToMultiByte(CP_ACP, 0, lpszPassword, -1, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0 || static_cast<size_t>(nBytes - 1) > std::min<size_t>(capacity, ZENTRA_PASSWORD_MAX))
        return false;
    std::vector<char> text(static_cast<size_t>(nBytes), 0);
    ::WideCharToMultiByte(CP_ACP, 0, lpszPassword, -1, text.data(), nBytes, nullptr, nullptr);
    memcpy(pOut, text.data(), static_cast<size_t>(nBytes - 1));
    length = static_cast<USHORT>(nBytes - 1);
    std::fill(text.begin(), text.end(), 0);
    return true;
}

bool StartsWith(const CString& strText, LPCTSTR lpszPrefix) {
    const int nLength = lstrlenW(lpszPrefix);
    return strText.GetLength() >= nLength && strText.Left(nLength) == lpszPrefix;
}

// Creates a folder with every missing parent; a drive root counts as existing.
void MakeDirectory(const CString& strFolder) {
    if (strFolder.GetLength() <= 3)
        return;
    if (::CreateDirectoryW(strFolder, nullptr))
        return;
    const DWORD dwError = ::GetLastError();
    if (dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_ACCESS_DENIED)
        return;
    const int nSlash = strFolder.ReverseFind(u'\\');
    if (nSlash <= 0)
        return;
    MakeDirectory(strFolder.Left(nSlash));
    ::CreateDirectoryW(strFolder, nullptr);
}

HANDLE OpenDisk(LPCTSTR lpszPath, DWORD dwAccess, DWORD dwShare) {
    return ::CreateFileW(lpszPath, dwAccess, dwShare, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
}

} // namespace

CZentraObj::CZentraObj(std::vector<BYTE> record) : m_record(std::move(record)) {
    SetDrive(static_cast<int>(Record()->DriveNumber));
    m_bMounted = TRUE;
}

CZentraObj::~CZentraObj() {
    BurnPassword();
}

void CZentraObj::BurnPassword() {
    if (m_record.size() >= offsetof(ZENTRA_DEVICE_RECORD, CdRom)) {
        volatile BYTE* pBytes = m_record.data();
        for (size_t i = 0; i < offsetof(ZENTRA_DEVICE_RECORD, CdRom); ++i)
            pBytes[i] = 0;
    }
}

void CZentraObj::SetDrive(int nDriveNumber) {
    m_nDriveNumber = nDriveNumber;
    const TCHAR cLetter = static_cast<TCHAR>(u'A' + nDriveNumber);
    m_strVolumePath.Format(u"\\\\.\\%c:", cLetter);
    m_strDeviceName.Format(u"\\Device\\Zentra\\VyxDisk%c", cLetter);
    m_volume = DEV_BROADCAST_VOLUME{};
    m_volume.dbcv_size = sizeof(DEV_BROADCAST_VOLUME);
    m_volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    m_volume.dbcv_unitmask = 1u << nDriveNumber;
    m_volume.dbcv_flags = DBTF_NET;
}

DWORD CZentraObj::RecordLength() const {
    return static_cast<DWORD>(Record()->PathLength) + ZENTRA_DEVICE_RECORD_EXTRA;
}

CString CZentraObj::GetNtPath(LPCTSTR lpszImagePath) {
    const CString strPath(lpszImagePath);
    if (strPath.IsEmpty() || strPath[0] != u'\\')
        return u"\\??\\" + strPath;
    if (strPath.GetLength() > 1 && strPath[1] == u'\\')
        return u"\\??\\UNC" + strPath.Mid(1);
    return strPath;
}

DWORD CZentraObj::GetImageDiskNumber(LPCTSTR lpszImagePath) {
    const CString strPath(lpszImagePath);
    CString strDevice;
    const bool bSingleBackslash =
        strPath.GetLength() > 0 && strPath[0] == u'\\' && (strPath.GetLength() < 2 || strPath[1] != u'\\');
    if (!bSingleBackslash && strPath.Find(u':') >= 0) {
        strDevice = u"\\\\.\\" + strPath.Left(2);
    } else if (bSingleBackslash && strPath.Find(u"\\Partition") >= 0) {
        const int nStart = strPath.Find(u"\\Device\\Harddisk");
        const int nEnd = strPath.Find(u"\\Partition");
        if (nStart < 0 || nEnd < nStart)
            return 0;
        const int nDigits = nStart + lstrlenW(u"\\Device\\Harddisk");
        strDevice = u"\\\\.\\PhysicalDrive" + strPath.Mid(nDigits, nEnd - nDigits);
    } else {
        return 0;
    }
    HANDLE hDevice =
        ::CreateFileW(strDevice, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hDevice == INVALID_HANDLE_VALUE)
        return 0;
    STORAGE_DEVICE_NUMBER number{};
    DWORD dwReturned = 0;
    const BOOL bOk = ::DeviceIoControl(hDevice, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                                       &dwReturned, nullptr);
    ::CloseHandle(hDevice);
    return bOk ? number.DeviceNumber : 0;
}

DWORD CZentraObj::Prepare(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode, bool bCreate,
                          ULONGLONG ullImageSize) {
    if (!lpszDrive || !*lpszDrive || !lpszImagePath)
        return ERROR_INVALID_PARAMETER;
    const TCHAR cLetter = platform::FoldUpper(lpszDrive[0]);
    if (cLetter < u'A' || cLetter > u'Z')
        return ERROR_INVALID_PARAMETER;
    const CString strNtPath = GetNtPath(lpszImagePath);
    const DWORD dwPathBytes = static_cast<DWORD>(strNtPath.GetLength()) * sizeof(WCHAR);
    if (dwPathBytes == 0 || dwPathBytes > 0xFFFF - ZENTRA_DEVICE_RECORD_EXTRA)
        return ERROR_INVALID_PARAMETER;
    const size_t nSize = std::max<size_t>(kRecordBytes + 2 * static_cast<size_t>(lstrlenW(lpszImagePath)),
                                          ZENTRA_DEVICE_RECORD_EXTRA + dwPathBytes);
    m_record.assign(nSize, 0);
    ZENTRA_DEVICE_RECORD* pRecord = Record();
    pRecord->CreateNew = bCreate ? 1 : 0;
    pRecord->CdRom = !bCreate && nMode == ZENTRA_MODE_CDROM ? 1 : 0;
    if (nMode == ZENTRA_MODE_ENCRYPTED) {
        pRecord->Encrypted = 1;
        USHORT nLength = 0;
        if (!PasswordBytes(lpszPassword, pRecord->Password, sizeof(pRecord->Password), nLength)) {
            m_record.clear();
            return ERROR_INVALID_PARAMETER;
        }
        pRecord->PasswordLength = nLength;
    }
    SetDrive(cLetter - u'A');
    pRecord->DriveNumber = static_cast<ULONG>(m_nDriveNumber);
    pRecord->PhysicalDiskNumber = GetImageDiskNumber(lpszImagePath);
    pRecord->ImageSize = ullImageSize;
    pRecord->PathLength = static_cast<USHORT>(dwPathBytes);
    memcpy(reinterpret_cast<BYTE*>(pRecord) + offsetof(ZENTRA_DEVICE_RECORD, Path), static_cast<LPCTSTR>(strNtPath),
           dwPathBytes);
    return ERROR_SUCCESS;
}

DWORD CZentraObj::DefineLetter() {
    if (::DefineDosDeviceW(DDD_RAW_TARGET_PATH, GetDriveName(), m_strDeviceName))
        return ERROR_SUCCESS;
    const DWORD dwError = ::GetLastError();
    // The disk is given back to the driver rather than left mounted without anyone knowing of it.
    const ULONG ulDrive = static_cast<ULONG>(m_nDriveNumber);
    SendControl(IOCTL_VYXDISK_DISMOUNT, &ulDrive, sizeof(ulDrive), nullptr, 0);
    return dwError;
}

DWORD CZentraObj::Create(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode,
                         DWORD dwSizeMegabytes) {
    if (nMode == ZENTRA_MODE_CDROM)
        nMode = ZENTRA_MODE_PLAIN;
    DWORD dwResult =
        Prepare(lpszDrive, lpszImagePath, lpszPassword, nMode, true, static_cast<ULONGLONG>(dwSizeMegabytes) << 20);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    const CString strImage(lpszImagePath);
    if (strImage.IsEmpty() || strImage[0] != u'\\' || (strImage.GetLength() > 1 && strImage[1] == u'\\')) {
        const int nSlash = strImage.ReverseFind(u'\\');
        if (nSlash > 0) {
            const CString strFolder = strImage.Left(nSlash);
            MakeDirectory(strFolder);
            ::SetFileAttributesW(strFolder, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        }
    }
    HANDLE hVolume = OpenDisk(m_strVolumePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (hVolume != INVALID_HANDLE_VALUE) {
        ::CloseHandle(hVolume);
        TRACE(u"Error: Drive %s has been assigned!\n", static_cast<LPCTSTR>(GetDriveName()));
        BurnPassword();
        return ERROR_ALREADY_EXISTS;
    }
    dwResult = SendControl(IOCTL_VYXDISK_MOUNT, m_record.data(), RecordLength(), nullptr, 0);
    BurnPassword();
    if (dwResult != ERROR_SUCCESS) {
        TRACE(u"Error: IOCTL_VYXDISK_MOUNT return code %d!\n", dwResult);
        return dwResult;
    }
    dwResult = DefineLetter();
    m_bMounted = dwResult == ERROR_SUCCESS;
    return dwResult;
}

DWORD CZentraObj::Mount(LPCTSTR lpszDrive, LPCTSTR lpszImagePath, LPCTSTR lpszPassword, int nMode) {
    DWORD dwResult = Prepare(lpszDrive, lpszImagePath, lpszPassword, nMode, false, 0);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    HANDLE hVolume = OpenDisk(m_strVolumePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (hVolume != INVALID_HANDLE_VALUE) {
        ::CloseHandle(hVolume);
        TRACE(u"Error: Drive %s has been assigned!\n", static_cast<LPCTSTR>(GetDriveName()));
        BurnPassword();
        return ERROR_ALREADY_EXISTS;
    }
    for (int nTry = 0; nTry < kMountTries; ++nTry) {
        dwResult = SendControl(IOCTL_VYXDISK_MOUNT, m_record.data(), RecordLength(), nullptr, 0);
        if (dwResult == ERROR_SUCCESS || dwResult == ERROR_INVALID_PASSWORD)
            break;
        TRACE(u"Error: IOCTL_VYXDISK_MOUNT (%s) return code %d!\n", lpszImagePath, dwResult);
        ::Sleep(kMountRetryWait);
    }
    BurnPassword();
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    dwResult = DefineLetter();
    m_bMounted = dwResult == ERROR_SUCCESS;
    return dwResult;
}

DWORD CZentraObj::Unmount() {
    const ULONG ulDrive = static_cast<ULONG>(m_nDriveNumber);
    const DWORD dwDismount = SendControl(IOCTL_VYXDISK_DISMOUNT, &ulDrive, sizeof(ulDrive), nullptr, 0);
    // The driver having no disk on the letter (ERROR_NOT_READY) means it is gone already; any other refusal
    // leaves it mounted, and then its letter stays too: a disk still in use is never taken for closed.
    if (dwDismount != ERROR_SUCCESS && dwDismount != ERROR_NOT_READY) {
        TRACE(u"Fail to issue IOCTL_ZENTRA_DELETE_DEV with error code %d!\n", dwDismount);
        return dwDismount;
    }
    m_bMounted = FALSE;
    const CString strRoot = GetDriveName() + u"\\";
    ::DeleteVolumeMountPointW(strRoot);
    if (!::DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, GetDriveName(),
                            m_strDeviceName))
        return ::GetLastError();
    DWORD dwRecipients = BSM_ALLCOMPONENTS;
    ::BroadcastSystemMessageW(BSF_IGNORECURRENTTASK, &dwRecipients, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                              reinterpret_cast<LPARAM>(&m_volume));
    return ERROR_SUCCESS;
}

DWORD CZentraObj::ChangePasswd(LPCTSTR lpszOldPassword, LPCTSTR lpszNewPassword) {
    BYTE record[kPasswordRecordBytes] = {};
    auto* pRecord = reinterpret_cast<ZENTRA_PASSWD_RECORD*>(record);
    pRecord->DriveNumber = static_cast<ULONG>(m_nDriveNumber);
    USHORT nOld = 0;
    USHORT nNew = 0;
    if (!PasswordBytes(lpszOldPassword, pRecord->OldPassword, sizeof(pRecord->OldPassword), nOld) ||
        !PasswordBytes(lpszNewPassword, pRecord->NewPassword, sizeof(pRecord->NewPassword), nNew)) {
        memset(record, 0, sizeof(record));
        return ERROR_INVALID_PARAMETER;
    }
    pRecord->OldPasswordLength = nOld;
    pRecord->NewPasswordLength = nNew;
    HANDLE hVolume = OpenDisk(m_strVolumePath, GENERIC_READ | GENERIC_WRITE, 0);
    if (hVolume == INVALID_HANDLE_VALUE) {
        const DWORD dwError = ::GetLastError();
        TRACE(u"ChangePasswd: Can't open disk %s with error code %d!\n", static_cast<LPCTSTR>(m_strVolumePath),
              dwError);
        memset(record, 0, sizeof(record));
        return dwError;
    }
    DWORD dwReturned = 0;
    DWORD dwResult = ERROR_SUCCESS;
    if (!::DeviceIoControl(hVolume, IOCTL_VYXDISK_CHANGE_PASSWD, record, sizeof(record), nullptr, 0, &dwReturned,
                           nullptr)) {
        dwResult = ::GetLastError();
        TRACE(u"Fail to issue IOCTL_VYXDISK_CHANGE_PASSWD with error code %d!\n", dwResult);
    }
    ::CloseHandle(hVolume);
    volatile BYTE* pBytes = record;
    for (size_t i = 0; i < sizeof(record); ++i)
        pBytes[i] = 0;
    return dwResult;
}

DWORD CZentraObj::QueryDevice(int nIndex, CZentraObj** ppObject) {
    *ppObject = nullptr;
    CString strPath;
    strPath.Format(u"\\\\.\\%c:", static_cast<TCHAR>(u'A' + nIndex));
    HANDLE hDisk = OpenDisk(strPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (hDisk == INVALID_HANDLE_VALUE) {
        const DWORD dwError = ::GetLastError();
        TRACE(u"Error: Fail to open VyxDisk with code %d!\n", dwError);
        return dwError;
    }
    alignas(8) BYTE reply[kQueryBufferBytes] = {};
    DWORD dwReturned = 0;
    const BOOL bOk =
        ::DeviceIoControl(hDisk, IOCTL_VYXDISK_QUERY_DEVICE, nullptr, 0, reply, sizeof(reply), &dwReturned, nullptr);
    const DWORD dwError = bOk ? ERROR_SUCCESS : ::GetLastError();
    ::CloseHandle(hDisk);
    if (!bOk) {
        TRACE(u"Error: IOCTL_VYXDISK_QUERY_DEVICE return code %d!\n", dwError);
        return dwError;
    }
    const auto* pReply = reinterpret_cast<const ZENTRA_QUERY_REPLY*>(reply);
    const DWORD dwPathBytes =
        std::min<DWORD>(pReply->PathLength, sizeof(reply) - offsetof(ZENTRA_QUERY_REPLY, Path)) & ~1u;
    std::vector<BYTE> record(kRecordBytes + dwPathBytes, 0);
    auto* pRecord = reinterpret_cast<ZENTRA_DEVICE_RECORD*>(record.data());
    pRecord->CreateNew = 1;
    pRecord->CdRom = pReply->ReadOnly;
    pRecord->Encrypted = pReply->Encrypted;
    pRecord->PhysicalDiskNumber = pReply->PhysicalDiskNumber;
    pRecord->DriveNumber = pReply->DriveNumber;
    pRecord->ImageSize = pReply->ImageSize;
    pRecord->PathLength = static_cast<USHORT>(dwPathBytes);
    memcpy(record.data() + offsetof(ZENTRA_DEVICE_RECORD, Path), reply + offsetof(ZENTRA_QUERY_REPLY, Path),
           dwPathBytes);
    if (pRecord->DriveNumber >= ZENTRA_MAX_DRIVES)
        return ERROR_INVALID_DATA;
    *ppObject = new CZentraObj(std::move(record));
    return ERROR_SUCCESS;
}

BOOL CZentraObj::IsOnPhysicalDisk(DWORD dwDiskNumber) const {
    return !m_record.empty() && Record()->PhysicalDiskNumber == dwDiskNumber;
}

DWORD CZentraObj::GetPhysicalDiskNumber() const {
    return m_record.empty() ? 0 : Record()->PhysicalDiskNumber;
}

CString CZentraObj::GetImagePath() const {
    if (m_record.empty())
        return CString();
    const ZENTRA_DEVICE_RECORD* pRecord = Record();
    const auto* pPath =
        reinterpret_cast<const WCHAR*>(reinterpret_cast<const BYTE*>(pRecord) + offsetof(ZENTRA_DEVICE_RECORD, Path));
    const CString strPath(pPath, pRecord->PathLength / sizeof(WCHAR));
    // A network path keeps its two leading backslashes.
    if (StartsWith(strPath, u"\\??\\UNC\\"))
        return u"\\" + strPath.Mid(7);
    if (StartsWith(strPath, u"\\??\\"))
        return strPath.Mid(4);
    return strPath;
}
