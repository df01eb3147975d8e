// CLoadProgressTreeCtrl: a check tree that draws a small progress bar beside the "Loading..." item while children
// load: the share of the expected children loaded, or, when the number is not known, a curve that rises towards
// full as children come.
#pragma once

#include "engine/CheckTreeCtrl.h"

class CLoadProgressTreeCtrl : public CCheckTreeCtrl {
    DECLARE_DYNAMIC(CLoadProgressTreeCtrl)
public:
    CLoadProgressTreeCtrl();
    ~CLoadProgressTreeCtrl() override;

    void OnLoadStart(HTREEITEM hPlaceholder) override;
    void OnLoadStep(int nTimerTick, int nExpected, int nLoaded) override;
    void OnLoadEnd() override;

    // The fill width (0 to 50) for the counts.
    static int FillWidth(int nExpected, int nLoaded);

protected:
    RECT m_rcBar{};
    RECT m_rcFill{};
    HBRUSH m_hFrameBrush = nullptr;
    HBRUSH m_hFillBrush = nullptr;
};
