#include "app/GroupCheckBox.h"

#include "platform/afx/ClientDC.h"
#include "platform/gdi/wingdi.h"

IMPLEMENT_DYNAMIC(CGroupCheckBox, CButton)

BEGIN_MESSAGE_MAP(CGroupCheckBox, CButton)
ON_CONTROL_REFLECT_EX(BN_CLICKED, OnClicked)
END_MESSAGE_MAP()

void CGroupCheckBox::AttachToGroup(CWnd* pFrame, BOOL bHide) {
    m_pGroupFrame = pFrame;
    m_bHideControls = bHide;
    if (!pFrame || !pFrame->m_hWnd || !m_hWnd)
        return;
    pFrame->SetWindowText(u"");

    // The box's size: its text in its own font, and room for the box itself.
    CString text;
    GetWindowText(text);
    SIZE size{};
    {
        CClientDC dc(this);
        HGDIOBJ old = nullptr;
        if (HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)))
            old = ::SelectObject(dc.m_hDC, font);
        ::GetTextExtentPoint32W(dc.m_hDC, text, text.GetLength(), &size);
        if (old)
            ::SelectObject(dc.m_hDC, old);
    }
    size.cx += 25;

    RECT frame{};
    pFrame->GetWindowRect(&frame);
    POINT topLeft{frame.left, frame.top};
    if (CWnd* pParent = GetParent())
        pParent->ScreenToClient(&topLeft);
    SetWindowPos(pFrame, topLeft.x + 10, topLeft.y, size.cx, size.cy, 0);
    ApplyState();
}

void CGroupCheckBox::AttachToGroup(UINT nFrameId, BOOL bHide) {
    CWnd* pParent = GetParent();
    AttachToGroup(pParent ? pParent->GetDlgItem(static_cast<int>(nFrameId)) : nullptr, bHide);
}

void CGroupCheckBox::SetCheck(int nCheck) {
    CButton::SetCheck(nCheck);
    ApplyState();
}

BOOL CGroupCheckBox::OnClicked() {
    ApplyState();
    return FALSE; // the parent hears the click as well
}

void CGroupCheckBox::ApplyState() {
    if (!m_pGroupFrame || !m_pGroupFrame->m_hWnd || !m_hWnd)
        return;
    const int state = GetCheck();
    RECT frame{};
    m_pGroupFrame->GetWindowRect(&frame);
    HWND hParent = ::GetParent(m_hWnd);
    if (!hParent)
        return;
    for (HWND hChild = ::GetWindow(hParent, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        if (hChild == m_hWnd || hChild == m_pGroupFrame->m_hWnd)
            continue;
        RECT rc{}, overlap{};
        ::GetWindowRect(hChild, &rc);
        if (!::IntersectRect(&overlap, &rc, &frame))
            continue;
        ::EnableWindow(hChild, state == BST_CHECKED);
        if (m_bHideControls)
            ::ShowWindow(hChild, state != 0 ? SW_SHOW : SW_HIDE);
    }
    if (m_bHideControls)
        m_pGroupFrame->ShowWindow(state != 0 ? SW_SHOW : SW_HIDE);
}
