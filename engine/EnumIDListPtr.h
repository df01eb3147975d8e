// CEnumIDListPtr: one reference to a folder's IEnumIDList, released with the holder.
#pragma once

#include "platform/shell/shellfolder.h"

class CEnumIDListPtr {
public:
    // IShellFolder::EnumObjects with the SHCONTF flags; null when it fails.
    CEnumIDListPtr(IShellFolder* pFolder, HWND hWnd, DWORD dwFlags);
    ~CEnumIDListPtr();
    CEnumIDListPtr(const CEnumIDListPtr&) = delete;
    CEnumIDListPtr& operator=(const CEnumIDListPtr&) = delete;

    BOOL IsValid() const { return m_pEnum != nullptr; }
    IEnumIDList* operator->() const { return m_pEnum; }

private:
    IEnumIDList* m_pEnum = nullptr;
};
