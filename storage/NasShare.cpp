#include "storage/NasShare.h"

#include "platform/afx/Dialog.h"
#include "platform/base/errors.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/net/wnet.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/msgbox.h"

#include <memory>
#include <vector>

namespace {

constexpr UINT IDS_NAS_LOGON_USER = 7003;
constexpr UINT IDS_NAS_READ_ONLY = 7004;
constexpr UINT IDS_NAS_BAD_PASSWORD = 7005;
constexpr UINT IDS_NAS_UNREACHABLE = 7006;
constexpr UINT IDS_NAS_NO_SERVER = 7007;
constexpr UINT IDS_NAS_NO_ACCESS = 7008;
constexpr UINT IDS_NAS_CANNOT_LOGIN = 7009;

constexpr LPCTSTR kProbeFile = _T(".netbak_last_access");

bool IsNtPlatform() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

CString RemoteName(LPCTSTR lpszServer, LPCTSTR lpszShare) {
    CString strRemote;
    if (lpszShare && *lpszShare)
        strRemote.Format(_T("\\\\%s\\%s"), lpszServer, lpszShare);
    else
        strRemote.Format(_T("\\\\%s"), lpszServer);
    return strRemote;
}

// The current connections as records (their texts live in the buffers kept here).
struct Connections {
    std::vector<std::unique_ptr<BYTE[]>> buffers;
    std::vector<NETRESOURCEW*> records;
};

Connections CurrentConnections() {
    Connections result;
    HANDLE hEnum = nullptr;
    if (WNetOpenEnumW(RESOURCE_CONNECTED, RESOURCETYPE_ANY, 0, nullptr, &hEnum) != ERROR_SUCCESS)
        return result;
    for (int nRound = 0; nRound < 1000; ++nRound) {
        DWORD dwCount = 0xFFFFFFFF, dwSize = 16384;
        auto buffer = std::make_unique<BYTE[]>(dwSize);
        const DWORD dwResult = WNetEnumResourceW(hEnum, &dwCount, buffer.get(), &dwSize);
        if (dwResult != ERROR_SUCCESS)
            break;
        auto* pRecords = reinterpret_cast<NETRESOURCEW*>(buffer.get());
        for (DWORD i = 0; i < dwCount; ++i)
            result.records.push_back(&pRecords[i]);
        result.buffers.push_back(std::move(buffer));
    }
    WNetCloseEnum(hEnum);
    return result;
}

bool BeginsWithServer(LPCWSTR lpszRemote, const CString& strPrefix) {
    if (!lpszRemote)
        return false;
    CString strRemote(lpszRemote);
    return strRemote.GetLength() >= strPrefix.GetLength() &&
           strRemote.Left(strPrefix.GetLength()).CompareNoCase(strPrefix) == 0;
}

// Cancels one connection by the name that cancels exactly it: its letter, or its remote name when it has none.
bool CancelConnection(const NETRESOURCEW& record) {
    LPCWSTR lpszName = (record.lpLocalName && *record.lpLocalName) ? record.lpLocalName : record.lpRemoteName;
    return WNetCancelConnection2W(lpszName, CONNECT_UPDATE_PROFILE, TRUE) == ERROR_SUCCESS;
}

} // namespace

BOOL CheckNasUser(BOOL bQuiet) {
    if (IsNtPlatform())
        return TRUE;
    WCHAR szUser[256] = {};
    DWORD dwSize = 256;
    if (GetUserNameW(szUser, &dwSize))
        return TRUE;
    if (!bQuiet)
        AfxMessageBox(IDS_NAS_LOGON_USER);
    return FALSE;
}

int ProbeShareAccess(LPCTSTR lpszRemoteName) {
    CString strPath(lpszRemoteName);
    if (strPath.IsEmpty() || strPath[strPath.GetLength() - 1] != _T('\\'))
        strPath += _T('\\');
    const CString strProbe = strPath + kProbeFile;

    const DWORD dwAttributes = GetFileAttributesW(strProbe);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        // A probe file that is already there is not ours to delete: it is opened to write and left as it was.
        SetFileAttributesW(strProbe, FILE_ATTRIBUTE_NORMAL);
        HANDLE hFile = CreateFileW(strProbe, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        SetFileAttributesW(strProbe, dwAttributes);
        if (hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(hFile);
            return NAS_ACCESS_READWRITE;
        }
    } else {
        HANDLE hFile =
            CreateFileW(strProbe, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                        FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(hFile);
            return NAS_ACCESS_READWRITE;
        }
    }

    WIN32_FIND_DATAW data{};
    HANDLE hFind = FindFirstFileW(strPath + _T("*.*"), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return NAS_ACCESS_NONE;
    FindClose(hFind);
    return NAS_ACCESS_READ;
}

void EnumerateConnectedShares(CString& strNames, int& nCount) {
    strNames.Empty();
    nCount = 0;
    for (const NETRESOURCEW* pRecord : CurrentConnections().records) {
        if (!pRecord->lpRemoteName)
            continue;
        strNames += pRecord->lpRemoteName;
        strNames += _T('\n');
        ++nCount;
    }
}

DWORD EnumerateShareFolders(LPCTSTR lpszServer, CString& strNames, int& nCount) {
    strNames.Empty();
    nCount = 0;
    CString strRemote = RemoteName(lpszServer, nullptr);
    NETRESOURCEW resource{};
    resource.dwScope = RESOURCE_GLOBALNET;
    resource.dwType = RESOURCETYPE_DISK;
    resource.dwUsage = RESOURCEUSAGE_CONNECTABLE;
    resource.lpRemoteName = strRemote.GetBuffer(strRemote.GetLength() + 1);
    HANDLE hEnum = nullptr;
    DWORD dwResult = WNetOpenEnumW(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &resource, &hEnum);
    strRemote.ReleaseBuffer();
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    std::vector<BYTE> buffer(16384);
    for (int nRound = 0; nRound < 1000; ++nRound) {
        DWORD dwCount = 0xFFFFFFFF, dwSize = static_cast<DWORD>(buffer.size());
        dwResult = WNetEnumResourceW(hEnum, &dwCount, buffer.data(), &dwSize);
        if (dwResult == ERROR_MORE_DATA) {
            buffer.resize(dwSize);
            continue;
        }
        if (dwResult != ERROR_SUCCESS)
            break;
        const auto* pRecords = reinterpret_cast<const NETRESOURCEW*>(buffer.data());
        for (DWORD i = 0; i < dwCount; ++i) {
            CString strName(pRecords[i].lpRemoteName ? pRecords[i].lpRemoteName : _T(""));
            const int nSlash = strName.ReverseFind(_T('\\'));
            strNames += strName.Mid(nSlash + 1);
            strNames += _T('\n');
            ++nCount;
        }
    }
    WNetCloseEnum(hEnum);
    return dwResult == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : dwResult;
}

BOOL IsShareConnected(LPCTSTR lpszServer, LPCTSTR lpszShare) {
    const bool bShare = lpszShare && *lpszShare;
    const CString strRemote = RemoteName(lpszServer, lpszShare);
    const CString strPrefix = RemoteName(lpszServer, nullptr) + _T("\\");
    for (const NETRESOURCEW* pRecord : CurrentConnections().records) {
        if (!pRecord->lpRemoteName)
            continue;
        if (bShare ? strRemote.CompareNoCase(pRecord->lpRemoteName) == 0
                   : BeginsWithServer(pRecord->lpRemoteName, strPrefix))
            return TRUE;
    }
    return FALSE;
}

BOOL IsLetterConnectedTo(LPCTSTR lpszLocalName, LPCTSTR lpszServer, LPCTSTR lpszShare) {
    if (!lpszLocalName || !*lpszLocalName)
        return FALSE;
    WCHAR szRemote[MAX_PATH] = {};
    DWORD dwLength = MAX_PATH;
    if (WNetGetConnectionW(lpszLocalName, szRemote, &dwLength) != ERROR_SUCCESS)
        return FALSE;
    return RemoteName(lpszServer, lpszShare).CompareNoCase(szRemote) == 0;
}

DWORD AddShareConnection(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszUser, LPCTSTR lpszPassword,
                         LPCTSTR lpszLocalName, int* pnAccess) {
    CString strRemote = RemoteName(lpszServer, lpszShare);
    CString strLocal(lpszLocalName ? lpszLocalName : _T(""));
    NETRESOURCEW resource{};
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpRemoteName = strRemote.GetBuffer(strRemote.GetLength() + 1);
    resource.lpLocalName = strLocal.IsEmpty() ? nullptr : strLocal.GetBuffer(strLocal.GetLength() + 1);
    const DWORD dwResult = WNetAddConnection2W(&resource, lpszPassword, lpszUser, CONNECT_UPDATE_PROFILE);
    strRemote.ReleaseBuffer();
    if (!strLocal.IsEmpty())
        strLocal.ReleaseBuffer();
    if (pnAccess)
        *pnAccess = ProbeShareAccess(strRemote);
    return dwResult;
}

DWORD ConnectShare(LPCTSTR lpszServer, LPCTSTR lpszShare, LPCTSTR lpszUser, LPCTSTR lpszPassword,
                   LPCTSTR lpszLocalName) {
    int nAccess = NAS_ACCESS_NONE;
    AddShareConnection(lpszServer, lpszShare, lpszUser, lpszPassword, lpszLocalName, &nAccess);
    const CString strRemote = RemoteName(lpszServer, lpszShare);
    if (IsShareConnected(lpszServer, lpszShare)) {
        // Connected through this letter or already before: the share is only taken when it may be written, and
        // then only when the letter asked for really leads there.
        if (ProbeShareAccess(strRemote) == NAS_ACCESS_READWRITE &&
            (!lpszLocalName || !*lpszLocalName || IsLetterConnectedTo(lpszLocalName, lpszServer, lpszShare)))
            return ERROR_SUCCESS;
        DisConnect(lpszServer, lpszShare);
    }
    DWORD dwResult = AddShareConnection(lpszServer, lpszShare, lpszUser, lpszPassword, lpszLocalName, &nAccess);
    if (dwResult == ERROR_SESSION_CREDENTIAL_CONFLICT) {
        DisconnectAll(lpszServer);
        dwResult = AddShareConnection(lpszServer, lpszShare, lpszUser, lpszPassword, lpszLocalName, &nAccess);
    }
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    if (nAccess == NAS_ACCESS_READWRITE)
        return ERROR_SUCCESS;
    // A share that cannot be written is no destination: the connection just made (remembered in the profile)
    // does not stay behind.
    DisConnect(lpszServer, lpszShare);
    return nAccess == NAS_ACCESS_READ ? NAS_ERROR_READ_ONLY : ERROR_ACCESS_DENIED;
}

BOOL DisConnect(LPCTSTR lpszServer, LPCTSTR lpszShare) {
    if (!lpszShare || !*lpszShare)
        return DisconnectAll(lpszServer);
    CString strServer(lpszServer);
    strServer.TrimRight(_T('\\'));
    const CString strRemote = RemoteName(strServer, lpszShare);
    BOOL bDone = FALSE;
    // The share's remote name cancels its connection without a letter; a letter that leads to the share is
    // cancelled by its own name.
    for (const NETRESOURCEW* pRecord : CurrentConnections().records)
        if (pRecord->lpRemoteName && strRemote.CompareNoCase(pRecord->lpRemoteName) == 0 && CancelConnection(*pRecord))
            bDone = TRUE;
    return bDone;
}

BOOL DisconnectAll(LPCTSTR lpszServer) {
    const CString strPrefix =
        (lpszServer && *lpszServer) ? RemoteName(lpszServer, nullptr) + _T("\\") : CString(_T("\\\\"));
    BOOL bDone = FALSE;
    for (const NETRESOURCEW* pRecord : CurrentConnections().records)
        if (BeginsWithServer(pRecord->lpRemoteName, strPrefix) && CancelConnection(*pRecord))
            bDone = TRUE;
    return bDone;
}

void ShowShareError(DWORD dwError) {
    UINT nID = IDS_NAS_CANNOT_LOGIN;
    switch (dwError) {
    case NAS_ERROR_READ_ONLY:
        nID = IDS_NAS_READ_ONLY;
        break;
    case ERROR_LOGON_FAILURE:
        nID = IDS_NAS_BAD_PASSWORD;
        break;
    case ERROR_NETWORK_UNREACHABLE:
        nID = IDS_NAS_UNREACHABLE;
        break;
    case ERROR_BAD_NETPATH:
        nID = IDS_NAS_NO_SERVER;
        break;
    case ERROR_ACCESS_DENIED:
        nID = IDS_NAS_NO_ACCESS;
        break;
    default:
        break;
    }
    AfxMessageBox(nID, MB_OK | MB_ICONSTOP);
}
