// CChartCtrl: a child window that draws a small chart of named values: a bar chart (type 1), a flat pie chart
// (type 2) or the three-dimensional elliptic pie that shows how full a disk is (type 4, the default).
//
// Dialog templates name it by its window class "MFC_NSChartCtrl", which every construction registers; the owning
// page subclasses the dialog item with the object. A click selects the item under it (bar and flat pie) and tells
// the parent with WM_NOTIFY, code NMCHARTCTRL_CLICK and an NMCHARTCTRL record.
//
// Where the drawing differs from a plain reading of the layout: RemoveAll forgets the largest value too, so the
// bar chart's scale follows the values shown; a bar answers clicks exactly where it is drawn; the label in the
// click record always ends with a null; the shaded side wall of a slice is filled from a point inside the wall.
//
// GUI thread only.
#pragma once

#include "platform/afx/GdiObject.h"
#include "platform/afx/Object.h"
#include "platform/afx/Rect.h"
#include "platform/afx/String.h"
#include "platform/afx/Wnd.h"
#include "platform/ui/message.h"

#include <memory>
#include <vector>

class CChartItem : public CObject {
public:
    double value = 0.0;
    CString label;
};

constexpr UINT NMCHARTCTRL_CLICK = 1;

struct NMCHARTCTRL {
    NMHDR hdr;
    int index;
    WCHAR label[60];
    double value;
};

class CChartCtrl : public CWnd {
    DECLARE_DYNAMIC(CChartCtrl)
public:
    static constexpr LPCTSTR kClassName = u"MFC_NSChartCtrl";
    enum : int { kBar = 1, kPie = 2, kDiskUsage = 4 };

    CChartCtrl();
    ~CChartCtrl() override;

    BOOL SetPalette(int scheme);
    BOOL AddColor(COLORREF color);
    // The chart takes ownership of the brush (also when it returns FALSE).
    BOOL AddBrush(CBrush* brush);
    void RemoveAllColors();
    void SetChartType(int type);
    void SetBkColor(COLORREF color) { m_bkColor = color; }
    BOOL AddValue(double value, LPCTSTR label, BOOL redraw = TRUE);
    BOOL SetValue(int index, double value, LPCTSTR label);
    BOOL RemoveValue(int index);
    void RemoveAll();
    // The item under a point in client coordinates, or -1.
    int HitTest(POINT pt) const;

    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    const CChartItem* GetItem(int index) const;
    int GetColorCount() const { return static_cast<int>(m_colors.size()); }
    COLORREF GetColor(int index) const;
    int GetSelected() const { return m_selected; }
    int GetChartType() const { return m_chartType; }
    double GetTotal() const { return m_total; }
    double GetMaxValue() const { return m_maxValue; }
    int GetDepth() const { return m_depth; }

    // The bar chart's scale for a largest value (347 gives 400, 400 gives 500, below 1 gives 1).
    static double ScaleFor(double maxValue);

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnLButtonDown(UINT nFlags, CPoint point);

    DECLARE_MESSAGE_MAP()

private:
    void DrawBars(CDC& dc, const CRect& client);
    void DrawPie(CDC& dc, const CRect& client);
    void DrawDiskUsage(CDC& dc, const CRect& client);
    // Fills the area around a point, bounded by black, unless the point itself is black.
    static bool FillAt(CDC& dc, POINT seed, CBrush* brush);
    CBrush* ColorOf(int index) const;

    std::vector<std::unique_ptr<CChartItem>> m_items;
    std::vector<std::unique_ptr<CBrush>> m_colors;
    CFont m_boldFont;
    int m_selected = -1;
    int m_depth = 10;
    COLORREF m_bkColor;
    CFont m_titleFont;
    double m_maxValue = 0.0;
    CFont m_font;
    double m_total = 0.0;
    int m_chartType = kDiskUsage;
    CBitmap m_memBitmap;
};
