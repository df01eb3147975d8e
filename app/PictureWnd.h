// CPictureWnd: a child window that shows one bitmap in its client area, at its natural size, scaled, fitted,
// stretched or tiled, and aligned; the area the picture leaves free is filled with a background brush.
//
// It usually takes the place of a static control of a dialog template (ReplaceStatic), so that the dialog's
// layout marks the picture's rectangle with an ordinary static.
//
// Draw modes: 1 scaled by (scale x, scale y), 2 natural size, 3 stretched over the client area, 4 fitted to the
// width, 5 fitted to the height, 6 whole picture visible, 7 client area filled, 8 tiled. Alignments: 1 the stored
// offset, 2 left/top, 3 centred, 4 right/bottom.
//
// GUI thread only.
#pragma once

#include "platform/afx/GdiObject.h"
#include "platform/afx/Rect.h"
#include "platform/afx/Wnd.h"

class CPictureWnd : public CWnd {
    DECLARE_DYNAMIC(CPictureWnd)
public:
    CPictureWnd();
    ~CPictureWnd() override;

    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    // Destroys the static and stands in its place; a bitmap the static showed becomes the picture (mode 6).
    BOOL ReplaceStatic(CWnd* pStatic);

    void SetBitmap(HBITMAP hBitmap);
    void SetBitmap(CBitmap* pBitmap) { SetBitmap(pBitmap ? static_cast<HBITMAP>(*pBitmap) : nullptr); }
    HBITMAP GetBitmap() const { return static_cast<HBITMAP>(m_bitmap.GetSafeHandle()); }
    CSize GetBitmapSize() const { return m_bitmapSize; }
    // From the resources (default: the program's resource module); the picture is set either way.
    BOOL LoadBitmap(UINT nID, HINSTANCE hModule = nullptr);
    BOOL LoadBitmap(LPCTSTR lpszName, HINSTANCE hModule = nullptr);
    BOOL LoadBitmapFile(LPCTSTR lpszPath);
    // Hands the bitmap back; with bDelete the window deletes it itself and shows nothing.
    HBITMAP ReleaseBitmap(BOOL bDelete);

    void SetDrawMode(int nMode);
    int GetDrawMode() const { return m_nDrawMode; }
    void SetAlign(int nHorz, int nVert);
    int GetAlignX() const { return m_nAlignX; }
    int GetAlignY() const { return m_nAlignY; }
    void SetSourceRect(const RECT& rect);
    void ResetSourceRect();
    CRect GetSourceRect() const { return m_rcSource; }
    void SetScale(double dScaleX, double dScaleY);
    void SetScale(double dScale) { SetScale(dScale, dScale); }
    double GetScaleX() const { return m_dScaleX; }
    double GetScaleY() const { return m_dScaleY; }
    void SetOffset(int x, int y);
    void SetOffsetX(int x);
    void SetOffsetY(int y);
    void SetBkColorIndex(int nIndex);
    void SetBkBrush(CBrush* pBrush) { SetBkBrush(pBrush ? static_cast<HBRUSH>(*pBrush) : nullptr); }
    void SetBkBrush(HBRUSH hBrush);
    // Where the source rectangle lands, in client coordinates.
    CRect GetDestRect() const { return m_rcDest; }

    void RecalcLayout(BOOL bRepaint);

protected:
    void OnPaint();
    void OnSize(UINT nType, int cx, int cy);

    DECLARE_MESSAGE_MAP()

private:
    CBitmap m_bitmap;
    CSize m_bitmapSize{0, 0};
    HBRUSH m_hBkBrush;
    BYTE m_bOwnsBitmap = 0;
    int m_nDrawMode = 2;
    int m_nAlignX = 2;
    int m_nAlignY = 2;
    CRect m_rcSource{0, 0, 0, 0};
    double m_dScaleX = 1.0;
    double m_dScaleY = 1.0;
    int m_nOffsetX = 0;
    int m_nOffsetY = 0;
    CRect m_rcDest{0, 0, 0, 0};
};
