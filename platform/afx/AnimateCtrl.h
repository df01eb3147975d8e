// CAnimateCtrl: the framework's animation control class (a CWnd over "SysAnimate32" sending ACM_ messages).
// Open(nID) reads the clip from the resources the framework takes its resources from.
#pragma once

#include "platform/afx/Wnd.h"
#include "platform/ui/commctrl.h"

class CAnimateCtrl : public CWnd {
    DECLARE_DYNAMIC(CAnimateCtrl)
public:
    CAnimateCtrl() = default;
    ~CAnimateCtrl() override;

    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    BOOL Open(LPCTSTR lpszFileName);
    BOOL Open(UINT nID);
    // Plays frames nFrom to nTo (-1 the last) nRep times (-1 until stopped).
    BOOL Play(UINT nFrom, UINT nTo, UINT nRep) {
        return static_cast<BOOL>(SendMessage(ACM_PLAY, static_cast<WPARAM>(nRep), MAKELPARAM(nFrom, nTo)));
    }
    BOOL Stop() { return static_cast<BOOL>(SendMessage(ACM_STOP)); }
    BOOL Close() { return static_cast<BOOL>(SendMessage(ACM_OPENW)); }
    BOOL Seek(UINT nTo) { return static_cast<BOOL>(SendMessage(ACM_PLAY, 1, MAKELPARAM(nTo, nTo))); }
    BOOL IsPlaying() const { return static_cast<BOOL>(SendMessage(ACM_ISPLAYING)); }
};
