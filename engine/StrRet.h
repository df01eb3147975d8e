// CStrRet: a STRRET for IShellFolder::GetDisplayNameOf, with the list the name belongs to and its conversion to text.
#pragma once

#include "engine/ItemIDList.h"

#include "platform/afx/String.h"
#include "platform/shell/shellfolder.h"

class CStrRet {
public:
    CStrRet();
    virtual ~CStrRet();
    CStrRet(const CStrRet&) = delete;
    CStrRet& operator=(const CStrRet&) = delete;

    // Releases an earlier text, keeps a copy of the list and the type; the address to pass to GetDisplayNameOf.
    STRRET* Prepare(LPCITEMIDLIST pidl, UINT uType);
    // The text by the type the shell filled in; empty for any other type.
    CString GetString() const;

private:
    void Reset();
    CItemIDList m_list;
    STRRET m_strret;
};
