// CBalloonTip: a small popup in the shape of a speech balloon (a rounded rectangle with a pointer at its lower right
// corner whose tip sits on the mouse) showing lines of text and, optionally, an icon left of them.
//
// It shows itself 500 ms after the mouse stops over its owner list and hides as soon as the mouse moves. The owner
// (CTipListCtrl) relays its messages, sets and clears `tracking` while the mouse is inside it, and supplies the text
// of the row under the mouse; the row's log type picks the icon.
#pragma once

#include "platform/afx/String.h"
#include "platform/afx/Wnd.h"

class CTipListCtrl;

class CBalloonTip : public CWnd {
    DECLARE_DYNAMIC(CBalloonTip)
public:
    CBalloonTip();
    ~CBalloonTip() override;

    // Creates the hidden popup owned by the list and loads the icons of the log types 4, 2, 1 and 8.
    BOOL Create(CTipListCtrl* pOwner, UINT nIconType4, UINT nIconType2, UINT nIconType1, UINT nIconType8);
    // Acts on the owner's mouse moves: hides the tip and starts the delay again when the mouse moved.
    void RelayEvent(MSG* pMsg);
    // Rebuilds the tip at once while the mouse is inside the owner.
    void Refresh();
    void SetIconByType(UINT nType);
    void SetIcon(HICON hIcon);

    // The balloon's shape for the current text and icon, on `hDC`: its size goes to `pSize`. The caller owns the
    // region.
    HRGN CreateShape(HDC hDC, SIZE* pSize);

    const CString& GetText() const { return m_strText; }
    HICON GetTipIcon() const { return m_hIcon; }
    SIZE GetIconSize() const { return m_sizeIcon; }

    // Set by the owner while the mouse is inside it; the tip only shows while it is set.
    BOOL tracking = FALSE;

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    void OnTimer(UINT_PTR nIDEvent);
    void OnPaint();
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    static constexpr UINT_PTR kTimerId = 100;

    void StartTimer(UINT nElapse);
    void StopTimer();

    LPCTSTR m_lpszClassName = nullptr;
    UINT m_nDelay = 500;
    POINT m_ptLast{0, 0};
    CString m_strText;
    UINT_PTR m_nTimer = 0;
    HICON m_hIcon = nullptr;
    SIZE m_sizeIcon{0, 0};
    HFONT m_hFont = nullptr;
    CTipListCtrl* m_pOwner = nullptr;
    HICON m_hIconError = nullptr;
    HICON m_hIconWarning = nullptr;
    HICON m_hIconInfo = nullptr;
    HICON m_hIconDebug = nullptr;
};
