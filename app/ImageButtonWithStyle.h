// CImageButtonWithStyle: a push button with an icon or a bitmap (BS_ICON or BS_BITMAP, the image set with
// BM_SETIMAGE) that still gets the visual-styles push-button face where visual styles are on.
//
// It draws itself in its reflected NM_CUSTOMDRAW through the theme library binding (g_themeLibrary): the themed
// face in the state the button is in, its image in the face's content rectangle (disabled when the button is),
// and the focus rectangle. Where visual styles are off, or the library is missing, or the button has no image
// style, it leaves everything to the default drawing.
#pragma once

#include "platform/afx/Button.h"

struct NMHDR;

class CImageButtonWithStyle : public CButton {
    DECLARE_DYNAMIC(CImageButtonWithStyle)
public:
    CImageButtonWithStyle() = default;
    ~CImageButtonWithStyle() override = default;

    // The image's position in a rectangle by the style's alignment bits (an image larger than the rectangle
    // starts at its edge).
    static int GetImageLeft(int nImageWidth, const RECT& rc, DWORD dwStyle);
    static int GetImageTop(int nImageHeight, const RECT& rc, DWORD dwStyle);

protected:
    void OnCustomDraw(NMHDR* pNMHDR, LRESULT* pResult);
    void DrawBitmap(HDC hDC, const RECT& rcContent, DWORD dwStyle);
    void DrawIcon(HDC hDC, const RECT& rcContent, DWORD dwStyle);

    DECLARE_MESSAGE_MAP()
};
