// COutlookEAgent: the backup agent of Outlook Express, which keeps each user identity's mail in a store folder of
// ".DBX" files and its accounts, signatures, message rules and blocked senders in the registry, with one address
// book file. Its data folder in a backup set is "OutlookExpress".
//
// In a backup-source tree it shows a three-level branch: the root "Outlook Express", one item per identity and the
// "Address Book", and under each identity its data items. A backup saves the checked registry parts of each identity
// as registry export text into a folder named by the identity, lets the copy job copy the store folders and the
// address book, and records the identities in "oe.ini". A restore copies the store folder into the identity of this
// computer that the user paired with the set's identity (CSelectIdentityDlg) and loads the saved registry parts
// into it.
//
// Where the data is kept safe: two identities of one user name are listed and saved apart, the later as "name (2)";
// an identity without a target on this computer is left out of the restore, never written under another one's
// keys; registry parts are loaded only after a copy job that was not cancelled, and a part that does not load is
// reported as ignored; a store is never copied over while Outlook Express runs.
//
// GUI thread only; the identity enumeration (GetNextKeyName) is one for the whole program.
#pragma once

#include "agents/NameValueList.h"
#include "engine/BackAgent.h"
#include "engine/MyReg.h"

#include "platform/afx/StringList.h"

class CListCtrl;

class COutlookEAgent : public CBackAgent {
    DECLARE_DYNAMIC(COutlookEAgent)
public:
    COutlookEAgent() = default;
    ~COutlookEAgent() override;

    int OnRegister() override;
    int ExpandBackupItem(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int FillBackupRoots(CShellTreeCtrl* pTree, HTREEITEM hTop) override;
    int ExpandRestoreItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszText) override;
    int FillRestoreRoots(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath) override;
    int PrepareBackup(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                      int* pnCount2) override;
    int PrepareRestore(CShellTreeCtrl* pTree, HTREEITEM hRoot, DWORD dwFlags, int* pnCount1, int* pnCount2) override;
    int AfterRestore(int nCancel, CShellTreeCtrl* pTree, HTREEITEM hRoot) override;
    int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) override;
    int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) override;
    int HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    int CanExpand() override;
    CShellFolderPtr GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    LPITEMIDLIST GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) override;
    CString GetDataFolderName() override;
    int GetBackupNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int GetRestoreNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, LPTSTR lpszPath, int cbBuffer) override;
    int MapBackupPath(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszSetName, LPTSTR lpszSource, LPTSTR lpszDest,
                      int cbBuffer) override;
    int MapRestorePath(CShellTreeCtrl* pTree, HTREEITEM hItem, int nPathOption, LPCTSTR lpszDestFolder,
                       LPTSTR lpszSource, LPTSTR lpszDest, int cbBuffer) override;
    HTREEITEM FindCoveringItem(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszPath) override;
    int FindTreeItemForPath(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszPath,
                            HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState) override;

    // Finds the client and an identity that has been used: 1 usable, 0 not.
    int Init();
    // Tests the registry place of an item kind (2 Account Settings, 3 Mailbox with its store folder, 4 Signatures,
    // 5 Message Rules, 6 Block Sender) for an identity of the identity table.
    int CheckRegByItemName(LPCTSTR lpszUserName, int nKind, CString* pStorePath);
    // The one enumeration of identity ids: a non-empty key opens it, an empty one moves on, both null close it.
    static LONG GetNextKeyName(HKEY hRoot, LPCTSTR lpszSubKey, LPTSTR lpszName, DWORD dwSize);
    int BackupReg(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags, int* pnCount1,
                  int* pnCount2);
    // Pairs each source identity name with the target name at the same place; 1 when every pair was added and the
    // lists were of one length.
    int SetIdentityPairs(CStringList& sources, CStringList& targets) override;
    // Appends the names of this computer's identities that have been used; 1.
    int FillIdentityList(CListCtrl* pList);
    CString GetMatchName() const override { return m_strAddressBook; }

private:
    // Rebuilds the identity table from the registry; the names in registry order, a second identity of one user
    // name under "name (2)".
    std::vector<CString> LoadIdentityTable();
    CString ItemKey(const CString& strItemText, const CString& strId) const;
    CString AddressBookPath() const;
    int KindIcon(int nKind);
    bool IsAddressBookItem(CShellTreeCtrl* pTree, HTREEITEM hItem) const;
    // Saves the identity's checked registry parts into its folder of the set, logging each part's result.
    void SaveIdentity(CShellTreeCtrl* pTree, HTREEITEM hIdentity, const CString& strFolder, const CString& strId,
                      bool bRestoreTree, int& nCount, ULONGLONG& nSize);

    CString m_strProgramPath;
    CString m_strBlockSender = CString(u"Block Sender");
    CString m_strAccountSettings = CString(u"Account Settings");
    CString m_strMailbox = CString(u"Mailbox");
    CString m_strSignatures = CString(u"Signatures");
    CString m_strMessageRules = CString(u"Message Rules");
    CString m_strAddressBook = CString(u"Address Book");
    CString m_strDefaultId;
    CNameValueList m_identities;
    CNameValueList m_itemFiles;
    CNameValueList m_restoreMap;
    MyReg m_reg;
    int m_icons[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};
