#include "app/ChartCtrl.h"

#include "platform/afx/DC.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/PaintDC.h"
#include "platform/gdi/rect.h"

#include <algorithm>
#include <cmath>
#include <new>

IMPLEMENT_DYNAMIC(CChartCtrl, CWnd)

BEGIN_MESSAGE_MAP(CChartCtrl, CWnd)
ON_WM_PAINT()
ON_WM_LBUTTONDOWN()
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

namespace {

constexpr double kPi = 3.1415926535;
// Below this sweep a slice's middle is too narrow to take a fill point: the fill starts next to its edge.
constexpr double kNarrowSweep = 0.18849555921;
constexpr COLORREF kBlack = 0;

constexpr COLORREF kScheme1[] = {0x666666, 0xDDDDDD, 0x888888, 0x444444, 0xCCCCCC, 0xAAAAAA};
constexpr COLORREF kScheme2[] = {0x00CC00, 0xFF0000, 0xCCCC00, 0x0000FF, 0x0000CC, 0x00FF00,
                                 0xFF00FF, 0xCC00CC, 0xCC0000, 0x00FFFF, 0x00CCCC, 0xFFFF00};
constexpr COLORREF kScheme3[] = {0xFF0000, 0xFF00FF, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFFFF00};

CString FormatValue(LPCTSTR format, double value) {
    CString text;
    text.Format(format, value);
    return text;
}

// The plot rectangle of the bar chart inside the client rectangle.
CRect PlotRect(const CRect& client) {
    return CRect(client.left + 40, client.top + 30, client.right - 20, client.bottom - 20);
}

int PieRadius(const CRect& client) {
    const int byWidth = client.Width() / 2 - 50;
    const int byHeight = client.Height() / 2 - 40;
    return byWidth < byHeight ? byWidth : byHeight;
}

CPoint PieCentre(const CRect& client) {
    CPoint centre = client.CenterPoint();
    centre.y += 15;
    return centre;
}

} // namespace

CChartCtrl::CChartCtrl() : m_bkColor(GetSysColor(COLOR_BTNFACE)) {
    LOGFONTW logFont{};
    ::GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(logFont), &logFont);
    logFont.lfWeight = FW_BOLD;
    m_boldFont.CreateFontIndirect(&logFont);
    LOGFONTW titleLogFont = logFont;
    titleLogFont.lfHeight = 15;
    std::fill(std::begin(titleLogFont.lfFaceName), std::end(titleLogFont.lfFaceName), 0);
    std::copy_n(u"Arial", 5, titleLogFont.lfFaceName);
    m_titleFont.CreateFontIndirect(&titleLogFont);
    m_font.CreateStockObject(DEFAULT_GUI_FONT);

    // Dialog templates name the class; a second registration (the class is there) fails harmlessly.
    WNDCLASSW wc{};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
}

CChartCtrl::~CChartCtrl() {
    if (m_hWnd)
        DestroyWindow();
}

BOOL CChartCtrl::SetPalette(int scheme) {
    const COLORREF* first = nullptr;
    const COLORREF* last = nullptr;
    switch (scheme) {
    case 0:
        break;
    case 1:
        first = std::begin(kScheme1);
        last = std::end(kScheme1);
        break;
    case 2:
        first = std::begin(kScheme2);
        last = std::end(kScheme2);
        break;
    case 3:
        first = std::begin(kScheme3);
        last = std::end(kScheme3);
        break;
    default:
        return FALSE;
    }
    RemoveAllColors();
    for (; first != last; ++first)
        AddColor(*first);
    return TRUE;
}

BOOL CChartCtrl::AddColor(COLORREF color) {
    auto brush = std::unique_ptr<CBrush>(new (std::nothrow) CBrush(color));
    if (!brush)
        return FALSE;
    return AddBrush(brush.release());
}

BOOL CChartCtrl::AddBrush(CBrush* brush) {
    std::unique_ptr<CBrush> owned(brush);
    if (!owned)
        return FALSE;
    try {
        m_colors.push_back(std::move(owned));
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

void CChartCtrl::RemoveAllColors() {
    m_colors.clear();
}

COLORREF CChartCtrl::GetColor(int index) const {
    if (index < 0 || index >= GetColorCount())
        return CLR_INVALID;
    LOGBRUSH logBrush{};
    m_colors[static_cast<size_t>(index)]->GetLogBrush(&logBrush);
    return logBrush.lbColor;
}

CBrush* CChartCtrl::ColorOf(int index) const {
    return m_colors[static_cast<size_t>(index) % m_colors.size()].get();
}

void CChartCtrl::SetChartType(int type) {
    m_chartType = type;
    if (m_hWnd)
        Invalidate(TRUE);
}

const CChartItem* CChartCtrl::GetItem(int index) const {
    if (index < 0 || index >= GetItemCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

BOOL CChartCtrl::AddValue(double value, LPCTSTR label, BOOL redraw) {
    if (m_chartType != kDiskUsage && !(value > 0))
        return FALSE;
    try {
        auto item = std::make_unique<CChartItem>();
        item->value = value;
        item->label = label ? label : u"";
        m_items.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    m_total += value;
    if (value > m_maxValue)
        m_maxValue = value;
    if (redraw && m_hWnd)
        Invalidate(TRUE);
    m_selected = -1;
    return TRUE;
}

BOOL CChartCtrl::SetValue(int index, double value, LPCTSTR label) {
    if (index < 0 || index >= GetItemCount())
        return FALSE;
    CChartItem& item = *m_items[static_cast<size_t>(index)];
    m_total = m_total - item.value + value;
    item.value = value;
    item.label = label ? label : u"";
    if (value > m_maxValue)
        m_maxValue = value;
    if (m_hWnd)
        Invalidate(TRUE);
    return TRUE;
}

BOOL CChartCtrl::RemoveValue(int index) {
    if (index < 0 || index >= GetItemCount())
        return FALSE;
    m_items.erase(m_items.begin() + index);
    m_maxValue = 0.0;
    m_total = 0.0;
    for (const auto& item : m_items) {
        m_total += item->value;
        if (item->value > m_maxValue)
            m_maxValue = item->value;
    }
    m_selected = -1;
    if (m_hWnd)
        Invalidate(TRUE);
    return TRUE;
}

void CChartCtrl::RemoveAll() {
    m_items.clear();
    m_total = 0.0;
    // The scale follows what is shown: a chart refilled with smaller values is drawn at their scale.
    m_maxValue = 0.0;
}

double CChartCtrl::ScaleFor(double maxValue) {
    if (maxValue < 1)
        return 1.0;
    const CString digits = FormatValue(u"%.0f", maxValue);
    const int n = digits.GetLength();
    const double m = std::pow(10.0, n - 1);
    const int d = digits[0] - u'0';
    return maxValue < (d + 1) * m ? (d + 1) * m : maxValue;
}

int CChartCtrl::HitTest(POINT pt) const {
    if (m_total <= 0 || m_items.empty())
        return -1;
    CRect client;
    GetClientRect(&client);
    const int count = GetItemCount();
    if (m_chartType & kBar) {
        // The same rectangles the bars are drawn in.
        const double scale = ScaleFor(m_maxValue);
        const CRect plot = PlotRect(client);
        CRect bars = plot;
        bars.top += 10;
        const int w = bars.Width() / count;
        const int h = bars.Height();
        for (int i = 0; i < count; ++i) {
            const int left = plot.left + w * i + 2;
            const CRect bar(left, plot.bottom - static_cast<int>(h * m_items[static_cast<size_t>(i)]->value / scale),
                            left + w - 4, plot.bottom + 1);
            if (PtInRect(&bar, pt))
                return i;
        }
    }
    if (m_chartType & kPie) {
        const int r = PieRadius(client);
        const CPoint c = PieCentre(client);
        const double dx = pt.x - c.x;
        const double dy = pt.y - c.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (!(d > 0 && d < r))
            return -1;
        double angle = -std::asin(dy / d);
        if (pt.x < c.x)
            angle = kPi - angle;
        if (angle < 0)
            angle += 2 * kPi;
        double start = 0.0;
        for (int i = 0; i < count; ++i) {
            const double end = start + 2 * kPi * m_items[static_cast<size_t>(i)]->value / m_total;
            if (angle >= start && angle <= end)
                return i;
            start = end;
        }
    }
    return -1;
}

BOOL CChartCtrl::OnEraseBkgnd(CDC*) {
    return TRUE;
}

void CChartCtrl::OnLButtonDown(UINT, CPoint point) {
    m_selected = HitTest(point);
    Invalidate(FALSE);
    NMCHARTCTRL notify{};
    notify.hdr.hwndFrom = m_hWnd;
    notify.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID());
    notify.hdr.code = NMCHARTCTRL_CLICK;
    notify.index = m_selected;
    if (const CChartItem* item = GetItem(m_selected)) {
        // The label is cut to leave room for its terminating null.
        const int length = std::min(item->label.GetLength(), static_cast<int>(std::size(notify.label)) - 1);
        std::copy_n(static_cast<LPCTSTR>(item->label), length, notify.label);
        notify.value = item->value;
    }
    if (CWnd* parent = GetParent())
        parent->SendMessage(WM_NOTIFY, notify.hdr.idFrom, reinterpret_cast<LPARAM>(&notify));
}

void CChartCtrl::OnPaint() {
    CPaintDC paintDc(this);
    CRect client;
    GetClientRect(&client);
    if (m_items.empty() || m_colors.size() < 2) {
        paintDc.FillSolidRect(&client, m_bkColor);
        return;
    }
    CDC memDc;
    if (!memDc.CreateCompatibleDC(&paintDc))
        return;
    if (!m_memBitmap.GetSafeHandle() && !m_memBitmap.CreateCompatibleBitmap(&paintDc, client.Width(), client.Height()))
        return;
    CBitmap* oldBitmap = memDc.SelectObject(&m_memBitmap);
    memDc.FillSolidRect(&client, m_bkColor);
    memDc.SetBkMode(TRANSPARENT);
    if (m_chartType & kBar)
        DrawBars(memDc, client);
    else if (m_chartType & kPie)
        DrawPie(memDc, client);
    else if (m_chartType & kDiskUsage)
        DrawDiskUsage(memDc, client);
    if (!(m_chartType & kDiskUsage)) {
        CString title;
        GetWindowText(title);
        CFont* oldFont = memDc.SelectObject(&m_titleFont);
        CRect titleRect = client;
        memDc.DrawText(title, &titleRect, DT_CENTER | DT_TOP);
        memDc.SelectObject(oldFont);
    }
    paintDc.BitBlt(0, 0, client.Width(), client.Height(), &memDc, 0, 0, SRCCOPY);
    memDc.SelectObject(oldBitmap);
}

bool CChartCtrl::FillAt(CDC& dc, POINT seed, CBrush* brush) {
    if (dc.GetPixel(seed) == kBlack)
        return false;
    CBrush* old = dc.SelectObject(brush);
    dc.FloodFill(seed.x, seed.y, kBlack);
    dc.SelectObject(old);
    return true;
}

void CChartCtrl::DrawBars(CDC& dc, const CRect& client) {
    const double scale = ScaleFor(m_maxValue);
    const CRect plot = PlotRect(client);
    const int h = plot.Height();
    CFont* oldFont = dc.SelectObject(&m_font);

    dc.MoveTo(plot.left - 7, plot.top);
    dc.LineTo(plot.left + 7, plot.top);
    dc.MoveTo(plot.left - 7, plot.top + h / 2);
    dc.LineTo(plot.left + 7, plot.top + h / 2);
    dc.MoveTo(plot.left - 5, plot.top + h / 4);
    dc.LineTo(plot.left + 5, plot.top + h / 4);
    dc.MoveTo(plot.left - 5, plot.top + 3 * h / 4);
    dc.LineTo(plot.left + 5, plot.top + 3 * h / 4);
    LPCTSTR scaleFormat = scale < 1 ? u"%.1f" : u"%.0f";
    CRect scaleRect(5, 25, 30, 40);
    dc.DrawText(FormatValue(scaleFormat, scale), &scaleRect, DT_RIGHT);
    CRect halfRect(5, plot.top + h / 2, 30, plot.top + h / 2 + 15);
    dc.DrawText(FormatValue(scaleFormat, scale / 2), &halfRect, DT_RIGHT);

    dc.MoveTo(plot.left - 15, plot.bottom);
    dc.LineTo(plot.right + 15, plot.bottom);
    dc.MoveTo(plot.left, plot.top - 15);
    dc.LineTo(plot.left, plot.bottom + 15);

    CRect bars = plot;
    bars.top += 10;
    const int count = GetItemCount();
    const int w = bars.Width() / count;
    const int barHeight = bars.Height();
    for (int i = 0; i < count; ++i) {
        const CChartItem& item = *m_items[static_cast<size_t>(i)];
        const int left = plot.left + w * i + 2;
        const int top = plot.bottom - static_cast<int>(barHeight * item.value / scale);
        CBrush* oldBrush = dc.SelectObject(ColorOf(i));
        dc.Rectangle(left, top, left + w - 4, plot.bottom + 1);
        dc.SelectObject(oldBrush);

        CRect percentRect(left, top - 16, left + w - 4, top - 1);
        dc.SelectObject(i == m_selected ? &m_boldFont : &m_font);
        dc.DrawText(FormatValue(u"%.1f%%", item.value * 100 / m_total), &percentRect, DT_CENTER | DT_BOTTOM);
        dc.SelectObject(&m_font);
        CRect labelRect(left, plot.bottom + 3, left + w - 4, plot.bottom + 18);
        dc.DrawText(item.label, &labelRect, DT_CENTER);
    }
    dc.SelectObject(oldFont);
}

void CChartCtrl::DrawPie(CDC& dc, const CRect& client) {
    const int r = PieRadius(client);
    const CPoint c = PieCentre(client);
    CFont* oldFont = dc.SelectObject(&m_font);
    dc.Ellipse(c.x - r, c.y - r, c.x + r, c.y + r);
    dc.MoveTo(c);
    dc.LineTo(c.x + r, c.y);

    double angle = 0.0;
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        const CChartItem& item = *m_items[static_cast<size_t>(i)];
        const double sweep = 2 * kPi * item.value / m_total;
        angle += sweep;
        dc.MoveTo(c);
        dc.LineTo(c.x + static_cast<int>(std::cos(angle) * r), c.y - static_cast<int>(std::sin(angle) * r));

        const double middle = angle - sweep / 2;
        const int px = c.x + static_cast<int>(std::cos(middle) * r * 1.2);
        const int py = c.y - static_cast<int>(std::sin(middle) * r * 1.2);
        const int lx = px > c.x ? px + 40 : px - 40;
        CRect labelRect(lx - 30, py - 15, lx + 30, py + 15);
        CString text;
        text.Format(u"%s\n%.1f%%", static_cast<LPCTSTR>(item.label), item.value * 100 / m_total);
        if (i == m_selected) {
            labelRect.InflateRect(2, 0);
            dc.SelectObject(&m_boldFont);
        }
        dc.DrawText(text, &labelRect, DT_CENTER | DT_VCENTER);
        dc.SelectObject(&m_font);

        const POINT seed{c.x + static_cast<int>(std::cos(middle) * r * 0.8),
                         c.y - static_cast<int>(std::sin(middle) * r * 0.8)};
        FillAt(dc, seed, ColorOf(i));
    }
    dc.SelectObject(oldFont);
}

void CChartCtrl::DrawDiskUsage(CDC& dc, const CRect& client) {
    if (m_total == 0) {
        // An empty or all-zero chart shows a full disk.
        RemoveAll();
        AddValue(100.0, u"Used", FALSE);
        AddValue(0, u"Free", FALSE);
    }
    const int rx = client.Width() / 2 - 10;
    const int ry = static_cast<int>(client.Height() / 2 - 1.1 * m_depth);
    const CPoint c = client.CenterPoint();
    const int depth = m_depth;

    dc.Ellipse(c.x - rx, c.y - ry, c.x + rx, c.y + ry);
    dc.MoveTo(c.x - rx, c.y);
    dc.LineTo(c.x - rx, c.y + depth);
    dc.MoveTo(c.x + rx, c.y);
    dc.LineTo(c.x + rx, c.y + depth);
    dc.Arc(c.x - rx, c.y - ry + depth, c.x + rx, c.y + ry + depth, c.x - rx, c.y + depth, c.x + rx, c.y + depth);

    auto onRim = [&](double a) {
        return CPoint(c.x + static_cast<int>(std::cos(a) * rx), c.y - static_cast<int>(std::sin(a) * ry));
    };
    double angle = 0.0;
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        const CChartItem& item = *m_items[static_cast<size_t>(i)];
        const double sweep = 2 * kPi * item.value / m_total;
        const double previous = angle;
        angle += sweep;
        const CPoint end = onRim(angle);
        const CPoint previousEnd = onRim(previous);
        if (item.value != 0 && item.value != m_total) {
            dc.MoveTo(c);
            dc.LineTo(end);
        }
        if (item.value == 0)
            continue;

        const double middle = previous + sweep / 2;
        for (int k = 1; k <= 4; ++k) {
            POINT seed;
            if (sweep > kNarrowSweep) {
                seed = {c.x + static_cast<int>(std::cos(middle) * rx / 2),
                        c.y - static_cast<int>(std::sin(middle) * ry / 2)};
            } else {
                seed = {end.x + (end.x > c.x ? -k : end.x < c.x ? k : 0),
                        end.y + (end.y > c.y ? -k : end.y < c.y ? k : 0)};
            }
            if (FillAt(dc, seed, ColorOf(i)))
                break;
        }

        if (angle > kPi) {
            dc.MoveTo(end);
            dc.LineTo(end.x, end.y + depth);
            POINT seed;
            if (previousEnd.y > c.y) {
                seed = {c.x + static_cast<int>(std::cos(middle) * rx),
                        c.y - static_cast<int>(std::sin(middle) * ry) + depth / 2};
            } else {
                // The visible part of the wall runs from the left end to the slice's end; its middle angle gives
                // a point halfway down the wall. Where that point falls outside the wall's span (a slice that
                // barely passes the left end) the span's middle is taken, at the rim's height there.
                const double n = (angle - kPi) / 2 + kPi;
                seed = {c.x + static_cast<int>(std::cos(n) * rx), c.y - static_cast<int>(std::sin(n) * ry) + depth / 2};
                if (seed.x <= c.x - rx || seed.x >= end.x) {
                    seed.x = (c.x - rx + end.x) / 2;
                    const double across = rx > 0 ? static_cast<double>(seed.x - c.x) / rx : 0.0;
                    seed.y = c.y + static_cast<int>(std::sqrt(std::max(0.0, 1 - across * across)) * ry) + depth / 2;
                }
            }
            const LOGBRUSH shade = [&] {
                LOGBRUSH logBrush{};
                ColorOf(i)->GetLogBrush(&logBrush);
                return logBrush;
            }();
            CBrush side(RGB(GetRValue(shade.lbColor) / 2, GetGValue(shade.lbColor) / 2, GetBValue(shade.lbColor) / 2));
            FillAt(dc, seed, &side);
        }
    }
}
