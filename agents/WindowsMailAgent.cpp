#include "agents/WindowsMailAgent.h"

#include "agents/AgentHelpers.h"
#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"

#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/registry/ini.h"
#include "platform/registry/registry.h"
#include "platform/system/environment.h"

#include <memory>

IMPLEMENT_DYNAMIC(CWindowsMailAgent, CBackAgent)

using namespace agents;

namespace {

constexpr const char16_t* kSource = u"WindowsMailAgent";
constexpr const char16_t* kProgramKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WinMail.exe";
constexpr const char16_t* kMailKey = u"Software\\Microsoft\\Windows Mail";

struct RegPart {
    const char16_t* file;
    const char16_t* key;
};
// Saved, counted and restored in this order.
constexpr RegPart kRegParts[] = {
    {u"WindowsMailMain", u"Software\\Microsoft\\Windows Mail"},
    {u"Identities", u"Identities"},
    {u"IAM", u"Software\\Microsoft\\IAM"},
};

bool IsFolder(const CString& strPath) {
    const DWORD attributes = GetFileAttributesW(strPath);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const CString& strPath) {
    const DWORD attributes = GetFileAttributesW(strPath);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether every file below `from` is in `to` with the same size (the copy is whole).
bool HoldsEveryFile(const CString& from, const CString& to) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(from + _T("\\*"), &data);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool whole = true;
    do {
        const CString name(data.cFileName);
        if (name == _T(".") || name == _T(".."))
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            whole = IsFolder(to + _T("\\") + name) && HoldsEveryFile(from + _T("\\") + name, to + _T("\\") + name);
            continue;
        }
        WIN32_FILE_ATTRIBUTE_DATA copy{};
        whole = GetFileAttributesExW(to + _T("\\") + name, GetFileExInfoStandard, &copy) &&
                copy.nFileSizeLow == data.nFileSizeLow && copy.nFileSizeHigh == data.nFileSizeHigh;
    } while (whole && FindNextFileW(find, &data));
    FindClose(find);
    return whole;
}

CString Message852(LPCTSTR lpszResult, bool bRestore, LPCTSTR lpszName) {
    CString text;
    text.Format(LoadText(852, _T("%s to %s file %s")), lpszResult,
                bRestore ? LoadText(846, _T("restore")).GetString() : LoadText(845, _T("backup")).GetString(),
                lpszName);
    return text;
}

} // namespace

int CWindowsMailAgent::OnRegister() {
    return 1;
}

CString CWindowsMailAgent::GetDataFolderName() {
    return CString(u"WindowsMail");
}

int CWindowsMailAgent::CanExpand() {
    return 0;
}

int CWindowsMailAgent::ExpandBackupItem(CShellTreeCtrl*, HTREEITEM) {
    return 0;
}

int CWindowsMailAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM, LPCTSTR) {
    if (pTree)
        pTree->SetLoadCount(1, 1);
    return 0;
}

HTREEITEM CWindowsMailAgent::FindCoveringItem(CShellTreeCtrl*, HTREEITEM, LPCTSTR) {
    return nullptr;
}

void CWindowsMailAgent::LogFolder(UINT nId, LPCTSTR lpszDefault, LPCTSTR lpszFirst, LPCTSTR lpszSecond, int nLine) {
    CString text;
    text.Format(LoadText(nId, lpszDefault), lpszFirst, lpszSecond ? lpszSecond : _T(""));
    Log(text, kSource, nLine, 4);
}

int CWindowsMailAgent::InitWindowsMailAgent() {
    if (m_bInitialized)
        return m_nInitResult;
    m_bInitialized = 1;
    if (!IsWindowsVista()) {
        m_nImage = ResIconIndex(_T("IDI_WindowsMailCant.ico"));
        m_nOpenImage = ResIconIndex(_T("IDI_WindowsMailCant.ico"), true);
        m_nInitResult = 1;
        return m_nInitResult;
    }
    WCHAR program[2048] = {};
    DWORD size = sizeof program - 2, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(program), &size) != ERROR_SUCCESS)
            program[0] = 0;
        RegCloseKey(key);
    }
    m_strProgramPath = ExpandedText(program);
    m_nInitResult = !m_strProgramPath.IsEmpty() && CBrannicApp::FileExists(m_strProgramPath) ? 1 : 0;
    if (m_nInitResult) {
        m_nImage = FileIconIndex(m_strProgramPath);
        m_nOpenImage = FileIconIndex(m_strProgramPath, true);
    }
    return m_nInitResult;
}

BOOL CWindowsMailAgent::ReadStoreFolder() {
    m_strStoreFolder.Empty();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMailKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    WCHAR store[2048 + 1] = {};
    DWORD size = 4096, type = 0;
    const LONG error = RegQueryValueExW(key, u"Store Root", nullptr, &type, reinterpret_cast<BYTE*>(store), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return FALSE;
    m_strStoreFolder = WithoutTrailingBackslash(ExpandedText(store));
    return !m_strStoreFolder.IsEmpty() && IsFolder(m_strStoreFolder);
}

int CWindowsMailAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (!pTree || !IsWindowsVista() || !InitWindowsMailAgent() || !ReadStoreFolder())
        return 0;
    CItemIDList list(m_strStoreFolder.GetString());
    if (!list.IsValid())
        return 0;
    HTREEITEM hItem = InsertPathItem(pTree, hTop, list, this, 0, m_nImage, m_strItemText);
    if (!hItem)
        return 0;
    pTree->SetItemImage(hItem, m_nImage, m_nOpenImage);
    return 1;
}

int CWindowsMailAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) {
    if (!InitWindowsMailAgent()) {
        LogFormat(_T("%s, %d: InitWindowsMailAgent failed."), kSource, __LINE__, 8);
        return 0;
    }
    if (!DataOf(pTree, hTop) || !lpszSetPath) {
        LogFormat(_T("%s, %d: GetItemData failed."), kSource, __LINE__, 8);
        return 0;
    }
    const CString data = WithoutTrailingBackslash(lpszSetPath) + _T("\\WindowsMail");
    if (!GetWindowsMailStoreFromProfile(data + _T("\\wm.ini"), m_strRestoreStaging, m_strRecordedStore)) {
        LogFormat(_T("%s, %d: GetWindowsMailStoreFromProfile failed."), kSource, __LINE__, 8);
        return 0;
    }
    if (!IsFolder(data))
        return 0;
    const struct {
        CString path;
        bool folder;
        LPCTSTR message;
    } parts[] = {
        {data + _T("\\KovraWMStore"), true, _T("%s, %d: WMFolder exists but WMStoreFolderto does not exist.")},
        {data + _T("\\KovraWMReg"), true, _T("%s, %d: WMFolder exists but WMRegFolder does not exist.")},
        {data + _T("\\KovraWMReg\\WindowsMailMain"), false,
         _T("%s, %d: WMRegFolder exists but WMRegMain does not exist.")},
        {data + _T("\\KovraWMReg\\Identities"), false,
         _T("%s, %d: WMRegFolder exists but WMRegIdentities does not exist.")},
        {data + _T("\\KovraWMReg\\IAM"), false, _T("%s, %d: WMRegFolder exists but WMRegIAM does not exist.")},
    };
    for (const auto& part : parts) {
        if (part.folder ? !IsFolder(part.path) : !IsFile(part.path)) {
            LogFormat(part.message, kSource, __LINE__, 8);
            return 0;
        }
    }
    CItemIDList dataList(data.GetString());
    CItemIDList storeList(parts[0].path.GetString());
    if (!dataList.IsValid() || !storeList.IsValid())
        return 0;
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), dataList.Get());
    HTREEITEM hItem =
        InsertShellItemEx(pTree, hTop, folder, dataList, storeList.GetLastItem(), this, 0, m_nImage, m_strItemText);
    if (!hItem)
        return 0;
    pTree->SetItemImage(hItem, m_nImage, m_nOpenImage);
    return 1;
}

int CWindowsMailAgent::GetWindowsMailStoreFromProfile(LPCTSTR lpszIni, CString& strStaging, CString& strStore) {
    strStaging.Empty();
    if (!lpszIni || !IsFile(lpszIni))
        return 0;
    WCHAR value[2048] = {};
    GetPrivateProfileStringW(_T("WindowsMail"), _T("KovraWMReg"), _T(""), value, 2048, lpszIni);
    strStore = value;
    strStaging = strStore + _T(" Restore");
    return strStore.IsEmpty() ? 0 : 1;
}

int CWindowsMailAgent::GetUserFolderFromPath(LPCTSTR lpszPath, CString& strName) {
    strName.Empty();
    if (!lpszPath)
        return 0;
    const CString path(lpszPath);
    CString marker;
    marker.Format(_T(":\\%s\\"), _T("KovraData"));
    const int at = path.Find(marker);
    if (at < 0)
        return 0;
    const int start = at + marker.GetLength();
    const int end = path.Find(_T('\\'), start);
    if (end < 0)
        return 0;
    strName = path.Mid(start, end - start);
    return 1;
}

int CWindowsMailAgent::PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                                     int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    if (!pTree || pTree->GetCheckState(hRoot) == kStateUnchecked || !ReadStoreFolder())
        return 0;
    BackupReg(pTree, hRoot, lpszSetPath, dwFlags, pnCount1, pnCount2);
    return 0;
}

int CWindowsMailAgent::BackupReg(CShellTreeCtrl* pTree, HTREEITEM, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                                 int* pnCount2) {
    int count = 0;
    ULONGLONG size = 0;
    auto report = [&] {
        if (pnCount1)
            *pnCount1 = count;
        if (pnCount2)
            *pnCount2 = static_cast<int>(size);
    };
    report();
    m_bRegSaved = FALSE;
    m_strBackupData = WithTrailingBackslash(lpszSetPath ? lpszSetPath : _T("")) + _T("WindowsMail");
    m_strBackupStaging = m_strBackupData + _T("Backup");
    OutputDebugStringW(m_strBackupStaging + _T("\r\n"));
    RemoveDirectoryW(m_strBackupStaging);
    const bool restoreTree = pTree && pTree->GetTreeType() == kTreeRestore;
    if (dwFlags & 0x20) {
        // What an interrupted run left staged is incomplete; it is never taken for this run's copy.
        if (IsFolder(m_strBackupStaging) && !DeleteFolderTree(m_strBackupStaging))
            LogFolder(1281, _T("Fail to remove folder %s!"), m_strBackupStaging, nullptr, __LINE__);
        if (!MakeDirectoryPath(m_strBackupStaging)) {
            CString text;
            text.Format(_T("CWindowsMailAgent::BackupReg: Make folder %s failed."), _T("WindowsMail"));
            LogResult(text, kSource, __LINE__, 4);
            return 0;
        }
        if (!WritePrivateProfileStringW(_T("WindowsMail"), _T("KovraWMReg"), m_strStoreFolder,
                                        m_strBackupStaging + _T("\\wm.ini"))) {
            LogResult(_T("CWindowsMailAgent::BackupReg: WritePrivateProfileString failed."), kSource, __LINE__, 8);
            return 0;
        }
        const CString regFolder = WithoutTrailingBackslash(m_strBackupStaging) + _T("\\KovraWMReg");
        if (!MakeDirectoryPath(regFolder)) {
            CString text;
            text.Format(_T("CWindowsMailAgent::BackupReg: Make folder %s failed."), _T("KovraWMReg"));
            LogResult(text, kSource, __LINE__, 4);
            return 0;
        }
        int result = 1;
        for (const RegPart& part : kRegParts) {
            const CString file = regFolder + _T("\\") + part.file;
            if (m_reg.SaveKeyToFile(HKEY_CURRENT_USER, part.key, file)) {
                ++count;
                size += GetFileLength(file);
                LogResult(Message852(LoadText(851, _T("Succeeded")), restoreTree, part.file), kSource, __LINE__, 1);
            } else {
                result = 0;
                LogResult(Message852(LoadText(848, _T("Ignore")), restoreTree, part.file), kSource, __LINE__, 4);
            }
        }
        m_bRegSaved = result;
        report();
        return result;
    }
    int result = 1;
    for (const RegPart& part : kRegParts) {
        ULONGLONG characters = 0;
        if (!m_reg.CalKeyByName(HKEY_CURRENT_USER, part.key, characters)) {
            result = 0;
            continue;
        }
        ++count;
        size += characters * 2;
    }
    report();
    return result;
}

int CWindowsMailAgent::AfterBackup(int nCancel, CShellTreeCtrl*, HTREEITEM) {
    if (m_strBackupStaging.IsEmpty() || !IsFolder(m_strBackupStaging))
        return 0;
    if (nCancel) {
        if (!RemoveDirectoryW(m_strBackupStaging) && GetLastError() != ERROR_DIR_NOT_EMPTY)
            LogFolder(1281, _T("Fail to remove folder %s!"), m_strBackupStaging, nullptr, __LINE__);
        return 0;
    }
    // A backup without all its registry parts does not take the place of a complete one.
    if (!m_bRegSaved && IsFolder(m_strBackupData)) {
        if (!DeleteFolderTree(m_strBackupStaging))
            LogFolder(1281, _T("Fail to remove folder %s!"), m_strBackupStaging, nullptr, __LINE__);
        return 0;
    }
    if (IsFolder(m_strBackupData) && !DeleteFolderTree(m_strBackupData)) {
        LogFolder(1281, _T("Fail to remove folder %s!"), m_strBackupData, nullptr, __LINE__);
        return 0;
    }
    if (!MoveFileW(m_strBackupStaging, m_strBackupData))
        LogFolder(1283, _T("Fail to rename folder %s to %s!"), m_strBackupStaging, m_strBackupData, __LINE__);
    return 0;
}

int CWindowsMailAgent::PrepareRestore(CShellTreeCtrl* pTree, HTREEITEM hRoot, DWORD, int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    if (!pTree || pTree->GetCheckState(hRoot) == kStateUnchecked)
        return 0;
    // The item is the set's "KovraWMStore"; its registry parts are loaded once the store has been copied whole.
    m_strSetStore = WithoutTrailingBackslash(PathOf(pTree, hRoot));
    const CString data = m_strSetStore.Left(m_strSetStore.ReverseFind(_T('\\')));
    int count = 0;
    ULONGLONG size = 0;
    bool present = true;
    for (const RegPart& part : kRegParts) {
        const CString file = data + _T("\\KovraWMReg\\") + part.file;
        present = present && IsFile(file);
        ++count;
        size += GetFileLength(file);
    }
    if (pnCount1)
        *pnCount1 = count;
    if (pnCount2)
        *pnCount2 = static_cast<int>(size);
    const int read = GetWindowsMailStoreFromProfile(data + _T("\\wm.ini"), m_strRestoreStaging, m_strRecordedStore);
    return present && read ? 0 : 1;
}

int CWindowsMailAgent::AfterRestore(int nCancel, CShellTreeCtrl*, HTREEITEM) {
    if (m_strRestoreStaging.IsEmpty() || !IsFolder(m_strRestoreStaging))
        return 0;
    if (nCancel) {
        if (!RemoveDirectoryW(m_strRestoreStaging) && GetLastError() != ERROR_DIR_NOT_EMPTY)
            LogFolder(1281, _T("Fail to remove folder %s!"), m_strRestoreStaging, nullptr, __LINE__);
        return 0;
    }
    // The live store goes only for a whole copy, and never from under a running client.
    if (!HoldsEveryFile(m_strSetStore, m_strRestoreStaging)) {
        LogFormat(_T("%s, %d: %s does not hold every file of the backup; the store is left as it was."), kSource,
                  __LINE__, 4, m_strRestoreStaging);
        return 0;
    }
    if (IsProcessRunning(_T("WinMail.exe"))) {
        LogFormat(_T("%s, %d: Windows Mail is running; the restored store stays in %s."), kSource, __LINE__, 4,
                  m_strRestoreStaging);
        return 0;
    }
    const CString data = m_strSetStore.Left(m_strSetStore.ReverseFind(_T('\\')));
    for (const RegPart& part : kRegParts) {
        const CString file = data + _T("\\KovraWMReg\\") + part.file;
        const DWORD error = m_reg.LoadKeyFromFile(file, HKEY_CURRENT_USER, part.key);
        LogResult(
            Message852(error == 0 ? LoadText(851, _T("Succeeded")) : LoadText(848, _T("Ignore")), true, part.file),
            kSource, __LINE__, error == 0 ? 1 : 4);
    }
    if (IsFolder(m_strRecordedStore) && !DeleteFolderTree(m_strRecordedStore)) {
        LogFolder(1281, _T("Fail to remove folder %s!"), m_strRecordedStore, nullptr, __LINE__);
        return 0;
    }
    if (!MoveFileW(m_strRestoreStaging, m_strRecordedStore))
        LogFolder(1283, _T("Fail to rename folder %s to %s!"), m_strRestoreStaging, m_strRecordedStore, __LINE__);
    return 0;
}

int CWindowsMailAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    strLabel.Empty();
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent() || hItem == pTree->GetRootItem())
        return 0;
    if (pTree->GetItemDepth(hItem) == 1)
        strLabel.Format(_T("%s:"), _T("WindowsMail"));
    else
        strLabel = pTree->GetItemText(hItem);
    return 1;
}

int CWindowsMailAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    chType = 0;
    strName.Empty();
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent() || hItem == pTree->GetRootItem())
        return 0;
    strName.Format(_T("%s:"), _T("WindowsMail"));
    chType = _T('D');
    return 1;
}

int CWindowsMailAgent::HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM) {
    return pTree && pTree->GetTreeType() == kTreeRestore ? 1 : 0;
}

CShellFolderPtr CWindowsMailAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (pData && pTree->GetTreeType() == kTreeRestore)
        return pData->m_folder;
    return CBackAgent::GetRootFolder(pTree, hItem);
}

LPITEMIDLIST CWindowsMailAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData && pTree->GetTreeType() == kTreeRestore ? pData->m_list.Get() : nullptr;
}

int CWindowsMailAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    if (!pTree || !hItem)
        return kNodeSkip;
    const UINT state = pTree->GetCheckState(hItem);
    CShellItemData* pData = DataOf(pTree, hItem);
    const bool hasList = pData && pData->m_list.IsValid();
    int answer = kNodeDescend;
    if (state == kStateUnchecked || state == kStateFixed)
        answer = kNodeSkip;
    else if (state == kStateChecked)
        answer = hasList ? kNodeWhole : kNodeDescend;
    if (!CopyToBuffer(PrefixedPath(PathOf(pTree, hItem)), lpszPath, cbBuffer, kSource, __LINE__))
        return kNodeSkip;
    return answer;
}

int CWindowsMailAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    if (!pTree || !hItem)
        return kNodeSkip;
    const UINT state = pTree->GetCheckState(hItem);
    CShellItemData* pData = DataOf(pTree, hItem);
    const bool hasList = pData && pData->m_list.IsValid();
    int answer = kNodeDescend;
    CString path = _T("\\\\?\\");
    if (state == kStateUnchecked || state == kStateFixed) {
        answer = kNodeSkip;
    } else if (state == kStateChecked && hasList) {
        answer = kNodeWhole;
        path += PathOf(pTree, hItem);
    }
    if (!CopyToBuffer(path, lpszPath, cbBuffer, kSource, __LINE__))
        return kNodeSkip;
    return answer;
}

int CWindowsMailAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR lpszSetName, LPTSTR lpszSource,
                                     LPTSTR lpszDest, int cbBuffer) {
    if (!lpszSource || !*lpszSource || !lpszDest)
        return kPathMapped;
    CString source(lpszSource);
    if (source.Find(_T('?')) >= 0)
        source = WithoutLeadingMarks(source);
    CItemIDList list(source.GetString());
    if (!list.IsValid())
        return kPathMapped;
    const CString store = m_strStoreFolder;
    if (store.IsEmpty() || source.GetLength() < store.GetLength() ||
        source.Left(store.GetLength()).CompareNoCase(store) != 0 ||
        (source.GetLength() > store.GetLength() && source[store.GetLength()] != _T('\\'))) {
        LogFormat(_T("%s, %d: The %s is not in store folder."), kSource, __LINE__, 8, source);
        return kPathSkip;
    }
    CString result;
    result.Format(_T("%s\\%s\\%s\\%s%s\\%s"), WithoutTrailingBackslash(lpszDest).GetString(), _T("KovraData"),
                  lpszSetName ? lpszSetName : _T(""), _T("WindowsMail"), _T("Backup"), _T("KovraWMStore"));
    result += source.Mid(store.GetLength());
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int CWindowsMailAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int, LPCTSTR, LPTSTR lpszSource, LPTSTR lpszDest,
                                      int cbBuffer) {
    if (!lpszSource || !lpszDest || m_strRestoreStaging.IsEmpty())
        return kPathSkip;
    CString result = _T("\\\\?\\") + m_strRestoreStaging;
    const CString source = WithoutLeadingMarks(lpszSource);
    CString user;
    if (!GetUserFolderFromPath(source, user))
        return kPathSkip;
    CString marker;
    marker.Format(_T(":\\%s\\%s\\%s\\%s"), _T("KovraData"), user.GetString(), _T("WindowsMail"), _T("KovraWMStore"));
    const int at = source.Find(marker);
    if (at < 0)
        return kPathSkip;
    CString rest = source.Mid(at + marker.GetLength());
    if (!rest.IsEmpty() && rest[0] == _T('\\'))
        rest = rest.Mid(1);
    if (!rest.IsEmpty())
        result += _T("\\") + rest;
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int CWindowsMailAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot,
                                           LPCTSTR lpszPath, HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild,
                                           UINT* pnChildState) {
    return FindInSetDataFolder(pTree, hStart, lpszSetRoot, _T("WindowsMail"), lpszPath, phItem, pnState, phChild,
                               pnChildState);
}
