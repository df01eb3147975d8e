// CTipListCtrl: a report list that shows a balloon tip (CBalloonTip) for the row under the mouse, with the texts of
// sub-items 1 and 2 on two lines and an icon chosen by the row's item data (a log type, 1, 2, 4 or 8), and that calls
// its owner back when the user finishes scrolling it.
#pragma once

#include "app/BalloonTip.h"

#include "platform/afx/ListCtrl.h"

struct NMHDR;

class CTipListCtrl : public CListCtrl {
    DECLARE_DYNAMIC(CTipListCtrl)
public:
    // Called when a scroll of a list with rows ends; FALSE forgets the callback for good.
    using ScrollCallback = BOOL (*)(LPVOID lpParam);

    CTipListCtrl() = default;
    ~CTipListCtrl() override = default;

    // Turns the tips on: creates the balloon with the icons of the log types 4, 2, 1 and 8 and stores the scroll
    // callback; the result of the balloon's creation.
    BOOL EnableTips(UINT nIconType4, UINT nIconType2, UINT nIconType1, UINT nIconType8, ScrollCallback pfnCallback,
                    LPVOID lpParam);
    // The row under the mouse: its item data and "sub-item 1\nsub-item 2"; FALSE when there is none.
    BOOL GetTipText(DWORD* pItemData, CString& strText);
    void ClearScrollCallback();
    BOOL HasScrollCallback() const { return m_pfnScrollCallback != nullptr; }
    CBalloonTip& GetBalloon() { return m_balloon; }

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    void OnInsertItem(NMHDR* pNMHDR, LRESULT* pResult);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);

    DECLARE_MESSAGE_MAP()

private:
    void OnScrolled(UINT nSBCode);

    CBalloonTip m_balloon;
    BOOL m_bTipsEnabled = FALSE;
    ScrollCallback m_pfnScrollCallback = nullptr;
    LPVOID m_lpCallbackParam = nullptr;
};
