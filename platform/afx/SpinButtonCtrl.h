// CSpinButtonCtrl: the framework's up-down control class (a CWnd over "msctls_updown32" sending UDM_ messages).
#pragma once

#include "platform/afx/Wnd.h"
#include "platform/ui/commctrl.h"

class CSpinButtonCtrl : public CWnd {
    DECLARE_DYNAMIC(CSpinButtonCtrl)
public:
    CSpinButtonCtrl() = default;
    ~CSpinButtonCtrl() override;

    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    BOOL SetAccel(int nAccel, UDACCEL* pAccel) {
        return static_cast<BOOL>(
            SendMessage(UDM_SETACCEL, static_cast<WPARAM>(nAccel), reinterpret_cast<LPARAM>(pAccel)));
    }
    UINT GetAccel(int nAccel, UDACCEL* pAccel) const {
        return static_cast<UINT>(
            SendMessage(UDM_GETACCEL, static_cast<WPARAM>(nAccel), reinterpret_cast<LPARAM>(pAccel)));
    }
    int SetBase(int nBase) { return static_cast<int>(SendMessage(UDM_SETBASE, static_cast<WPARAM>(nBase))); }
    UINT GetBase() const { return static_cast<UINT>(SendMessage(UDM_GETBASE)); }
    CWnd* SetBuddy(CWnd* pWndBuddy) {
        return CWnd::FromHandle(reinterpret_cast<HWND>(
            SendMessage(UDM_SETBUDDY, reinterpret_cast<WPARAM>(pWndBuddy ? pWndBuddy->GetSafeHwnd() : nullptr))));
    }
    CWnd* GetBuddy() const { return CWnd::FromHandle(reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY))); }
    // The 16-bit position; the high word of the answer is non-zero when the buddy's text is no number in the range.
    int GetPos() const { return static_cast<int>(SendMessage(UDM_GETPOS)); }
    int SetPos(int nPos) {
        return static_cast<int>(static_cast<short>(SendMessage(UDM_SETPOS, 0, MAKELPARAM(nPos, 0))));
    }
    int GetPos32(LPBOOL lpbError = nullptr) const {
        return static_cast<int>(SendMessage(UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(lpbError)));
    }
    int SetPos32(int nPos) { return static_cast<int>(SendMessage(UDM_SETPOS32, 0, static_cast<LPARAM>(nPos))); }
    void SetRange(short nLower, short nUpper) { SendMessage(UDM_SETRANGE, 0, MAKELPARAM(nUpper, nLower)); }
    void SetRange32(int nLower, int nUpper) {
        SendMessage(UDM_SETRANGE32, static_cast<WPARAM>(nLower), static_cast<LPARAM>(nUpper));
    }
    void GetRange32(int& nLower, int& nUpper) const {
        SendMessage(UDM_GETRANGE32, reinterpret_cast<WPARAM>(&nLower), reinterpret_cast<LPARAM>(&nUpper));
    }
};
