// Small helpers the agents of particular programs share: an item's data and path, trailing backslashes, the
// "\\?\" prefix, handing a path to the copy job's buffer, icons from the program's "Res" folder, the entries of
// the system log, and the steps of the agents that keep the files they copy in one folder of a backup set with a
// list of them in an ini file beside (the set's data folder). Private to the agents folder.
#pragma once

#include "engine/BackAgent.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/String.h"

#include <functional>
#include <utility>

namespace agents {

inline CShellItemData* DataOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem || hItem == TVI_ROOT)
        return nullptr;
    return reinterpret_cast<CShellItemData*>(pTree->GetItemData(hItem));
}

// Whether the item is an agent's own root item, one step below the tree's top root.
inline bool IsAgentItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    return pTree && hItem && hItem != TVI_ROOT && pTree->GetParentItem(hItem) == pTree->GetRootItem();
}

// The file-system path of an item's list; empty for an item without one.
CString PathOf(CShellTreeCtrl* pTree, HTREEITEM hItem);
CString WithoutTrailingBackslash(CString strPath);
CString WithTrailingBackslash(CString strPath);
// The text after the last backslash (the whole text without one).
CString LastComponent(const CString& strPath);
// The path with "\\?\" in front, unless it is empty or begins with a backslash.
CString PrefixedPath(const CString& strPath);
// The text with its environment variables expanded (2048 characters at most); the text itself when that fails.
CString ExpandedText(const CString& strText);
// The path without a leading "\\?\".
CString WithoutLongPrefix(const CString& strPath);
// The path with its leading backslashes and question marks taken off (as a "\\?\" prefix is removed).
CString WithoutLeadingMarks(const CString& strPath);
// Whether the text ends in the extension (with its dot), compared without regard to case.
bool HasExtension(const CString& strPath, LPCTSTR lpszExtension);

// Copies the path into the caller's buffer of cbBuffer bytes. FALSE, with "%s, %d: %s is too long to over
// buffer." in the system log under the caller's source name and line, when it does not fit with its terminator.
BOOL CopyToBuffer(const CString& strPath, LPTSTR lpszBuffer, int cbBuffer, LPCTSTR lpszSource, int nLine);

// An entry of the system log ("%s, %d: " texts get the source name and line); type 1, 2, 4 or 8.
void Log(LPCTSTR lpszText, LPCTSTR lpszSource, int nLine, int nType);
// The same with the source name and line put into a format that starts with "%s, %d: " and takes one more text.
void LogFormat(LPCTSTR lpszFormat, LPCTSTR lpszSource, int nLine, int nType, LPCTSTR lpszText = _T(""));
// A per-file result of a mail agent's own step (a registry part saved or loaded): an entry of the copy-progress
// dialog's log while one runs the job, else of the system log.
void LogResult(const CString& strText, LPCTSTR lpszSource, int nLine, int nType);
// A text of the program's string table (the language library's first), or the given fall-back.
CString LoadText(UINT nId, LPCTSTR lpszDefault);

// The system image-list index (small icon, or small open icon) of the icon file "Res\<name>" beside the program,
// or of the program file itself when that file is missing.
int ResIconIndex(LPCTSTR lpszFileName, bool bOpen = false);
// The system image-list index of a file's small icon (or small open icon); -1 when it has none.
int FileIconIndex(LPCTSTR lpszPath, bool bOpen = false);

// Label and name of an item of an agent whose root item stands for its data folder: "Name:" for the root item
// (type 'D'), the tree text below it (type 'F'). 0 for the tree's top root and for an item without an agent.
int DataFolderItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, CString& strLabel);
int DataFolderItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, CString& strName,
                       TCHAR& chType);

// The node answer of such an agent by check state: a checked item not yet listed is listed first; a checked root
// item is descended into, a checked item below it copied whole, a partly checked one descended into.
int DataFolderNodeAnswer(CShellTreeCtrl* pTree, HTREEITEM hItem, bool bRootItem);

// The first steps of a backup into the set's data folder: the counts set to 0, and when the job copies this
// agent's data (flag 0x20) the folder "<set>\<data folder>" made. That folder, or an empty text when there is
// nothing to prepare or the folder cannot be made.
CString PrepareSetDataFolder(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCTSTR lpszSetPath, DWORD dwFlags,
                             LPCTSTR lpszDataFolder, int* pnCount1, int* pnCount2);

// The data folder of the set being restored from: the first folder directly in the set folder whose name is the
// data folder's in any case and that `accept` takes (given its path), inserted under the top item with the top
// item's flags (3 when it has no data), the images `images` gives (closed, open) and the text. Null when the set
// has none or the item cannot be inserted.
HTREEITEM InsertSetDataFolder(CShellTreeCtrl* pTree, HTREEITEM hTop, LPCTSTR lpszSetPath, LPCTSTR lpszDataFolder,
                              CBackAgent* pAgent, LPCTSTR lpszText, const std::function<bool(const CString&)>& accept,
                              const std::function<std::pair<int, int>()>& images);

// Lists the entries of a data folder's item in a restore tree that its ini file names in the section: for each
// (folders; files with the item's flag 0x01, hidden entries with 0x02) `each` gets the folder, the folder's list,
// the entry's relative list, its path and the value the ini file gives its name. False when the item's folder cannot
// be listed.
bool ForEachListedEntry(CShellTreeCtrl* pTree, CShellItemData* pData, LPCTSTR lpszIniName, LPCTSTR lpszSection,
                        const std::function<void(const CShellFolderPtr& folder, const CItemIDList& parent,
                                                 const CItemIDList& child, const CString& strPath,
                                                 const CString& strValue)>& each);

// Whether a restore option can be mapped: 1 to 3, a source and a buffer, and a chosen folder for options 2 and 3.
bool IsRestoreOptionUsable(int nPathOption, LPCTSTR lpszDestFolder, LPCTSTR lpszSource, LPCTSTR lpszDest);
// Restore option 2, flat into the chosen folder: a file (by the path given without "\\?\") keeps its name there,
// anything else goes to the folder itself.
CString FlatRestorePath(const CString& strPlainSource, const CString& strDestFolder);

// Locating a path for an agent whose items are found in restore trees only: there the base search in the set's
// data folder; elsewhere no item (the start item with state 0).
int FindInSetDataFolder(CShellTreeCtrl* pTree, HTREEITEM hStart, LPCTSTR lpszSetRoot, LPCTSTR lpszDataFolder,
                        LPCTSTR lpszPath, HTREEITEM* phItem, UINT* pnState, HTREEITEM* phChild, UINT* pnChildState);

// Whether a backup set on the drive has the data folder holding a file that the folder's ini file names in the
// section (a file the list does not name cannot be restored from the tree).
bool HasListedSetFile(TCHAR chDrive, LPCTSTR lpszDataFolder, LPCTSTR lpszIniName, LPCTSTR lpszSection);

} // namespace agents
