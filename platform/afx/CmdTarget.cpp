#include "platform/afx/CmdTarget.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, void*) {
    // Notifications arrive as MAKELONG(code, message); a plain control code means WM_COMMAND.
    UINT nMessage = HIWORD(static_cast<UINT>(nCode));
    const UINT code = LOWORD(static_cast<UINT>(nCode));
    if (nMessage == 0)
        nMessage = 0x0111; // WM_COMMAND
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
            if (entry->pnRegistered || entry->nMessage != nMessage || entry->nCode != code)
                continue;
            if (nID < entry->nID || nID > entry->nLastID)
                continue;
            LRESULT ignored = 0;
            AFX_DISPATCH d{nMessage, 0, 0, &ignored, nID, pExtra};
            // An _EX handler that declines lets the search go on to later entries and the base classes.
            if (entry->pfn(this, d))
                return TRUE;
        }
    }
    return FALSE;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
            if (entry->pnRegistered
                    ? (*entry->pnRegistered == nMessage && nMessage != 0)
                    : (entry->nMessage == nMessage && entry->nCode == 0 && entry->nID == 0 &&
                       entry->nMessage != 0x0111 && entry->nMessage != 0x004E &&
                       entry->nMessage != WM_REFLECT_BASE + 0x0111 && entry->nMessage != WM_REFLECT_BASE + 0x004E))
                return entry;
        }
    }
    return nullptr;
}
