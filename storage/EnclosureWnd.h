// CEnclosureWnd: the hidden top-most window "ONE_TOUCH_NOTIFY_TARGET" through which the companion program
// signals the enclosure's one-touch button (WM_USER+1499), and the client of the companion's automation object.
//
// One object per process, embedded in the application object; created at start-up and destroyed at shut-down.
// The one-touch action and the automation object join with the workflows and the companion program.
#pragma once

#include "platform/afx/Wnd.h"

class CEnclosureWnd : public CWnd {
    DECLARE_DYNAMIC(CEnclosureWnd)
public:
    CEnclosureWnd() = default;
    ~CEnclosureWnd() override;

    // Creates the hidden top-most window. Whether it exists.
    BOOL Create();
};
