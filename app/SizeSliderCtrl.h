// CSizeSliderCtrl: a trackbar whose channel is a two-coloured bar split at the thumb: blue from the start of the
// channel to the thumb, magenta from the thumb to the end. The Quick Configure Wizard's size page uses it for the
// split of a disk between its public and secure parts and calls DrawSplit after each change of the position or
// range.
//
// GUI thread only.
#pragma once

#include "platform/afx/SliderCtrl.h"

class CDC;

class CSizeSliderCtrl : public CSliderCtrl {
    DECLARE_DYNAMIC(CSizeSliderCtrl)
public:
    CSizeSliderCtrl();

    // Paints the split at once on the client area, then invalidates the whole control so that its own painting
    // follows.
    void DrawSplit();

    // The part from the thumb to the end, and the part from the start of the channel to the thumb.
    COLORREF restColor;
    COLORREF fillColor;

protected:
    void OnCustomDraw(NMHDR* pNMHDR, LRESULT* pResult);

    DECLARE_MESSAGE_MAP()

private:
    // Where the split lies on a bar of the given length: 9 plus the thumb's share of the length.
    int SplitPoint(int nLength) const;
    // Paints the bar in the rectangle as the two parts, the rest first.
    void PaintBar(CDC* pDC, const RECT& rcBar, BOOL bVertical, BOOL bRestShrinksAllFirst);
    // One part: a solid rounded bar, painted as shrinking rounded rectangles until the rectangle is empty.
    static void PaintPart(CDC* pDC, RECT rc, COLORREF color, BOOL bVertical, BOOL bShrinkAllFirst);
};
