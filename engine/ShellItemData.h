// CShellItemData: the item data (lParam) of every selection-tree item: the folder the item was listed from, its full
// item id list from the desktop, its item flags and the agent that owns it (not owned).
//
// Item flags: 0x01 list files when expanded, 0x02 list hidden items, 0x10 the text is the full display name,
// 0x20 the text comes from the file-system path; children take the low four bits of their parent's.
#pragma once

#include "engine/ItemIDList.h"
#include "engine/ShellFolderPtr.h"

class CBackAgent;

class CShellItemData {
public:
    CShellItemData() = default;
    ~CShellItemData() = default;
    CShellItemData(const CShellItemData&) = delete;
    CShellItemData& operator=(const CShellItemData&) = delete;

    void SetFolder(const CShellFolderPtr& folder) { m_folder = folder; }
    BOOL HasAgent() const { return m_pAgent != nullptr; }

    CShellFolderPtr m_folder;
    CItemIDList m_list;
    DWORD m_dwFlags = 0;
    CBackAgent* m_pAgent = nullptr;
};
