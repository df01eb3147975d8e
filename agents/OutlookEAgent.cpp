#include "agents/OutlookEAgent.h"

#include "agents/AgentHelpers.h"
#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/DesktopFolder.h"
#include "engine/EnumIDListPtr.h"

#include "platform/afx/ListCtrl.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/registry/ini.h"
#include "platform/registry/registry.h"
#include "platform/system/environment.h"

#include <memory>

IMPLEMENT_DYNAMIC(COutlookEAgent, CBackAgent)

using namespace agents;

namespace {

constexpr const char16_t* kSource = u"OutlookEAgent";
constexpr const char16_t* kMailPath = u"Software\\Microsoft\\Outlook Express\\5.0";

struct KeyEnumeration {
    HKEY key = nullptr;
    DWORD index = 0;
};
KeyEnumeration& Enumeration() {
    static KeyEnumeration enumeration;
    return enumeration;
}

// A registry value as text (4096 bytes at most); FALSE when it cannot be read.
BOOL ReadText(HKEY hRoot, const CString& strKey, LPCTSTR lpszName, CString& strValue) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hRoot, strKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    WCHAR data[2048 + 1] = {};
    DWORD size = 4096, type = 0;
    const LONG error = RegQueryValueExW(key, lpszName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return FALSE;
    strValue = data;
    return TRUE;
}

BOOL ReadDword(HKEY hRoot, const CString& strKey, LPCTSTR lpszName, DWORD& dwValue) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hRoot, strKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    DWORD size = sizeof dwValue, type = 0;
    const LONG error = RegQueryValueExW(key, lpszName, nullptr, &type, reinterpret_cast<BYTE*>(&dwValue), &size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

BOOL KeyOpens(const CString& strKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, strKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}

CString IdentityKey(const CString& strId, LPCTSTR lpszKey) {
    CString key;
    key.Format(_T("%s\\%s\\%s"), _T("Identities"), strId.GetString(), lpszKey);
    return key;
}

bool IsUsed(const CString& strId) {
    DWORD checked = 0;
    return ReadDword(HKEY_CURRENT_USER, IdentityKey(strId, _T("Software\\Microsoft\\Outlook Express\\5.0\\Mail")),
                     _T("Accounts Checked"), checked) &&
           checked != 0;
}

CString Message852(LPCTSTR lpszResult, bool bRestore, LPCTSTR lpszName) {
    CString text;
    text.Format(LoadText(852, _T("%s to %s file %s")), lpszResult,
                bRestore ? LoadText(846, _T("restore")).GetString() : LoadText(845, _T("backup")).GetString(),
                lpszName);
    return text;
}

bool HoldsDbx(const CString& strFolder) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(strFolder + _T("\\*"), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        found =
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HasExtension(CString(data.cFileName), _T(".DBX"));
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

CShellItemData* Data(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    return DataOf(pTree, hItem);
}

bool HasList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = Data(pTree, hItem);
    return pData && pData->m_list.IsValid();
}

} // namespace

COutlookEAgent::~COutlookEAgent() = default;

int COutlookEAgent::OnRegister() {
    return 1;
}

CString COutlookEAgent::GetDataFolderName() {
    return CString(u"OutlookExpress");
}

int COutlookEAgent::CanExpand() {
    return 0;
}

HTREEITEM COutlookEAgent::FindCoveringItem(CShellTreeCtrl*, HTREEITEM, LPCTSTR) {
    return nullptr;
}

LONG COutlookEAgent::GetNextKeyName(HKEY hRoot, LPCTSTR lpszSubKey, LPTSTR lpszName, DWORD dwSize) {
    KeyEnumeration& e = Enumeration();
    if (!lpszSubKey && !lpszName) {
        if (e.key)
            RegCloseKey(e.key);
        e.key = nullptr;
        e.index = 0;
        return ERROR_SUCCESS;
    }
    if (lpszSubKey && *lpszSubKey) {
        if (e.key)
            RegCloseKey(e.key);
        e.key = nullptr;
        e.index = 0;
        if (LONG error = RegOpenKeyExW(hRoot, lpszSubKey, 0, KEY_READ, &e.key)) {
            e.key = nullptr;
            return error;
        }
    } else {
        ++e.index;
    }
    if (!e.key || !lpszName)
        return ERROR_INVALID_HANDLE;
    DWORD size = dwSize;
    return RegEnumKeyExW(e.key, e.index, lpszName, &size, nullptr, nullptr, nullptr, nullptr);
}

int COutlookEAgent::Init() {
    m_itemFiles.Reset(2);
    for (const CString* text :
         {&m_strAccountSettings, &m_strMailbox, &m_strSignatures, &m_strMessageRules, &m_strBlockSender})
        m_itemFiles.Add(*text, *text);
    DWORD access = 1;
    if (!ReadDword(HKEY_LOCAL_MACHINE,
                   _T("Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\Oc Manager\\Subcomponents"), _T("OEAccess"),
                   access))
        access = 1;
    if (access == 0)
        return 0;
    CString program;
    ReadText(HKEY_LOCAL_MACHINE, _T("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\msimn.exe"), nullptr,
             program);
    m_strProgramPath = ExpandedText(program);
    if (m_strProgramPath.IsEmpty() || !CBrannicApp::FileExists(m_strProgramPath))
        return 0;
    if (!ReadText(HKEY_CURRENT_USER, _T("Identities"), _T("Default User ID"), m_strDefaultId))
        return 0;
    bool used = false;
    WCHAR id[256] = {};
    for (LONG r = GetNextKeyName(HKEY_CURRENT_USER, _T("Identities"), id, 256); r == ERROR_SUCCESS && !used;
         r = GetNextKeyName(HKEY_CURRENT_USER, _T(""), id, 256))
        used = IsUsed(id);
    GetNextKeyName(nullptr, nullptr, nullptr, 0);
    if (!used)
        return 0;
    m_bInitialized = 1;
    return 1;
}

std::vector<CString> COutlookEAgent::LoadIdentityTable() {
    m_identities.Reset(2);
    std::vector<CString> names;
    WCHAR id[256] = {};
    for (LONG r = GetNextKeyName(HKEY_CURRENT_USER, _T("Identities"), id, 256); r == ERROR_SUCCESS;
         r = GetNextKeyName(HKEY_CURRENT_USER, _T(""), id, 256)) {
        CString user;
        if (!ReadText(HKEY_CURRENT_USER, CString(_T("Identities\\")) + id, _T("Username"), user))
            continue;
        // A second identity of one user name keeps its own keys, folder and line under a name of its own.
        CString name = user;
        for (int n = 2; m_identities.Lookup(name); ++n)
            name.Format(_T("%s (%d)"), user.GetString(), n);
        m_identities.Add(name, id);
        names.push_back(name);
    }
    GetNextKeyName(nullptr, nullptr, nullptr, 0);
    return names;
}

int COutlookEAgent::CheckRegByItemName(LPCTSTR lpszUserName, int nKind, CString* pStorePath) {
    LPCTSTR id = m_identities.Lookup(lpszUserName);
    if (!id)
        return 0;
    const CString identity(id);
    CString value;
    switch (nKind) {
    case 2:
        return identity == m_strDefaultId ||
               KeyOpens(IdentityKey(identity, _T("Software\\Microsoft\\Internet Account Manager")));
    case 3:
        if (!ReadText(HKEY_CURRENT_USER, IdentityKey(identity, kMailPath), _T("Store Root"), value))
            return 0;
        if (pStorePath)
            *pStorePath = WithoutTrailingBackslash(ExpandedText(value));
        return 1;
    case 4:
        return ReadText(HKEY_CURRENT_USER,
                        IdentityKey(identity, _T("Software\\Microsoft\\Outlook Express\\5.0\\signatures")),
                        _T("Default Signature"), value);
    case 5:
        return KeyOpens(IdentityKey(identity, _T("Software\\Microsoft\\Outlook Express\\5.0\\Rules")));
    case 6:
        return KeyOpens(IdentityKey(identity, _T("Software\\Microsoft\\Outlook Express\\5.0\\Block Senders")));
    default:
        return 0;
    }
}

CString COutlookEAgent::ItemKey(const CString& strItemText, const CString& strId) const {
    if (strItemText == m_strAccountSettings)
        return strId == m_strDefaultId ? CString(_T("Software\\Microsoft\\Internet Account Manager"))
                                       : IdentityKey(strId, _T("Software\\Microsoft\\Internet Account Manager"));
    if (strItemText == m_strBlockSender)
        return IdentityKey(strId, _T("Software\\Microsoft\\Outlook Express\\5.0\\Block Senders"));
    if (strItemText == m_strMessageRules)
        return IdentityKey(strId, _T("Software\\Microsoft\\Outlook Express\\5.0\\Rules"));
    if (strItemText == m_strSignatures)
        return IdentityKey(strId, _T("Software\\Microsoft\\Outlook Express\\5.0\\signatures"));
    return CString();
}

CString COutlookEAgent::AddressBookPath() const {
    CString path;
    if (!ReadText(HKEY_CURRENT_USER, _T("Software\\Microsoft\\WAB\\WAB4\\Wab File Name"), nullptr, path))
        return CString();
    return ExpandedText(path);
}

int COutlookEAgent::KindIcon(int nKind) {
    static const char16_t* const kFiles[] = {nullptr,
                                             u"IDI_OEUser.ico",
                                             u"IDI_OEAccuntSetting.ico",
                                             u"IDI_OEMailbox.ico",
                                             u"IDI_OESignature.ico",
                                             u"IDI_OEMsgRule.ico",
                                             u"IDI_OEBlockSender.ico",
                                             nullptr};
    if (nKind < 0 || nKind > 6)
        return -1;
    if (m_icons[nKind] == -1)
        m_icons[nKind] = nKind == 0 ? FileIconIndex(m_strProgramPath) : ResIconIndex(kFiles[nKind]);
    return m_icons[nKind];
}

bool COutlookEAgent::IsAddressBookItem(CShellTreeCtrl* pTree, HTREEITEM hItem) const {
    return pTree && hItem && pTree->GetItemDepth(hItem) == 2 && pTree->GetItemText(hItem) == m_strAddressBook;
}

int COutlookEAgent::FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) {
    if (!pTree || IsWindowsVista() || !Init())
        return 0;
    HTREEITEM hRoot = InsertTextItem(pTree, hTop, this, 1, KindIcon(0), _T("Outlook Express"));
    if (!hRoot)
        return 0;
    pTree->ExpandAll(hRoot, TVE_EXPAND);
    pTree->ExpandAll(hRoot, TVE_COLLAPSE);
    return 1;
}

int COutlookEAgent::ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem)
        return 0;
    const HTREEITEM hTop = pTree->GetRootItem();
    const HTREEITEM hParent = pTree->GetParentItem(hItem);
    pTree->SetLoadCount(0, 0);
    int result = 1;
    if (hParent == hTop) {
        const CString book = AddressBookPath();
        if (!book.IsEmpty()) {
            CItemIDList list(book.GetString());
            if (list.IsValid()) {
                std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(list.GetParentCopy(), CItemIDList::Free);
                CDesktopFolder desktop;
                CShellFolderPtr folder(desktop.Get(), parent.get());
                HTREEITEM hBook = InsertShellItemEx(pTree, hItem, folder, parent.get(), list.GetLastItem(), this, 3,
                                                    list.GetIconIndex(SHGFI_SMALLICON), m_strAddressBook);
                if (!hBook) {
                    pTree->SetLoadCount(1, 1);
                    return 0;
                }
                pTree->AddLoadCount(1);
            }
        }
        int inserted = 0;
        for (const CString& name : LoadIdentityTable())
            if (InsertTextItem(pTree, hItem, this, 1, KindIcon(1), name)) {
                pTree->AddLoadCount(1);
                ++inserted;
            }
        result = inserted > 0 ? 1 : 0;
    } else if (hParent && pTree->GetParentItem(hParent) == hTop) {
        const CString name = pTree->GetItemText(hItem);
        const struct {
            int kind;
            const CString* text;
        } kinds[] = {{2, &m_strAccountSettings},
                     {6, &m_strBlockSender},
                     {3, &m_strMailbox},
                     {5, &m_strMessageRules},
                     {4, &m_strSignatures}};
        for (const auto& k : kinds) {
            CString store;
            if (!CheckRegByItemName(name, k.kind, &store))
                continue;
            HTREEITEM hNew = nullptr;
            if (k.kind == 3) {
                CItemIDList list(store.GetString());
                if (!list.IsValid())
                    continue;
                std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(list.GetParentCopy(), CItemIDList::Free);
                CDesktopFolder desktop;
                CShellFolderPtr folder(desktop.Get(), parent.get());
                hNew = InsertShellItemEx(pTree, hItem, folder, parent.get(), list.GetLastItem(), this, 3, KindIcon(3),
                                         *k.text);
            } else {
                hNew = InsertTextItem(pTree, hItem, this, 0, KindIcon(k.kind), *k.text);
            }
            if (!hNew) {
                result = 0;
                break;
            }
            pTree->AddLoadCount(1);
        }
    }
    pTree->SetLoadCount(1, 1);
    return result;
}

int COutlookEAgent::FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) {
    if (!pTree || !lpszSetPath)
        return 0;
    const bool usable = !IsWindowsVista() && Init();
    CShellItemData* pTop = DataOf(pTree, hTop);
    CItemIDList setList(lpszSetPath);
    if (!setList.IsValid())
        return 0;
    CDesktopFolder desktop;
    CShellFolderPtr set(desktop.Get(), setList.Get());
    CEnumIDListPtr list(set.IsValid() ? set.Get() : nullptr, pTree->GetSafeHwnd(),
                        SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN);
    CItemIDList child;
    while (set.IsValid() && list.IsValid() && list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(setList, child);
        if (LastComponent(WithoutTrailingBackslash(full.GetPath())) != _T("OutlookExpress"))
            continue;
        const int icon = usable ? KindIcon(0) : ResIconIndex(_T("IDI_OutlookExpressCant.ico"));
        HTREEITEM hItem = InsertShellItemEx(pTree, hTop, set, setList, child, this, pTop ? (pTop->m_dwFlags & 0x0F) : 3,
                                            icon, _T("Outlook Express"));
        if (!hItem)
            return 0;
        if (!usable)
            pTree->SetCheckState(hItem, kStateFixed);
        pTree->ExpandAll(hItem, TVE_EXPAND);
        pTree->ExpandAll(hItem, TVE_COLLAPSE);
        return 1;
    }
    return 0;
}

int COutlookEAgent::ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR) {
    CShellItemData* pData = DataOf(pTree, hItem);
    const int depth = pTree && hItem ? pTree->GetItemDepth(hItem) : 0;
    if (!pData || (depth != 1 && depth != 2)) {
        if (pTree)
            pTree->SetLoadCount(1, 1);
        return pData ? 1 : 0;
    }
    pTree->SetLoadCount(0, 0);
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get(), pData->m_list.Get());
    CEnumIDListPtr list(folder.IsValid() ? folder.Get() : nullptr, pTree->GetSafeHwnd(),
                        (pData->m_dwFlags & 0x03) * 64 + 32);
    if (!folder.IsValid() || !list.IsValid()) {
        pTree->SetLoadCount(1, 1);
        return 0;
    }
    const CItemIDList parentList(pData->m_list);
    const CString path = WithoutTrailingBackslash(parentList.GetPath());
    const CString ini = path + _T("\\oe.ini");
    const DWORD flags = pData->m_dwFlags & 0x0F;
    CItemIDList child;
    while (list->Next(1, child.GetAddressForOutput(), nullptr) == S_OK) {
        CItemIDList full;
        full.Combine(parentList, child);
        const CString entryPath = WithoutTrailingBackslash(full.GetPath());
        const CString name = LastComponent(entryPath);
        HTREEITEM hNew = nullptr;
        if (depth == 1) {
            if (name.CompareNoCase(_T("AddressBook.wab")) == 0) {
                hNew = InsertShellItemEx(pTree, hItem, folder, parentList, child, this, flags,
                                         full.GetIconIndex(SHGFI_SMALLICON), m_strAddressBook);
            } else {
                WCHAR value[260] = {};
                GetPrivateProfileStringW(_T("OutlookExpress"), name, _T(""), value, 260, ini);
                if (value[0])
                    hNew = InsertShellItemEx(pTree, hItem, folder, parentList, child, this, flags, KindIcon(1), name);
            }
        } else {
            const struct {
                int kind;
                const CString* text;
            } kinds[] = {{2, &m_strAccountSettings},
                         {4, &m_strSignatures},
                         {5, &m_strMessageRules},
                         {6, &m_strBlockSender},
                         {3, &m_strMailbox}};
            for (const auto& k : kinds) {
                if (name.Left(k.text->GetLength()) != *k.text)
                    continue;
                if (k.kind == 3 && !HoldsDbx(entryPath))
                    break;
                hNew =
                    InsertShellItemEx(pTree, hItem, folder, parentList, child, this, flags, KindIcon(k.kind), *k.text);
                break;
            }
        }
        if (hNew)
            pTree->AddLoadCount(1);
    }
    pTree->SetLoadCount(1, 1);
    return 1;
}

void COutlookEAgent::SaveIdentity(CShellTreeCtrl* pTree, HTREEITEM hIdentity, const CString& strFolder,
                                  const CString& strId, bool bRestoreTree, int& nCount, ULONGLONG& nSize) {
    for (HTREEITEM h = pTree->GetChildItem(hIdentity); h; h = pTree->GetNextSiblingItem(h)) {
        if (pTree->GetCheckState(h) != kStateChecked || HasList(pTree, h))
            continue;
        const CString text = pTree->GetItemText(h);
        const CString key = ItemKey(text, strId);
        LPCTSTR fileName = m_itemFiles.Lookup(text);
        if (key.IsEmpty() || !fileName)
            continue;
        const CString file = WithTrailingBackslash(strFolder) + fileName;
        if (m_reg.SaveKeyToFile(HKEY_CURRENT_USER, key, file)) {
            ++nCount;
            nSize += GetFileLength(file);
            LogResult(Message852(LoadText(851, _T("Succeeded")), bRestoreTree, text), kSource, __LINE__, 1);
        } else {
            LogResult(Message852(LoadText(848, _T("Ignore")), bRestoreTree, text), kSource, __LINE__, 4);
        }
    }
}

int COutlookEAgent::BackupReg(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
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
    if (!pTree || !hRoot || !lpszSetPath)
        return 0;
    const bool restoreTree = pTree->GetTreeType() == kTreeRestore;
    if (dwFlags & 0x20) {
        const CString set = WithTrailingBackslash(lpszSetPath) + _T("OutlookExpress");
        if (!MakeDirectoryPath(set)) {
            CString text;
            text.Format(_T("COutlookEAgent::BackupReg: Make folder %s failed."), _T("OutlookExpress"));
            LogResult(text, kSource, __LINE__, 4);
            return 0;
        }
        bool folderFailed = false;
        for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
            if (!pTree->ItemHasChildren(h) || pTree->GetCheckState(h) == kStateUnchecked || IsAddressBookItem(pTree, h))
                continue;
            const CString name = pTree->GetItemText(h);
            const CString folder = set + _T("\\") + name;
            if (!MakeDirectoryPath(folder)) {
                CString text;
                text.Format(_T("Make folder OutlookExpress\\%s failed."), name.GetString());
                LogResult(text, kSource, __LINE__, 4);
                folderFailed = true;
                continue;
            }
            LPCTSTR id = m_identities.Lookup(name);
            if (!id)
                continue;
            SaveIdentity(pTree, h, folder, id, restoreTree, count, size);
            // The identity's store is copied whatever became of its registry parts, each of which has been logged:
            // its line offers the store and the parts that were saved on restore.
            WritePrivateProfileStringW(_T("OutlookExpress"), name, id, set + _T("\\oe.ini"));
        }
        report();
        if (folderFailed)
            return 0;
        if (!WritePrivateProfileStringW(_T("MainID"), _T("MainID"), m_strDefaultId, set + _T("\\oe.ini"))) {
            LogFormat(_T("%s, %d: WritePrivateProfileString failed."), kSource, __LINE__, 8);
            return 0;
        }
        return 1;
    }
    for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
        if (!pTree->ItemHasChildren(h) || pTree->GetCheckState(h) == kStateUnchecked || IsAddressBookItem(pTree, h))
            continue;
        LPCTSTR id = m_identities.Lookup(pTree->GetItemText(h));
        for (HTREEITEM c = pTree->GetChildItem(h); id && c; c = pTree->GetNextSiblingItem(c)) {
            if (pTree->GetCheckState(c) != kStateChecked || HasList(pTree, c))
                continue;
            const CString key = ItemKey(pTree->GetItemText(c), id);
            ULONGLONG characters = 0;
            if (!key.IsEmpty() && m_reg.CalKeyByName(HKEY_CURRENT_USER, key, characters)) {
                ++count;
                size += characters * 2;
            }
        }
    }
    report();
    return 1;
}

int COutlookEAgent::PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                                  int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    if (pTree && pTree->GetCheckState(hRoot) != kStateUnchecked)
        BackupReg(pTree, hRoot, lpszSetPath, dwFlags, pnCount1, pnCount2);
    return 0;
}

int COutlookEAgent::PrepareRestore(CShellTreeCtrl* pTree, HTREEITEM hRoot, DWORD, int* pnCount1, int* pnCount2) {
    if (pnCount1)
        *pnCount1 = 0;
    if (pnCount2)
        *pnCount2 = 0;
    if (!pTree || pTree->GetCheckState(hRoot) == kStateUnchecked)
        return 0;
    // The registry parts are counted here and loaded once the copy has ended uncancelled (AfterRestore).
    int count = 0;
    for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
        if (pTree->GetItemText(h) == m_strAddressBook || pTree->GetCheckState(h) == kStateUnchecked)
            continue;
        for (HTREEITEM c = pTree->GetChildItem(h); c; c = pTree->GetNextSiblingItem(c))
            if (pTree->GetCheckState(c) == kStateChecked && pTree->GetItemText(c) != m_strMailbox)
                ++count;
    }
    if (pnCount1)
        *pnCount1 = count;
    return 0;
}

int COutlookEAgent::AfterRestore(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot) {
    if (nCancel || !pTree || !hRoot)
        return 0;
    if (m_identities.GetCount() == 0)
        LoadIdentityTable();
    // The accounts go to the plain keys for the identity that is the default one now: it may have changed since the
    // tree was filled.
    CString defaultId;
    if (ReadText(HKEY_CURRENT_USER, _T("Identities"), _T("Default User ID"), defaultId))
        m_strDefaultId = defaultId;
    for (HTREEITEM h = pTree->GetChildItem(hRoot); h; h = pTree->GetNextSiblingItem(h)) {
        const CString source = pTree->GetItemText(h);
        if (source == m_strAddressBook || pTree->GetCheckState(h) == kStateUnchecked)
            continue;
        LPCTSTR target = m_restoreMap.Lookup(source);
        LPCTSTR id = target ? m_identities.Lookup(target) : nullptr;
        if (!id) {
            LogFormat(_T("%s, %d: %s has no identity to restore into on this computer; its settings are left out."),
                      kSource, __LINE__, 4, source);
            continue;
        }
        for (HTREEITEM c = pTree->GetChildItem(h); c; c = pTree->GetNextSiblingItem(c)) {
            const CString text = pTree->GetItemText(c);
            if (pTree->GetCheckState(c) != kStateChecked || text == m_strMailbox)
                continue;
            const CString key = ItemKey(text, id);
            if (key.IsEmpty())
                continue;
            const DWORD error = m_reg.LoadKeyFromFile(PathOf(pTree, c), HKEY_CURRENT_USER, key);
            LogResult(Message852(error == 0 ? LoadText(851, _T("Succeeded")) : LoadText(848, _T("Ignore")), true, text),
                      kSource, __LINE__, error == 0 ? 1 : 4);
        }
    }
    return 0;
}

int COutlookEAgent::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    strLabel.Empty();
    CShellItemData* pData = DataOf(pTree, hItem);
    if (!pData || !pData->HasAgent() || hItem == pTree->GetRootItem())
        return 0;
    if (pTree->GetItemDepth(hItem) == 1)
        strLabel.Format(_T("%s:"), _T("OutlookExpress"));
    else
        strLabel = pTree->GetItemText(hItem);
    return 1;
}

int COutlookEAgent::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    chType = 0;
    if (!GetItemLabel(pTree, hItem, strName))
        return 0;
    const int depth = pTree->GetItemDepth(hItem);
    if (depth == 1)
        chType = _T('D');
    else if (depth == 2)
        chType = IsAddressBookItem(pTree, hItem) ? _T('F') : _T('D');
    else
        chType = _T('F');
    return 1;
}

int COutlookEAgent::HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem)
        return 0;
    if (IsAddressBookItem(pTree, hItem))
        return 1;
    const int depth = pTree->GetItemDepth(hItem);
    return pTree->GetTreeType() == kTreeRestore && (depth == 1 || depth == 2) ? 1 : 0;
}

CShellFolderPtr COutlookEAgent::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (pData && (IsAddressBookItem(pTree, hItem) || pTree->GetTreeType() == kTreeRestore))
        return pData->m_folder;
    return CBackAgent::GetRootFolder(pTree, hItem);
}

LPITEMIDLIST COutlookEAgent::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    if (pData && (IsAddressBookItem(pTree, hItem) || pTree->GetTreeType() == kTreeRestore))
        return pData->m_list.Get();
    return nullptr;
}

int COutlookEAgent::GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    if (!pTree || !hItem)
        return kNodeSkip;
    const UINT state = pTree->GetCheckState(hItem);
    int answer = kNodeDescend;
    if (state == kStateUnchecked || state == kStateFixed)
        answer = kNodeSkip;
    else if (state == kStateChecked)
        answer = HasList(pTree, hItem) ? kNodeWhole : kNodeDescend;
    if (!CopyToBuffer(PrefixedPath(PathOf(pTree, hItem)), lpszPath, cbBuffer, kSource, __LINE__))
        return kNodeSkip;
    return answer;
}

int COutlookEAgent::GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) {
    if (!pTree || !hItem)
        return kNodeSkip;
    const UINT state = pTree->GetCheckState(hItem);
    CString path = _T("\\\\?\\");
    int answer = kNodeDescend;
    if (state == kStateUnchecked || state == kStateFixed) {
        answer = kNodeSkip;
    } else if (state == kStateChecked) {
        const CString text = pTree->GetItemText(hItem);
        if (IsAddressBookItem(pTree, hItem) || (text == m_strMailbox && pTree->GetItemDepth(hItem) == 3)) {
            answer = kNodeWhole;
            path += PathOf(pTree, hItem);
        } else {
            // Registry parts are loaded by the agent, not copied.
            answer = pTree->ItemHasChildren(hItem) ? kNodeDescend : kNodeSkip;
        }
    }
    if (!CopyToBuffer(path, lpszPath, cbBuffer, kSource, __LINE__))
        return kNodeSkip;
    return answer;
}

int COutlookEAgent::MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource,
                                  LPTSTR lpszDest, int cbBuffer) {
    if (!lpszSource || !*lpszSource || !lpszDest)
        return kPathMapped;
    CString source(lpszSource);
    if (source.Find(_T('?')) >= 0)
        source = WithoutLeadingMarks(source);
    CItemIDList list(source.GetString());
    if (!list.IsValid() || !pTree || !hItem)
        return kPathMapped;
    CString result;
    result.Format(_T("%s\\%s\\%s\\%s"), WithoutTrailingBackslash(lpszDest).GetString(), _T("KovraData"),
                  lpszSetName ? lpszSetName : _T(""), _T("OutlookExpress"));
    if (IsAddressBookItem(pTree, hItem)) {
        result += _T("\\AddressBook.wab");
    } else {
        LPCTSTR file = m_itemFiles.Lookup(pTree->GetItemText(hItem));
        result.AppendFormat(_T("\\%s\\%s"), pTree->GetItemText(pTree->GetParentItem(hItem)).GetString(),
                            file ? file : pTree->GetItemText(hItem).GetString());
    }
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int COutlookEAgent::MapRestorePath(CShellTreeCtrl* pTree, HTREEITEM hItem, int, LPCTSTR, LPTSTR lpszSource,
                                   LPTSTR lpszDest, int cbBuffer) {
    if (!lpszSource || !lpszDest || CString(lpszSource).Find(_T(':')) < 0 || !pTree || !hItem)
        return kPathMapped;
    CString result;
    if (IsAddressBookItem(pTree, hItem)) {
        const CString book = AddressBookPath();
        if (book.IsEmpty()) {
            LogFormat(_T("%s, %d: No address book of this computer to restore %s into."), kSource, __LINE__, 4,
                      lpszSource);
            return kPathSkip;
        }
        result = _T("\\\\?\\") + book;
    } else if (pTree->GetItemText(hItem) == m_strMailbox) {
        // A store is never copied over while the client has it open.
        if (IsProcessRunning(_T("msimn.exe"))) {
            LogFormat(_T("%s, %d: Outlook Express is running; %s is not restored."), kSource, __LINE__, 4, lpszSource);
            return kPathSkip;
        }
        if (m_identities.GetCount() == 0)
            LoadIdentityTable();
        LPCTSTR target = m_restoreMap.Lookup(pTree->GetItemText(pTree->GetParentItem(hItem)));
        CString store;
        if (!target || !CheckRegByItemName(target, 3, &store) || store.IsEmpty()) {
            LogFormat(_T("%s, %d: %s has no identity to restore into on this computer."), kSource, __LINE__, 4,
                      lpszSource);
            return kPathSkip;
        }
        result = store[0] == _T('\\') ? store : _T("\\\\?\\") + store;
    } else {
        return kPathMapped;
    }
    return CopyToBuffer(result, lpszDest, cbBuffer, kSource, __LINE__) ? kPathMapped : kPathSkip;
}

int COutlookEAgent::FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                                        HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) {
    return FindInSetDataFolder(pTree, hStart, lpszSetRoot, _T("OutlookExpress"), lpszPath, phItem, pnState, phChild,
                               pnChildState);
}

int COutlookEAgent::SetIdentityPairs(CStringList& sources, CStringList& targets) {
    m_restoreMap.Reset(2);
    int result = sources.GetCount() == targets.GetCount() ? 1 : 0;
    while (!sources.IsEmpty() && !targets.IsEmpty()) {
        const CString source = sources.RemoveHead();
        const CString target = targets.RemoveHead();
        if (!m_restoreMap.Add(source, target))
            result = 0;
    }
    sources.RemoveAll();
    targets.RemoveAll();
    return result;
}

int COutlookEAgent::FillIdentityList(CListCtrl* pList) {
    if (!pList)
        return 0;
    for (const CString& name : LoadIdentityTable())
        if (IsUsed(m_identities.Lookup(name)))
            pList->InsertItem(pList->GetItemCount(), name);
    return 1;
}
