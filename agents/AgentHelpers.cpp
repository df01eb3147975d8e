#include "agents/AgentHelpers.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"

#include "platform/afx/WinApp.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/registry/ini.h"
#include "platform/shell/fileinfo.h"
#include "platform/system/environment.h"

namespace agents {

CString PathOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData && pData->m_list.IsValid() ? pData->m_list.GetPath() : CString();
}

CString WithoutTrailingBackslash(CString strPath) {
    while (strPath.GetLength() > 0 && strPath[strPath.GetLength() - 1] == _T('\\'))
        strPath = strPath.Left(strPath.GetLength() - 1);
    return strPath;
}

CString WithTrailingBackslash(CString strPath) {
    if (strPath.IsEmpty() || strPath[strPath.GetLength() - 1] != _T('\\'))
        strPath += _T("\\");
    return strPath;
}

CString LastComponent(const CString& strPath) {
    const int slash = strPath.ReverseFind(_T('\\'));
    return slash < 0 ? strPath : strPath.Mid(slash + 1);
}

CString PrefixedPath(const CString& strPath) {
    if (strPath.IsEmpty() || strPath[0] == _T('\\'))
        return strPath;
    return _T("\\\\?\\") + strPath;
}

CString ExpandedText(const CString& strText) {
    WCHAR expanded[2048] = {};
    if (!ExpandEnvironmentStringsW(strText, expanded, 2048))
        return strText;
    return CString(expanded);
}

CString WithoutLongPrefix(const CString& strPath) {
    return strPath.Left(4) == _T("\\\\?\\") ? strPath.Mid(4) : strPath;
}

CString WithoutLeadingMarks(const CString& strPath) {
    int start = 0;
    while (start < strPath.GetLength() && (strPath[start] == _T('\\') || strPath[start] == _T('?')))
        ++start;
    return strPath.Mid(start);
}

bool HasExtension(const CString& strPath, LPCTSTR lpszExtension) {
    const int dot = strPath.ReverseFind(_T('.'));
    return dot >= 0 && strPath.Mid(dot).CompareNoCase(lpszExtension) == 0;
}

BOOL CopyToBuffer(const CString& strPath, LPTSTR lpszBuffer, int cbBuffer, LPCTSTR lpszSource, int nLine) {
    if (!lpszBuffer || strPath.GetLength() + 1 > cbBuffer / 2) {
        LogFormat(_T("%s, %d: %s is too long to over buffer."), lpszSource, nLine, 8, strPath);
        return FALSE;
    }
    lstrcpynW(lpszBuffer, strPath, cbBuffer / 2);
    return TRUE;
}

namespace {

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

void Log(LPCTSTR lpszText, LPCTSTR lpszSource, int nLine, int nType) {
    if (CBrannicApp* pApp = App())
        pApp->Log(lpszText, lpszSource, nLine, nType);
}

void LogFormat(LPCTSTR lpszFormat, LPCTSTR lpszSource, int nLine, int nType, LPCTSTR lpszText) {
    CString text;
    text.Format(lpszFormat, lpszSource, nLine, lpszText ? lpszText : _T(""));
    Log(text, lpszSource, nLine, nType);
}

void LogResult(const CString& strText, LPCTSTR lpszSource, int nLine, int nType) {
    CBackManager* pManager = CBackManager::Get();
    CWnd* pDialog = pManager ? pManager->GetProgressDlg() : nullptr;
    if (pDialog && pDialog->IsKindOf(RUNTIME_CLASS(CCopyProDlg))) {
        static_cast<CCopyProDlg*>(pDialog)->AddLog(strText, nType);
        return;
    }
    Log(strText, lpszSource, nLine, nType);
}

CString LoadText(UINT nId, LPCTSTR lpszDefault) {
    CString text;
    if (!text.LoadString(nId) || text.IsEmpty())
        text = lpszDefault;
    return text;
}

int FileIconIndex(LPCTSTR lpszPath, bool bOpen) {
    SHFILEINFOW info{};
    const UINT flags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON | (bOpen ? SHGFI_OPENICON : 0);
    if (!lpszPath || !SHGetFileInfoW(lpszPath, 0, &info, sizeof info, flags))
        return -1;
    return info.iIcon;
}

int ResIconIndex(LPCTSTR lpszFileName, bool bOpen) {
    CString folder;
    GetExeFolder(folder);
    CString icon;
    icon.Format(_T("%s\\Res\\%s"), WithoutTrailingBackslash(folder).GetString(), lpszFileName);
    const DWORD attributes = GetFileAttributesW(icon);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileIconIndex(icon, bOpen);
    WCHAR program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return FileIconIndex(program, bOpen);
}

int DataFolderItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, CString& strLabel) {
    strLabel.Empty();
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent() || hItem == pTree->GetRootItem())
        return 0;
    if (IsAgentItem(pTree, hItem))
        strLabel.Format(_T("%s:"), lpszDataFolder);
    else
        strLabel = pTree->GetItemText(hItem);
    return 1;
}

int DataFolderItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, CString& strName,
                       TCHAR& chType) {
    chType = 0;
    if (!DataFolderItemLabel(pTree, hItem, lpszDataFolder, strName))
        return 0;
    chType = IsAgentItem(pTree, hItem) ? _T('D') : _T('F');
    return 1;
}

int DataFolderNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, bool bRootItem) {
    const UINT state = pTree->GetCheckState(hItem);
    if (state == kStateChecked && pTree->ItemHasChildren(hItem) && !pTree->GetChildItem(hItem)) {
        pTree->Expand(hItem, TVE_EXPAND);
        pTree->Expand(hItem, TVE_COLLAPSE);
    }
    if (state == kStateChecked)
        return bRootItem ? kNodeDescend : kNodeWhole;
    return state == kStatePartial ? kNodeDescend : kNodeSkip;
}

CString PrepareSetDataFolder(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                             LPCTSTR lpszDataFolder, int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    if (!(dwFlags & 0x20) || !pTree || !hRoot || !lpszSetPath)
        return CString();
    const CString folder = WithTrailingBackslash(lpszSetPath) + lpszDataFolder;
    return CBackAgent::MakeDirectoryPath(folder) ? folder : CString();
}

HTREEITEM InsertSetDataFolder(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath, LPCTSTR lpszDataFolder,
                              CBackAgent* pAgent, LPCTSTR lpszText, const std::function<bool(const CString&)>& accept,
                              const std::function<std::pair<int, int>()>& images) {
    CShellItemData* pTop = DataOf(pTree, hTop);
    CItemIDList setList(lpszSetPath);
    if (!setList.IsValid())
        return nullptr;
    CDesktopFolder desktop;
    CShellFolderPtr set(desktop.Get(), setList.Get());
    if (!set.IsValid())
        return nullptr;
    CEnumIDListPtr list(set.Get(), pTree->GetSafeHwnd(), SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN);
    CItemIDList child;
    while (list.IsValid() && list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(setList, child);
        // The set's own data folder; another folder whose name merely holds the word is not it.
        const CString path = WithoutTrailingBackslash(full.GetPath());
        if (LastComponent(path).CompareNoCase(lpszDataFolder) != 0 || !accept(path))
            continue;
        const auto [image, openImage] = images();
        const DWORD flags = pTop ? (pTop->m_dwFlags & 0x0F) : 3;
        HTREEITEM hItem = CBackAgent::InsertShellItemEx(pTree, hTop, set, setList, child, pAgent, flags, image, lpszText);
        if (hItem)
            pTree->SetItemImage(hItem, image, openImage);
        return hItem;
    }
    return nullptr;
}

bool ForEachListedEntry(CShellTreeCtrl* pTree, CShellItemData* pData, LPCTSTR lpszIniName, LPCTSTR lpszSection,
                        const std::function<void(const CShellFolderPtr& folder, const CItemIDList& parent,
                                                 const CItemIDList& child, const CString& strPath,
                                                 const CString& strValue)>& each) {
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), pData->m_list.Get());
    if (!folder.IsValid())
        return false;
    DWORD flags = SHCONTF_FOLDERS;
    if (pData->m_dwFlags & 0x01)
        flags |= SHCONTF_NONFOLDERS;
    if (pData->m_dwFlags & 0x02)
        flags |= SHCONTF_INCLUDEHIDDEN;
    CEnumIDListPtr list(folder.Get(), pTree->GetSafeHwnd(), flags);
    if (!list.IsValid())
        return false;
    const CItemIDList parentList(pData->m_list);
    const CString ini = WithoutTrailingBackslash(parentList.GetPath()) + _T("\\") + lpszIniName;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(parentList, child);
        const CString path = WithoutTrailingBackslash(full.GetPath());
        WCHAR value[2048] = {};
        GetPrivateProfileStringW(lpszSection, LastComponent(path), _T(""), value, 2048, ini);
        if (value[0])
            each(folder, parentList, child, path, CString(value));
    }
    return true;
}

bool IsRestoreOptionUsable(int nPathOption, LPCTSTR lpszDestFolder, LPCTSTR lpszSource, LPCTSTR lpszDest) {
    if (nPathOption < 1 || nPathOption > 3 || !lpszSource || !lpszDest)
        return false;
    return nPathOption == 1 || (lpszDestFolder && *lpszDestFolder);
}

CString FlatRestorePath(const CString& strPlainSource, const CString& strDestFolder) {
    CItemIDList list(strPlainSource.GetString());
    if (!list.IsValid() || list.IsFolder())
        return strDestFolder;
    return WithTrailingBackslash(strDestFolder) + LastComponent(strPlainSource);
}

int FindInSetDataFolder(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszDataFolder,
                        LPCTSTR lpszPath, HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) {
    if (!pTree || pTree->GetTreeType() != kTreeRestore || !lpszSetRoot) {
        if (phItem)
            *phItem = hStart;
        if (pnState)
            *pnState = 0;
        if (phChild)
            *phChild = nullptr;
        if (pnChildState)
            *pnChildState = 0;
        return kPathNotInTree;
    }
    return CBackAgent::FindTreeItemByPath(pTree, hStart, lpszSetRoot, lpszDataFolder, lpszPath, nullptr, phItem,
                                          pnState, phChild, pnChildState);
}

bool HasListedSetFile(TCHAR chDrive, LPCTSTR lpszDataFolder, LPCTSTR lpszIniName, LPCTSTR lpszSection) {
    CString pattern;
    pattern.Format(_T("%c:\\%s\\*.*"), chDrive, _T("KovraData"));
    WIN32_FIND_DATAW set{};
    HANDLE sets = FindFirstFileW(pattern, &set);
    if (sets == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        const CString setName(set.cFileName);
        if (setName == _T(".") || setName == _T("..") || !(set.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        CString folder;
        folder.Format(_T("%c:\\%s\\%s\\%s"), chDrive, _T("KovraData"), setName.GetString(), lpszDataFolder);
        const CString ini = folder + _T("\\") + lpszIniName;
        WIN32_FIND_DATAW file{};
        HANDLE each = FindFirstFileW(folder + _T("\\*.*"), &file);
        if (each == INVALID_HANDLE_VALUE)
            continue;
        do {
            const CString name(file.cFileName);
            if (name == _T(".") || name == _T("..") || name.CompareNoCase(lpszIniName) == 0)
                continue;
            WCHAR value[260] = {};
            GetPrivateProfileStringW(lpszSection, name, _T(""), value, 260, ini);
            if (value[0])
                found = true;
        } while (!found && FindNextFileW(each, &file));
        FindClose(each);
    } while (!found && FindNextFileW(sets, &set));
    FindClose(sets);
    return found;
}

} // namespace agents
