#include "agents/OutlookAgent.h"

#include "agents/AgentHelpers.h"
#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"

#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/registry/ini.h"
#include "platform/ui/msgbox.h"

#include <memory>
#include <vector>

IMPLEMENT_DYNAMIC(COutlookAgent, CBackAgent)

using namespace agents;

namespace {

constexpr const char16_t* kSource = u"OutlookAgent";
constexpr const char16_t* kProgramKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Outlook.exe";
constexpr const char16_t* kProfilesKey =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

// Whether the icon images were last taken for a usable client; -1 before the first time.
int g_nImagesUsable = -1;

// The default profile's key, opened for reading.
platform::OwnedKey OpenDefaultProfile() {
    HKEY profiles = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesKey, 0, KEY_READ, &profiles) != ERROR_SUCCESS)
        return platform::OwnedKey();
    platform::OwnedKey profilesKey(profiles);
    WCHAR name[128] = {};
    DWORD size = 256, type = 0;
    if (RegQueryValueExW(profiles, u"DefaultProfile", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return platform::OwnedKey();
    name[127] = 0;
    HKEY profile = nullptr;
    if (RegOpenKeyExW(profiles, name, 0, KEY_READ, &profile) != ERROR_SUCCESS)
        return platform::OwnedKey();
    return platform::OwnedKey(profile);
}

CString ReadProfileValue(LPCTSTR lpszIni, LPCTSTR lpszKey, DWORD nSize = 2048) {
    std::vector<WCHAR> value(nSize, 0);
    GetPrivateProfileStringW(_T("PSTPath"), lpszKey, _T(""), value.data(), nSize, lpszIni);
    return CString(value.data());
}

} // namespace

int COutlookAgent::OnRegister() {
    return 1;
}

CString COutlookAgent::GetDataFolderName() {
    return CString(u"Outlook");
}

int COutlookAgent::CanExpand() {
    return 0;
}

HTREEITEM COutlookAgent::FindCoveringItem(CShellTreeCtrl*, HTREEITEM, LPCTSTR) {
    return nullptr;
}

int COutlookAgent::Init() {
    WCHAR program[2048] = {};
    DWORD size = sizeof program - 2, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(program), &size) != ERROR_SUCCESS)
            program[0] = 0;
        RegCloseKey(key);
    }
    m_strProgramPath = program;
    if (m_strProgramPath.IsEmpty() || !CBrannicApp::FileExists(m_strProgramPath))
        return 0;
    platform::OwnedKey profile = OpenDefaultProfile();
    DWORD subKeys = 0;
    if (!profile ||
        RegQueryInfoKeyW(profile.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys == 0)
        return 0;
    m_bInitialized = 1;
    return 1;
}

void COutlookAgent::FindPSTPath(HKEY hProfileSubKey, CStringList& list) {
    for (DWORD index = 0;; ++index) {
        WCHAR name[256] = {};
        std::vector<BYTE> data(8192 + 2, 0);
        DWORD nameSize = 256, dataSize = 8192, type = 0;
        const LONG error =
            RegEnumValueW(hProfileSubKey, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
        if (error == ERROR_MORE_DATA)
            continue;
        if (error != ERROR_SUCCESS)
            break;
        CString path;
        if (lstrcmpW(name, u"001f6700") == 0) {
            const auto* text = reinterpret_cast<const char16_t*>(data.data());
            for (DWORD i = 0; i < dataSize / 2 && text[i]; ++i)
                path += text[i];
        } else if (lstrcmpW(name, u"001e6700") == 0) {
            // The 8-bit form of the same property: a path in the system's code page.
            std::string bytes(reinterpret_cast<const char*>(data.data()), dataSize);
            bytes = bytes.substr(0, bytes.find('\0'));
            const int length = MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, nullptr, 0);
            std::vector<WCHAR> wide(length > 0 ? length : 1, 0);
            if (length > 0)
                MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, wide.data(), length);
            path = wide.data();
        } else {
            continue;
        }
        if (!path.IsEmpty() && PathExists(path))
            list.AddTail(path);
    }
}

int COutlookAgent::GetPSTList(CStringList& list) {
    list.RemoveAll();
    platform::OwnedKey profile = OpenDefaultProfile();
    if (!profile)
        return -1;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256] = {};
        DWORD size = 256;
        if (RegEnumKeyExW(profile.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(profile.get(), name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        FindPSTPath(sub, list);
        RegCloseKey(sub);
    }
    return static_cast<int>(list.GetCount());
}

int COutlookAgent::HasPSTFile(LPCTSTR lpszFolder, DWORD) {
    if (!lpszFolder)
        return 0;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(WithoutTrailingBackslash(lpszFolder) + _T("\\*"), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int found = 0;
    do {
        if (HasExtension(CString(data.cFileName), _T(".pst")))
            found = 1;
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

void COutlookAgent::TakeImages(bool bUsable) {
    if (g_nImagesUsable == (bUsable ? 1 : 0) && m_nImage != -1 && m_nOpenImage != -1)
        return;
    if (bUsable) {
        m_nImage = FileIconIndex(m_strProgramPath);
        m_nOpenImage = FileIconIndex(m_strProgramPath, true);
    } else {
        m_nImage = ResIconIndex(_T("IDI_OutlookCant.ico"));
        m_nOpenImage = ResIconIndex(_T("IDI_OutlookCant.ico"), true);
    }
    g_nImagesUsable = bUsable ? 1 : 0;
}

int COutlookAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (!pTree || !Init())
        return 0;
    TakeImages(true);
    HTREEITEM hRoot = InsertTextItem(pTree, hTop, this, 1, m_nImage, _T("Outlook"));
    if (!hRoot)
        return 0;
    pTree->SetItemImage(hRoot, m_nImage, m_nOpenImage);
    // The files are listed at once, so that a job finds them without the user opening the root.
    pTree->ExpandAll(hRoot, TVE_EXPAND);
    pTree->ExpandAll(hRoot, TVE_COLLAPSE);
    return 1;
}

int COutlookAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!IsAgentItem(pTree, hItem))
        return 1;
    CStringList list;
    GetPSTList(list);
    pTree->SetLoadCount(0, 0);
    int result = 1;
    for (POSITION pos = list.GetHeadPosition(); pos;) {
        const CString path = list.GetNext(pos);
        CItemIDList item(path.GetString());
        if (!item.IsValid())
            continue;
        std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(item.GetParentCopy(), CItemIDList::Free);
        CDesktopFolder desktop;
        CShellFolderPtr folder(desktop.Get(), parent.get());
        if (!InsertShellItemWithImages(pTree, hItem, folder, parent.get(), item.GetLastItem(), this, 3,
                                       item.GetIconIndex(SHGFI_SMALLICON),
                                       item.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON))) {
            result = 0;
            break;
        }
        pTree->AddLoadCount(1);
    }
    pTree->SetLoadCount(1, 1);
    return result;
}

int COutlookAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) {
    if (!pTree || !lpszSetPath)
        return 0;
    const bool usable = Init() != 0;
    HTREEITEM hItem = InsertSetDataFolder(
        pTree, hTop, lpszSetPath, _T("Outlook"), this, _T("Outlook"),
        [](const CString& strPath) { return HasPSTFile(strPath, 0) != 0; },
        [&] {
            TakeImages(usable);
            return std::pair(m_nImage, m_nOpenImage);
        });
    if (!hItem)
        return 0;
    if (!usable)
        pTree->SetCheckState(hItem, kStateFixed);
    return 1;
}

int COutlookAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || hItem == pTree->GetRootItem()) {
        if (pTree)
            pTree->SetLoadCount(1, 1);
        return 0;
    }
    pTree->SetLoadCount(0, 0);
    // Each personal folder file that the set's "outlook.ini" records.
    const bool listed = ForEachListedEntry(
        pTree, pData, _T("outlook.ini"), _T("PSTPath"),
        [&](const CShellFolderPtr& folder, const CItemIDList& parent, const CItemIDList& child, const CString& strPath,
            const CString&) {
            if (!HasExtension(LastComponent(strPath), _T(".pst")))
                return;
            CItemIDList full;
            full.Combine(parent, child);
            if (InsertShellItemWithImages(pTree, hItem, folder, parent, child, this, pData->m_dwFlags & 0x0F,
                                          full.GetIconIndex(SHGFI_SMALLICON),
                                          full.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON)))
                pTree->AddLoadCount(1);
        });
    pTree->SetLoadCount(1, 1);
    return listed ? 1 : 0;
}

CString COutlookAgent::SetFileName(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    const CString name = LastComponent(WithoutTrailingBackslash(PathOf(pTree, hItem)));
    int same = 0;
    if (pTree && hItem) {
        HTREEITEM hParent = pTree->GetParentItem(hItem);
        for (HTREEITEM h = pTree->GetChildItem(hParent); h && h != hItem; h = pTree->GetNextSiblingItem(h))
            if (pTree->GetCheckState(h) == kStateChecked &&
                LastComponent(WithoutTrailingBackslash(PathOf(pTree, h))).CompareNoCase(name) == 0)
                ++same;
    }
    if (same == 0)
        return name;
    const int dot = name.ReverseFind(_T('.'));
    CString numbered;
    numbered.Format(_T("%s (%d)%s"), (dot < 0 ? name : name.Left(dot)).GetString(), same + 1,
                    (dot < 0 ? CString() : name.Mid(dot)).GetString());
    return numbered;
}

int COutlookAgent::PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                                 int* pnCount1, int* pnCount2) {
    const CString folder =
        PrepareSetDataFolder(pTree, hRoot, lpszSetPath, dwFlags, _T("Outlook"), pnCount1, pnCount2);
    if (folder.IsEmpty())
        return 0;
    const CString ini = folder + _T("\\outlook.ini");
    for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
        if (pTree->GetCheckState(h) != kStateChecked)
            continue;
        if (!WritePrivateProfileStringW(_T("PSTPath"), SetFileName(pTree, h), PathOf(pTree, h), ini))
            LogFormat(_T("%s, %d: WritePrivateProfileString failed."), kSource, __LINE__, 8);
    }
    return 0;
}

int COutlookAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    return DataFolderItemLabel(pTree, hItem, _T("Outlook"), strLabel);
}

int COutlookAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    return DataFolderItemName(pTree, hItem, _T("Outlook"), strName, chType);
}

int COutlookAgent::HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData && pData->m_list.IsValid() ? 1 : 0;
}

CShellFolderPtr COutlookAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (pData && (!IsAgentItem(pTree, hItem) || pTree->GetTreeType() == kTreeRestore))
        return pData->m_folder;
    return CBackAgent::GetRootFolder(pTree, hItem);
}

LPITEMIDLIST COutlookAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (pData && (!IsAgentItem(pTree, hItem) || pTree->GetTreeType() == kTreeRestore))
        return pData->m_list.Get();
    return nullptr;
}

int COutlookAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    if (!pTree || !hItem)
        return kNodeSkip;
    const int answer = DataFolderNodeAnswer(pTree, hItem, pTree->GetItemDepth(hItem) < 2);
    if (!CopyToBuffer(PrefixedPath(PathOf(pTree, hItem)), lpszPath, cbBuffer, kSource, __LINE__))
        return kNodeSkip;
    return answer;
}

int COutlookAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    return GetBackupNodeAnswer(pTree, hItem, lpszPath, cbBuffer);
}

int COutlookAgent::MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource,
                                 LPTSTR lpszDest, int cbBuffer) {
    if (!lpszSource || !*lpszSource || !lpszDest)
        return kPathMapped;
    CString source(lpszSource);
    if (source.Find(_T('?')) >= 0)
        source = WithoutLeadingMarks(source);
    CItemIDList list(source.GetString());
    if (!list.IsValid())
        return kPathMapped;
    CString result;
    result.Format(_T("%s\\%s\\%s\\%s"), WithoutTrailingBackslash(lpszDest).GetString(), _T("KovraData"),
                  lpszSetName ? lpszSetName : _T(""), _T("Outlook"));
    if (!pTree || pTree->GetItemDepth(hItem) != 2)
        return kPathSkip;
    result += _T("\\") + SetFileName(pTree, hItem);
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int COutlookAgent::MapRestorePath(CShellTreeCtrl*, HTREEITEM, int nPathOption, LPCTSTR lpszDestFolder,
                                  LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) {
    if (!IsRestoreOptionUsable(nPathOption, lpszDestFolder, lpszSource, lpszDest))
        return kPathSkip;
    const CString destination = lpszDestFolder ? lpszDestFolder : _T("");
    const CString source = WithoutTrailingBackslash(lpszSource);
    if (!HasExtension(source, _T(".pst")))
        return kPathMapped;
    const CString plain = WithoutLongPrefix(source);
    CString result;
    if (nPathOption == 1) {
        const CString ini = plain.Left(plain.ReverseFind(_T('\\')) + 1) + _T("outlook.ini");
        result = ReadProfileValue(ini, LastComponent(plain));
        if (result.IsEmpty())
            return kPathSkip;
    } else if (nPathOption == 2) {
        result = FlatRestorePath(plain, destination);
    } else {
        const int colon = source.Find(_T(':'));
        int slash = colon;
        for (int i = 0; i < 3 && slash >= 0; ++i)
            slash = source.Find(_T('\\'), slash + 1);
        const int relative = slash < 0 ? -1 : source.Find(_T("Outlook"), slash);
        if (relative < 0)
            return kPathSkip;
        result.Format(_T("%s%s"), WithTrailingBackslash(destination).GetString(), source.Mid(relative).GetString());
    }
    if (result.Find(_T(':')) >= 0)
        result = _T("\\\\?\\") + WithoutLongPrefix(result);
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int COutlookAgent::HasBackupData(TCHAR chDrive) {
    return HasListedSetFile(chDrive, _T("Outlook"), _T("outlook.ini"), _T("PSTPath")) ? 1 : 0;
}

int COutlookAgent::CanStartJob(HWND hOwner, int nPrompt) {
    if (!IsProcessRunning(_T("OUTLOOK.EXE")))
        return 1;
    const CString caption = LoadText(2304, _T("Kovra"));
    const CString ask = LoadText(5015, _T("Outlook is running. It may cause backup error. Please click OK to close it "
                                          "and continue to backup. Or click Cancel to return to setting dialog."));
    if (MessageBoxW(hOwner, ask, caption, MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL)
        return 0;
    const CString failed = LoadText(5026, _T("Closing Outlook failed."));
    int result = 1;
    while (!CloseProcessWindows(_T("OUTLOOK.EXE"))) {
        if (!nPrompt)
            break;
        const int answer = MessageBoxW(hOwner, failed, caption, MB_CANCELTRYCONTINUE | MB_ICONINFORMATION);
        if (answer == IDCANCEL) {
            result = 0;
            break;
        }
        if (answer == IDCONTINUE)
            break;
    }
    if (IsProcessRunning(_T("OUTLOOK.EXE")))
        Log(failed, kSource, __LINE__, 2);
    return result;
}

int COutlookAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                                       HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) {
    return FindInSetDataFolder(pTree, hStart, lpszSetRoot, _T("Outlook"), lpszPath, phItem, pnState, phChild,
                               pnChildState);
}
