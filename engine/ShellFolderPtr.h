// CShellFolderPtr: one reference to an IShellFolder, released with the holder.
#pragma once

#include "platform/shell/shellfolder.h"

class CShellFolderPtr {
public:
    CShellFolderPtr() = default;
    // Takes a reference of its own (AddRef).
    explicit CShellFolderPtr(IShellFolder* pFolder);
    // Binds a child list of the parent; a null or empty list gives the parent itself; null when binding fails.
    CShellFolderPtr(IShellFolder* pParent, LPCITEMIDLIST pidlChild);
    CShellFolderPtr(const CShellFolderPtr& other);
    CShellFolderPtr& operator=(const CShellFolderPtr& other);
    ~CShellFolderPtr();

    BOOL IsValid() const { return m_pFolder != nullptr; }
    IShellFolder* Get() const { return m_pFolder; }
    IShellFolder* operator->() const { return m_pFolder; }

private:
    IShellFolder* m_pFolder = nullptr;
};
