// The operations that the single-folder agents (desktop, favorites, documents, the Vista profile) share: each backs
// up one folder of the user's shell into the folder of its name in a backup set and restores it back to the
// current user's folder or to a chosen one. The agents call these with their own names and folders.
#pragma once

#include "agents/AgentHelpers.h"

#include "engine/BackAgent.h"

class CShellItemData;

namespace folderagent {

using agents::DataOf;
using agents::IsAgentItem;
using agents::WithoutTrailingBackslash;

// What an agent knows of its folder: the file-system path (no trailing backslash), the name the shell shows, and
// the system image-list indexes of its small icon and small open icon (-1 until first found).
struct FolderInfo {
    CString rootPath;
    CString displayName;
    int image = -1;
    int selectedImage = -1;
};

// Reads a special folder: its path, its icons when not yet known, and its display name (of the whole list with
// SHGDN_INFOLDER | SHGDN_INCLUDE_NONFILESYS). False when the folder, its path or its name is missing.
bool InitSpecialFolder(int nCsidl, FolderInfo& info);

// Inserts the item of a folder given by its list at the end under the root: the folder of its parent, the list's
// last item, the owner, the flags; the images and the text replace the shell's when given (>= 0, non-null) and the
// tree does not ask for them by callback. Null when the insertion fails.
HTREEITEM InsertFolderItem(CShellTreeCtrl* pTree, HTREEITEM hRoot, LPCITEMIDLIST pidl, CBackAgent* pAgent,
                           DWORD dwFlags, int nImage, int nSelectedImage, LPCTSTR lpszText);

// Lists an item's shell children by its flags; with bSkipDesktopIni files named "desktop.ini" are left out. Then
// sorts them in shell order when some were listed and ends the loading. 0 when the folder cannot be listed.
int ListChildren(CShellTreeCtrl* pTree, HTREEITEM hItem, bool bSkipDesktopIni);
// The base listing followed by the sort and the end of the loading.
int ListChildrenBase(CShellTreeCtrl* pTree, HTREEITEM hItem);

// Inserts the first folder of the set whose name contains the data folder's name under the set root, owned by
// the agent, with the set root's flags, the images and the text; made visible. Null when there is none; *pbBound
// tells whether the set folder could be listed at all.
HTREEITEM InsertSetFolder(CShellTreeCtrl* pTree, HTREEITEM hSetRoot, LPCTSTR lpszDataFolder, CBackAgent* pAgent,
                          int nImage, int nSelectedImage, LPCTSTR lpszText, bool* pbBound);

// Label ("Name:" for the agent's item, the tree text below it) and name ("Name:" and 'D' for the agent's item, the
// last component of the path, or with bTreeText the tree text, and 'D' or 'F' below it). 0 for no item.
int GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, CString& strLabel);
int GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, LPCTSTR lpszDataFolder, bool bTreeText, CString& strName,
                TCHAR& chType);

// The backup copy of a source path: the destination (as the buffer holds it on entry), "KovraData", the set name,
// the data folder and the path below the root folder, with "\\?\" in front. A source outside the root folder, or
// without a drive when bNeedDrive, answers kPathSkip; so does a result longer than the buffer (cbBuffer bytes), with
// the debug entry that says so.
int MapBackupPath(const CString& strRoot, LPCTSTR lpszDataFolder, bool bNeedDrive, LPCTSTR lpszSetName,
                  LPCTSTR lpszSource, LPTSTR lpszDest, int cbBuffer);
// The way back of a path in a set: option 1 below the current root folder, 2 flat into the chosen folder, 3 below
// the chosen folder keeping the data folder and the path below it.
int MapRestorePath(const CString& strRoot, LPCTSTR lpszDataFolder, int nPathOption, LPCTSTR lpszDestFolder,
                   LPCTSTR lpszSource, LPTSTR lpszDest, int cbBuffer);

} // namespace folderagent
