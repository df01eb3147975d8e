// CGroupCheckBox: a check box laid onto the top edge of a group-box frame in place of the frame's caption. Its state
// enables (checked) or disables (unchecked or indeterminate) every sibling control whose rectangle overlaps the
// frame's, and, when asked to, also shows or hides them and the frame.
#pragma once

#include "platform/afx/Button.h"

class CGroupCheckBox : public CButton {
    DECLARE_DYNAMIC(CGroupCheckBox)
public:
    CGroupCheckBox() = default;

    void AttachToGroup(CWnd* pFrame, BOOL bHide);
    void AttachToGroup(UINT nFrameId, BOOL bHide);
    void SetCheck(int nCheck);

protected:
    BOOL OnClicked();
    DECLARE_MESSAGE_MAP()

private:
    void ApplyState();

    CWnd* m_pGroupFrame = nullptr;
    BOOL m_bHideControls = FALSE;
};
