// CLoadAnimTreeCtrl: a check tree with the progress bar that also turns an animated cursor left of the "Loading..."
// item, one frame every 125 ms, while children load.
#pragma once

#include "engine/LoadProgressTreeCtrl.h"

class CLoadAnimTreeCtrl : public CLoadProgressTreeCtrl {
    DECLARE_DYNAMIC(CLoadAnimTreeCtrl)
public:
    CLoadAnimTreeCtrl();
    ~CLoadAnimTreeCtrl() override;

    void OnLoadStart(HTREEITEM hPlaceholder) override;
    void OnLoadStep(int nTimerTick, int nExpected, int nLoaded) override;
    void OnLoadEnd() override;

    void SetAnimCursor(HCURSOR hCursor);
    int GetFrameIndex() const { return m_nFrame; }

protected:
    RECT m_rcIcon{};
    HBRUSH m_hBackBrush = nullptr;
    int m_nFrame = 0;
    HCURSOR m_hCursor = nullptr;
};
