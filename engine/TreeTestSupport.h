// The engine tests' window for trees: a framework parent that counts WM_TREE_CHECK_CHANGED and reflects the trees'
// notifications back to them.
#pragma once

#include "engine/CheckTreeCtrl.h"

#include "platform/afx/Wnd.h"

class CTreeHostWnd : public CWnd {
public:
    BOOL CreateHost() {
        return CreateEx(0, nullptr, u"Tree host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 600, nullptr, nullptr);
    }
    LRESULT OnCheckChanged(WPARAM, LPARAM) {
        ++m_nChanged;
        return 0;
    }
    int m_nChanged = 0;

    DECLARE_MESSAGE_MAP()
};
