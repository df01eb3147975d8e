// CItemIDList: the owner of one item id list, and the list primitives the engine uses on raw lists.
//
// Every list it holds comes from the shell's task allocator and goes back to it; copies are byte copies of the size
// the allocator reports. Failures of the shell give no list (IsValid false), an empty path or an index of -1;
// nothing is reported beyond that. GUI thread only.
#pragma once

#include "platform/afx/String.h"
#include "platform/shell/fileinfo.h"
#include "platform/shell/idlist.h"

class CItemIDList {
public:
    CItemIDList() = default;
    CItemIDList(const CItemIDList& other);
    CItemIDList& operator=(const CItemIDList& other);
    // A fresh copy of the list.
    explicit CItemIDList(LPCITEMIDLIST pidl);
    // The desktop folder's parse of the path (no list when the shell cannot parse it).
    explicit CItemIDList(LPCTSTR lpszPath, HWND hWnd = nullptr);
    // SHGetSpecialFolderLocation.
    CItemIDList(int nCsidl, HWND hWnd);
    virtual ~CItemIDList();

    BOOL IsValid() const { return m_pidl != nullptr; }
    LPITEMIDLIST Get() const { return m_pidl; }
    operator LPITEMIDLIST() const { return m_pidl; }

    // Frees the held list and holds parent + child.
    void Combine(LPCITEMIDLIST pidlParent, LPCITEMIDLIST pidlChild);
    // Frees the held list; the address lets IEnumIDList::Next fill in a new one.
    LPITEMIDLIST* GetAddressForOutput();
    // The last entry (a pointer into the list, not a copy).
    LPITEMIDLIST GetLastItem() const;
    // A new raw list without the last entry; the caller owns it.
    LPITEMIDLIST GetParentCopy() const;
    // SHGetPathFromIDList into 2048 characters; empty when there is no path.
    CString GetPath() const;
    // The system image-list index for SHGFI_SMALLICON, optionally with SHGFI_OPENICON.
    int GetIconIndex(UINT uFlags) const;
    BOOL IsFolder() const;

    // Raw list primitives.
    static UINT GetSize(LPCITEMIDLIST pidl);
    static LPITEMIDLIST GetNext(LPCITEMIDLIST pidl);
    static LPITEMIDLIST GetLast(LPCITEMIDLIST pidl);
    static LPITEMIDLIST Concatenate(LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    static LPITEMIDLIST CopyWithoutLast(LPCITEMIDLIST pidl);
    static LPITEMIDLIST FromPath(LPCTSTR lpszPath, HWND hWnd);
    static void Free(LPITEMIDLIST pidl);

private:
    void Clear();
    LPITEMIDLIST m_pidl = nullptr;
};
