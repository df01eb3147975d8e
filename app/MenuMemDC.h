// CMenuMemDC: draws into an off-screen bitmap of a rectangle of its target, in the target's coordinates, and copies
// the picture to the target when it goes. On a printer's DC it draws straight into the printer's and leaves that DC
// as it was.
#pragma once

#include "platform/afx/DC.h"
#include "platform/afx/GdiObject.h"
#include "platform/afx/Rect.h"

class CMenuMemDC : public CDC {
public:
    CMenuMemDC(CDC* pTarget, const RECT& rect);
    ~CMenuMemDC() override;
    CMenuMemDC(const CMenuMemDC&) = delete;
    CMenuMemDC& operator=(const CMenuMemDC&) = delete;

private:
    CBitmap m_bitmap;
    CBitmap* m_pOldBitmap = nullptr;
    CDC* m_pTarget;
    CRect m_rect;
    BOOL m_bMemory = FALSE;
};
