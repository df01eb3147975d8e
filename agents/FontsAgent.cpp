#include "agents/FontsAgent.h"

#include "agents/AgentHelpers.h"
#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"
#include "engine/StrRet.h"
#include "shared/TrayDialog.h"

#include "platform/afx/WinApp.h"
#include "platform/base/clock.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/gdi/wingdi.h"
#include "platform/registry/ini.h"
#include "platform/registry/registry.h"
#include "platform/shell/changenotify.h"
#include "platform/shell/specialfolders.h"
#include "platform/system/processes.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <memory>

IMPLEMENT_DYNAMIC(CFontsAgent, CBackAgent)

using namespace agents;

namespace {

constexpr const char16_t* kSource = u"FontsAgent";
constexpr const char16_t* kNtFontKey = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr const char16_t* k9xFontKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// The one enumeration of the font table of the whole program.
struct FontTableEnumeration {
    HKEY key = nullptr;
    DWORD index = 0;
};
FontTableEnumeration& Enumeration() {
    static FontTableEnumeration enumeration;
    return enumeration;
}

// Where the set's "Fonts" folder begins in a path of a backup set: the component after "KovraData" and the set's
// own folder, so that a user or computer name holding "Fonts" is not taken for it; -1 when the path has none.
int FontsComponent(const CString& strPath) {
    CString upper = strPath;
    upper.MakeUpper();
    const int data = upper.Find(_T("\\KOVRADATA\\"));
    if (data >= 0) {
        const int set = data + 11;
        const int slash = upper.Find(_T('\\'), set);
        if (slash > set && upper.Mid(slash + 1, 5) == _T("FONTS") &&
            (upper.GetLength() == slash + 6 || upper[slash + 6] == _T('\\')))
            return slash;
    }
    // A path outside the set layout: its first whole "Fonts" component after the drive.
    const int colon = upper.Find(_T(':'));
    for (int at = upper.Find(_T("\\FONTS"), colon < 0 ? 0 : colon); at >= 0; at = upper.Find(_T("\\FONTS"), at + 1))
        if (upper.GetLength() == at + 6 || upper[at + 6] == _T('\\'))
            return at;
    return -1;
}

bool SamePath(const CString& a, const CString& b) {
    return WithoutTrailingBackslash(a).CompareNoCase(WithoutTrailingBackslash(b)) == 0;
}

} // namespace

CFontsAgent::~CFontsAgent() = default;

int CFontsAgent::OnRegister() {
    return 1;
}

CString CFontsAgent::GetDataFolderName() {
    return CString(u"Fonts");
}

int CFontsAgent::CanExpand() {
    return 0;
}

LONG CFontsAgent::GetNextNameValue(HKEY hRoot, LPCTSTR lpszKeyPath, CString* pName, CString* pData) {
    FontTableEnumeration& e = Enumeration();
    if (!lpszKeyPath && !pName && !pData) {
        if (e.key)
            RegCloseKey(e.key);
        e.key = nullptr;
        e.index = 0;
        return ERROR_SUCCESS;
    }
    if (lpszKeyPath && *lpszKeyPath) {
        if (e.key)
            RegCloseKey(e.key);
        e.key = nullptr;
        e.index = 0;
        if (LONG error = RegOpenKeyExW(hRoot, lpszKeyPath, 0, KEY_ALL_ACCESS, &e.key)) {
            e.key = nullptr;
            return error;
        }
    } else {
        ++e.index;
    }
    if (!e.key)
        return ERROR_INVALID_HANDLE;
    WCHAR name[2048] = {};
    BYTE data[2048 + 2] = {};
    DWORD nameSize = 2048, dataSize = 2047, type = 0;
    const LONG error = RegEnumValueW(e.key, e.index, name, &nameSize, nullptr, &type, data, &dataSize);
    if (error)
        return error;
    if (pName)
        *pName = name;
    if (pData) {
        const auto* text = reinterpret_cast<const char16_t*>(data);
        CString value;
        for (DWORD i = 0; i < dataSize / 2 && text[i]; ++i)
            value += text[i];
        *pData = value;
    }
    return ERROR_SUCCESS;
}

int CFontsAgent::Init() {
    // Windows always has a Fonts folder; here the user's may still be missing.
    WCHAR folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_FONTS | CSIDL_FLAG_CREATE, nullptr, 0, folder);
    CItemIDList controls(CSIDL_CONTROLS, nullptr);
    CItemIDList fonts(CSIDL_FONTS, nullptr);
    if (!controls.IsValid() || !fonts.IsValid())
        return 0;
    m_strFontsFolder = WithoutTrailingBackslash(fonts.GetPath());
    if (m_strFontsFolder.IsEmpty())
        return 0;
    CDesktopFolder desktop;
    CShellFolderPtr panel(desktop.Get(), controls.Get());
    if (!panel.IsValid())
        return 0;
    CEnumIDListPtr list(panel.Get(), nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
    if (!list.IsValid())
        return 0;
    CItemIDList item;
    bool found = false;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(controls, child);
        if (SamePath(full.GetPath(), m_strFontsFolder)) {
            item = full;
            found = true;
            break;
        }
    }
    if (!found)
        return 0;
    if (m_nClosedIcon == -1 || m_nOpenIcon == -1) {
        m_nClosedIcon = item.GetIconIndex(SHGFI_SMALLICON);
        m_nOpenIcon = item.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON);
    }
    CStrRet name;
    if (FAILED(desktop.Get()->GetDisplayNameOf(item, SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS,
                                               name.Prepare(item, STRRET_WSTR))))
        return 0;
    m_strRootLabel = name.GetString();
    WCHAR version[64] = {};
    int code = 0;
    GetWindowsVersionName(version, 64, &code);
    m_strFontKey = code >= 101 && code <= 199 ? kNtFontKey : k9xFontKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_strFontKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    m_bInitialized = 1;
    return 1;
}

int CFontsAgent::FontIcon() {
    if (m_nFontIcon == -1)
        m_nFontIcon = ResIconIndex(_T("IDI_Font.ico"));
    return m_nFontIcon;
}

int CFontsAgent::InsertFontItem(CShellTreeCtrl* pTree, HTREEITEM hRoot, const CString& strPath, const CString& strText,
                                DWORD dwFlags) {
    CItemIDList list(strPath.GetString());
    if (!list.IsValid())
        return 0;
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(list.GetParentCopy(), CItemIDList::Free);
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), parent.get());
    if (!folder.IsValid())
        return 0;
    return InsertShellItemEx(pTree, hRoot, folder, parent.get(), list.GetLastItem(), this, dwFlags, FontIcon(),
                             strText) != nullptr;
}

int CFontsAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (!Init())
        return 0;
    CItemIDList list(m_strFontsFolder.GetString());
    if (!list.IsValid())
        return 0;
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(list.GetParentCopy(), CItemIDList::Free);
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), parent.get());
    HTREEITEM hRoot = InsertShellItemEx(pTree, hTop, folder, parent.get(), list.GetLastItem(), this, 1, m_nClosedIcon,
                                        m_strRootLabel);
    if (!hRoot)
        return 0;
    pTree->SetItemImage(hRoot, m_nClosedIcon, m_nOpenIcon);
    return 1;
}

int CFontsAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!IsAgentItem(pTree, hItem) || m_strFontKey.IsEmpty())
        return 0;
    FontIcon();
    pTree->SetLoadCount(0, 0);
    int inserted = 0;
    CString name, data;
    for (LONG r = GetNextNameValue(HKEY_LOCAL_MACHINE, m_strFontKey, &name, &data); r == ERROR_SUCCESS;
         r = GetNextNameValue(HKEY_LOCAL_MACHINE, _T(""), &name, &data)) {
        if (data.IsEmpty() || data.Find(_T('\\')) >= 0)
            continue;
        if (InsertFontItem(pTree, hItem, m_strFontsFolder + _T("\\") + data, name, 15)) {
            pTree->AddLoadCount(1);
            ++inserted;
        }
    }
    GetNextNameValue(nullptr, nullptr, nullptr, nullptr);
    if (inserted)
        pTree->SortChildren(hItem);
    pTree->SetLoadCount(1, 1);
    return 1;
}

int CFontsAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) {
    if (!Init() || !lpszSetPath || !*lpszSetPath || !HasBackupData(lpszSetPath[0]))
        return 0;
    return InsertSetDataFolder(
               pTree, hTop, lpszSetPath, _T("Fonts"), this, m_strRootLabel, [](const CString&) { return true; },
               [this] { return std::pair(m_nClosedIcon, m_nOpenIcon); })
               ? 1
               : 0;
}

int CFontsAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!IsAgentItem(pTree, hItem) || !pData || pData->m_pAgent != this)
        return 0;
    FontIcon();
    pTree->SetLoadCount(0, 0);
    int inserted = 0;
    const DWORD childFlags = pData->m_dwFlags & 0x0F;
    // Each font the set's "fonts.ini" names, under its display name.
    ForEachListedEntry(pTree, pData, _T("fonts.ini"), _T("Fonts"),
                       [&](const CShellFolderPtr& folder, const CItemIDList& parent, const CItemIDList& child,
                           const CString&, const CString& display) {
                           if (InsertShellItemEx(pTree, hItem, folder, parent, child, this, childFlags, m_nFontIcon,
                                                 display)) {
                               pTree->AddLoadCount(1);
                               ++inserted;
                           }
                       });
    if (inserted)
        CBackManager::SortChildren(pTree, hItem);
    pTree->SetLoadCount(1, 1);
    return 1;
}

int CFontsAgent::PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                               int* pnCount1, int* pnCount2) {
    const CString folder = PrepareSetDataFolder(pTree, hRoot, lpszSetPath, dwFlags, _T("Fonts"), pnCount1, pnCount2);
    if (folder.IsEmpty())
        return 0;
    // A checked root that was never opened has no font items yet; they are listed now, so that "fonts.ini" names
    // every font the job copies (a font file the set does not name cannot be restored from the tree).
    if (pTree->GetCheckState(hRoot) != kStateUnchecked && !pTree->GetChildItem(hRoot)) {
        pTree->Expand(hRoot, TVE_EXPAND);
        pTree->Expand(hRoot, TVE_COLLAPSE);
    }
    const CString ini = folder + _T("\\fonts.ini");
    for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
        if (pTree->GetCheckState(h) != kStateChecked)
            continue;
        const CString key = LastComponent(WithoutTrailingBackslash(PathOf(pTree, h)));
        if (!WritePrivateProfileStringW(_T("Fonts"), key, pTree->GetItemText(h), ini))
            LogFormat(_T("%s, %d: WritePrivateProfileString failed."), kSource, __LINE__, 8);
    }
    return 0;
}

int CFontsAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    return DataFolderItemLabel(pTree, hItem, _T("Fonts"), strLabel);
}

int CFontsAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    return DataFolderItemName(pTree, hItem, _T("Fonts"), strName, chType);
}

int CFontsAgent::HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree)
        return 0;
    return pTree->GetTreeType() == kTreeRestore || !IsAgentItem(pTree, hItem) ? 1 : 0;
}

CShellFolderPtr CFontsAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || (IsAgentItem(pTree, hItem) && pTree->GetTreeType() != kTreeRestore))
        return CBackAgent::GetRootFolder(pTree, hItem);
    return pData->m_folder;
}

LPITEMIDLIST CFontsAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || (IsAgentItem(pTree, hItem) && pTree->GetTreeType() != kTreeRestore))
        return nullptr;
    return pData->m_list.Get();
}

int CFontsAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    if (!pTree || !hItem)
        return kNodeSkip;
    const int answer = DataFolderNodeAnswer(pTree, hItem, IsAgentItem(pTree, hItem));
    CShellItemData* pData = DataOf(pTree, hItem);
    const CString path = pData && pData->m_list.IsValid() ? pData->m_list.GetPath() : m_strFontsFolder;
    if (!CopyToBuffer(_T("\\\\?\\") + path, lpszPath, cbBuffer, kSource, __LINE__))
        return kNodeSkip;
    return answer;
}

int CFontsAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return GetBackupNodeAnswer(pTree, hItem, lpszPath, cbBuffer);
}

int CFontsAgent::MapBackupPath(CShellTreeCtrl*, HTREEITEM, LPCTSTR lpszSetName, LPTSTR lpszSource, LPTSTR lpszDest,
                               int cbBuffer) {
    if (!lpszSource || !lpszDest)
        return kPathSkip;
    const CString source = WithoutLongPrefix(lpszSource);
    if (source.Find(_T(':')) < 0)
        return kPathSkip;
    // Only what lies in the Fonts folder has a place in the set's "Fonts" folder.
    const CString folder = m_strFontsFolder;
    if (folder.IsEmpty() || source.GetLength() < folder.GetLength() ||
        source.Left(folder.GetLength()).CompareNoCase(folder) != 0 ||
        (source.GetLength() > folder.GetLength() && source[folder.GetLength()] != _T('\\'))) {
        LogFormat(_T("%s, %d: The %s is not in the fonts folder."), kSource, __LINE__, 8, source);
        return kPathSkip;
    }
    const CString root = WithoutTrailingBackslash(WithoutLeadingMarks(lpszDest));
    CString result;
    result.Format(_T("\\\\?\\%s\\%s\\%s\\Fonts%s"), root.GetString(), _T("KovraData"),
                  lpszSetName ? lpszSetName : _T(""), source.Mid(folder.GetLength()).GetString());
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int CFontsAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int nPathOption, LPCTSTR lpszDestFolder, LPTSTR lpszSource,
                                LPTSTR lpszDest, int cbBuffer) {
    if (!IsRestoreOptionUsable(nPathOption, lpszDestFolder, lpszSource, lpszDest))
        return kPathSkip;
    const CString destination = lpszDestFolder ? lpszDestFolder : _T("");
    const CString source = WithoutTrailingBackslash(lpszSource);
    const int fonts = FontsComponent(source);
    CString result;
    if (nPathOption == 1) {
        if (fonts < 0)
            return kPathSkip;
        result.Format(_T("%s%s"), m_strFontsFolder.GetString(), source.Mid(fonts + 6).GetString());
    } else if (nPathOption == 2) {
        result = FlatRestorePath(WithoutLongPrefix(source), destination);
    } else {
        if (fonts < 0)
            return kPathSkip;
        result.Format(_T("%s%s"), WithTrailingBackslash(destination).GetString(), source.Mid(fonts + 1).GetString());
    }
    return CopyToBuffer(_T("\\\\?\\") + WithoutLongPrefix(result), lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped
                                                                                                          : kPathSkip;
}

int CFontsAgent::HasBackupData(TCHAR chDrive) {
    return HasListedSetFile(chDrive, _T("Fonts"), _T("fonts.ini"), _T("Fonts")) ? 1 : 0;
}

int CFontsAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                                     HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) {
    if (phChild)
        *phChild = nullptr;
    if (pnChildState)
        *pnChildState = 0;
    if (!pTree || !lpszPath || lstrlenW(lpszPath) < 2 || lpszPath[1] != _T(':'))
        return kPathNotInTree;
    const CString path = WithoutTrailingBackslash(lpszPath);
    if (pTree->GetTreeType() == kTreeRestore)
        return FindTreeItemByPath(pTree, hStart, lpszSetRoot, _T("Fonts"), path, nullptr, phItem, pnState, phChild,
                                  pnChildState);
    if (phItem)
        *phItem = hStart;
    if (pnState)
        *pnState = hStart ? pTree->GetCheckState(hStart) : 0;
    const CString folder = m_strFontsFolder;
    if (folder.IsEmpty() || path.GetLength() <= folder.GetLength() + 1 ||
        path.Left(folder.GetLength()).CompareNoCase(folder) != 0 || path[folder.GetLength()] != _T('\\') ||
        !pTree->GetChildItem(hStart))
        return kPathNotInTree;
    const CString rest = path.Mid(folder.GetLength() + 1);
    if (rest.Find(_T('\\')) >= 0)
        return kPathNotInTree;
    for (HTREEITEM h = pTree->GetChildItem(hStart); h; h = pTree->GetNextSiblingItem(h)) {
        if (LastComponent(WithoutTrailingBackslash(PathOf(pTree, h))).CompareNoCase(rest) == 0) {
            if (phChild)
                *phChild = h;
            if (pnChildState)
                *pnChildState = pTree->GetCheckState(h);
            return kPathItemFound;
        }
    }
    return kPathFolderFound;
}

int CFontsAgent::ApplyShellChange(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetRoot, LONG lEvent,
                                  LPCITEMIDLIST pidl, bool bRestore) {
    const CString path = WithoutTrailingBackslash(CItemIDList(pidl).GetPath());
    if (path.IsEmpty())
        return 0;
    HTREEITEM hFolder = nullptr, hFile = nullptr;
    UINT folderState = 0, fileState = 0;
    const int located =
        FindTreeItemForPath(pTree, hRoot, lpszSetRoot, path, &hFolder, &folderState, &hFile, &fileState);
    switch (lEvent) {
    case SHCNE_CREATE:
    case SHCNE_MKDIR: {
        // The created file itself is listed, under the name the font table (or the set's "fonts.ini") gives it.
        if (located != kPathFolderFound || !hFolder)
            return 0;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
            return 0;
        const CString fileName = LastComponent(path);
        CString display;
        if (bRestore) {
            WCHAR value[2048] = {};
            GetPrivateProfileStringW(_T("Fonts"), fileName, _T(""), value, 2048,
                                     path.Left(path.GetLength() - fileName.GetLength()) + _T("fonts.ini"));
            display = value;
        } else {
            CString name, data;
            for (LONG r = GetNextNameValue(HKEY_LOCAL_MACHINE, m_strFontKey, &name, &data); r == ERROR_SUCCESS;
                 r = GetNextNameValue(HKEY_LOCAL_MACHINE, _T(""), &name, &data))
                if (data.CompareNoCase(fileName) == 0) {
                    display = name;
                    break;
                }
            GetNextNameValue(nullptr, nullptr, nullptr, nullptr);
        }
        if (display.IsEmpty() || !InsertFontItem(pTree, hFolder, path, display, 3))
            return 0;
        if (pTree->GetCheckState(hFolder) == kStateChecked)
            for (HTREEITEM h = pTree->GetChildItem(hFolder); h; h = pTree->GetNextSiblingItem(h))
                if (SamePath(PathOf(pTree, h), path))
                    pTree->SetCheckState(h, kStateChecked);
        pTree->SortChildren(hFolder);
        return 1;
    }
    case SHCNE_UPDATEDIR:
        if (located != kPathItemFound || !hFile)
            return 0;
        pTree->RefreshItem(hFile);
        return 1;
    case SHCNE_RENAMEITEM:
    case SHCNE_DELETE:
    case SHCNE_RMDIR:
    case SHCNE_RENAMEFOLDER: {
        if (located != kPathItemFound || !hFile)
            return 0;
        pTree->DeleteChildren(hFile);
        pTree->DeleteItem(hFile);
        const HTREEITEM hFirst = pTree->GetChildItem(hFolder);
        if (!hFirst)
            pTree->SetItemState(hFolder, 0, TVIS_EXPANDED);
        if (folderState == kStatePartial) {
            if (hFirst)
                pTree->UpdateParentStates(hFirst, pTree->GetCheckState(hFirst));
            else if (fileState != kStateUnchecked)
                pTree->SetCheckState(hFolder, kStateUnchecked);
        }
        return 1;
    }
    default:
        return 0;
    }
}

int CFontsAgent::OnShellChange(CShellTreeCtrl* pTree, HTREEITEM hRoot, LONG lEvent, LPCITEMIDLIST pidl1,
                               LPCITEMIDLIST) {
    if (!pTree || !pidl1)
        return 0;
    return ApplyShellChange(pTree, hRoot, nullptr, lEvent, pidl1, false);
}

int CFontsAgent::OnSetShellChange(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetRoot, LONG lEvent,
                                  LPCITEMIDLIST pidl1, LPCITEMIDLIST) {
    if (!pTree || !pidl1)
        return 0;
    return ApplyShellChange(pTree, hTop, lpszSetRoot, lEvent, pidl1, true);
}

int CFontsAgent::AfterRestore(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot) {
    // Fonts copied before a cancel are in place too: the desktop's font cache and every window learn of them.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    WCHAR command[] = u"fc-cache";
    if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &info)) {
        if (WaitForSingleObject(info.hProcess, 120'000) != WAIT_OBJECT_0)
            LogFormat(_T("%s, %d: %s did not end in time."), kSource, __LINE__, 8, _T("fc-cache"));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    } else {
        LogFormat(_T("%s, %d: Can't launch %s."), kSource, __LINE__, 8, _T("fc-cache"));
    }
    InstallRestoredFonts(pTree, hRoot);
    SendMessageTimeoutW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr);
    if (nCancel)
        return 0;
    RestartFontsWindow();
    return 0;
}

void CFontsAgent::InstallRestoredFonts(CShellTreeCtrl* pTree, HTREEITEM hRoot) {
    if (!pTree || !hRoot || m_strFontsFolder.IsEmpty())
        return;
    for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
        if (pTree->GetCheckState(h) != kStateChecked)
            continue;
        const CString name = LastComponent(WithoutTrailingBackslash(PathOf(pTree, h)));
        const CString path = m_strFontsFolder + _T("\\") + name;
        const DWORD attributes = GetFileAttributesW(path);
        if (name.IsEmpty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        // A font this agent added before is taken back first, so that the restored file is the one drawn.
        if (m_installed.count(path.GetString()))
            RemoveFontResourceW(path);
        if (AddFontResourceW(path) > 0)
            m_installed.insert(path.GetString());
        else
            LogFormat(_T("%s, %d: AddFontResource %s failed."), kSource, __LINE__, 8, path);
    }
}

void CFontsAgent::RestartFontsWindow() {
    WCHAR windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const CString explorer = WithoutTrailingBackslash(windows) + _T("\\explorer.exe");
    if (m_bRestartPending) {
        LogFormat(_T("%s, %d: %s is running."), kSource, __LINE__, 8, explorer);
        return;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    CString command;
    command.Format(_T("\"%s\" %s"), explorer.GetString(), m_strFontsFolder.GetString());
    std::u16string line(command.GetString());
    const BOOL started =
        CreateProcessW(explorer, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    if (!started) {
        // Where no desktop shell of this system runs there is nothing to restart.
        LogFormat(_T("%s, %d: Can't launch %s."), kSource, __LINE__, 8, explorer);
        return;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    m_bRestartPending = 1;
    // Only the window on the Fonts folder itself is the shell's; a window merely titled "Fonts" may be any
    // program's, and is never ended.
    HWND hWindow = nullptr;
    for (int attempt = 0; attempt < 10 && !hWindow; ++attempt) {
        hWindow = FindWindowW(nullptr, m_strFontsFolder);
        if (!hWindow)
            Sleep(100);
    }
    m_bRestartPending = 0;
    if (!hWindow) {
        LogFormat(_T("%s, %d: Can not find %s window."), kSource, __LINE__, 8, explorer);
        return;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(hWindow, &processId);
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId)) {
        TerminateProcess(process, 1);
        CloseHandle(process);
    }
    STARTUPINFOW shown{};
    shown.cb = sizeof shown;
    shown.dwFlags = STARTF_USESHOWWINDOW;
    shown.wShowWindow = SW_SHOWNORMAL;
    std::u16string again(CString(_T("\"") + explorer + _T("\"")).GetString());
    PROCESS_INFORMATION second{};
    if (!CreateProcessW(explorer, again.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &shown, &second)) {
        LogFormat(_T("%s, %d: Reload explorer failed."), kSource, __LINE__, 8);
        return;
    }
    CloseHandle(second.hThread);
    CloseHandle(second.hProcess);
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)))
        if (CWnd* pMain = static_cast<CBrannicApp*>(pApp)->GetMainDlg())
            if (pMain->IsKindOf(RUNTIME_CLASS(CTrayDialog))) {
                auto* pTray = static_cast<CTrayDialog*>(pMain);
                if (!pTray->ModifyTrayIcon())
                    pTray->AddTrayIcon();
            }
}
