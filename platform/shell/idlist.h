// Item id lists: the shell's names for the things it shows (the desktop, My Computer, drives, folders, files).
//
// Stands in for the item id lists of the shell. The same as Windows: a list is a run of items, each beginning
// with a 16-bit byte count that includes the count itself, ended by a count of 0; a list that is only the
// terminator names the desktop; an absolute list starts at the desktop, a relative one at some folder. Lists are
// allocated with the task allocator (CoTaskMemAlloc; free them with ILFree, CoTaskMemFree or the shell's
// IMalloc). SHGetPathFromIDListW gives the file-system path of a list, or FALSE and an empty text for a list
// without one (My Computer, the Control Panel).
//
// Where it differs: the bytes of an item are this layer's own: one kind byte, then a drive root, a Windows file
// name with its attributes, a share root or a special folder's number. SHGetPathFromIDListW writes up to 2048
// characters with the terminator (Windows: MAX_PATH); a longer path fails as a path does that does not fit.
// SHGetPathFromIDListEx takes the caller's buffer size.
#pragma once

#include "platform/base/types.h"

#pragma pack(push, 1)
struct SHITEMID {
    USHORT cb;
    BYTE abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
#pragma pack(pop)
using LPSHITEMID = SHITEMID*;
using LPCSHITEMID = const SHITEMID*;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;
using PIDLIST_RELATIVE = ITEMIDLIST*;
using PCUIDLIST_RELATIVE = const ITEMIDLIST*;
using PUIDLIST_RELATIVE = ITEMIDLIST*;
using PITEMID_CHILD = ITEMIDLIST*;
using PCITEMID_CHILD = const ITEMIDLIST*;
using PCUITEMID_CHILD = const ITEMIDLIST*;
using PCUITEMID_CHILD_ARRAY = const PCUITEMID_CHILD*;
using PCUIDLIST_RELATIVE_ARRAY = const PCUIDLIST_RELATIVE*;

// Bytes of the list including its terminator (2 for the desktop); 0 for null.
UINT ILGetSize(PCUIDLIST_RELATIVE pidl);
// The item after the first one; null when the list is null or only the terminator.
PUIDLIST_RELATIVE ILGetNext(PCUIDLIST_RELATIVE pidl);
// The last item (the terminator itself for an empty list); null for null.
PUIDLIST_RELATIVE ILFindLastID(PCUIDLIST_RELATIVE pidl);
// Cuts the last item off in place; FALSE when there is none.
BOOL ILRemoveLastID(PUIDLIST_RELATIVE pidl);
BOOL ILIsEmpty(PCUIDLIST_RELATIVE pidl);
// Copies (null for null or when memory runs out).
PIDLIST_RELATIVE ILClone(PCUIDLIST_RELATIVE pidl);
PITEMID_CHILD ILCloneFirst(PCUIDLIST_RELATIVE pidl);
// A new list of both lists' items; either may be null (null only when both are).
PIDLIST_ABSOLUTE ILCombine(PCIDLIST_ABSOLUTE pidl1, PCUIDLIST_RELATIVE pidl2);
// Whether two absolute lists name the same thing (item bytes compared, names without regard to case).
BOOL ILIsEqual(PCIDLIST_ABSOLUTE pidl1, PCIDLIST_ABSOLUTE pidl2);
// Whether pidl1 is pidl2 or, with fImmediate FALSE, any of its ancestors; with fImmediate TRUE only its parent.
BOOL ILIsParent(PCIDLIST_ABSOLUTE pidl1, PCIDLIST_ABSOLUTE pidl2, BOOL fImmediate);
void ILFree(PIDLIST_RELATIVE pidl);

// The file-system path of an absolute list into a buffer of at least 2048 characters.
BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE pidl, LPWSTR pszPath);
constexpr DWORD GPFIDL_DEFAULT = 0x0000;
BOOL SHGetPathFromIDListEx(PCIDLIST_ABSOLUTE pidl, LPWSTR pszPath, DWORD cchPath, DWORD uOpts);
// A list for a Windows path that need not exist (its last item counts as a file unless the path ends in a
// backslash or names an existing folder); null for a path that is not a drive or share path.
PIDLIST_ABSOLUTE SHSimpleIDListFromPath(LPCWSTR pszPath);
