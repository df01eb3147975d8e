// Shapes, lines, pixels and flood fill, drawn on the pixel buffer so that coverage follows Windows' rules.
#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace platform::gdi {

Painter::Painter(Dc& d) : dc(d), canvas(d.Target()), clip(d.Clip()) {
    if (d.state.clip || d.visible) {
        RegionShape shape = d.ClipShape();
        if (shape.Complexity() == COMPLEXREGION)
            mask = std::move(shape);
    }
    if (canvas)
        canvas->BeforeUse();
}

Painter::~Painter() {
    if (canvas && touched) {
        canvas->Changed();
        canvas->AfterChange();
    }
}

void Painter::Plot(int x, int y, uint32_t pixel) {
    if (!canvas || !Inside(x, y))
        return;
    if (mix != R2_COPYPEN) {
        if (canvas->Mono())
            pixel = ToMono(pixel);
        pixel = Rop2(mix, pixel, canvas->Get(x, y));
    }
    canvas->Put(x, y, pixel);
    touched = true;
}

void Painter::Span(int y, int x0, int x1, uint32_t pixel) {
    if (!canvas || y < clip.top || y >= clip.bottom)
        return;
    x0 = std::max<int>(x0, clip.left);
    x1 = std::min<int>(x1, clip.right);
    if (x0 >= x1)
        return;
    if (mask || mix != R2_COPYPEN) {
        for (int x = x0; x < x1; ++x)
            Plot(x, y, pixel);
        return;
    }
    uint32_t* row = canvas->Row(y);
    uint32_t p = canvas->Mono() ? ToMono(pixel) : pixel;
    std::fill(row + x0, row + x1, p);
    touched = true;
}

std::optional<uint32_t> Painter::BrushPixel(const Brush& brush, int x, int y) const {
    if (brush.style == BS_NULL)
        return std::nullopt;
    if (brush.style == BS_PATTERN) {
        // The pattern repeats from the canvas's corner.
        const int px = ((x % brush.patternWidth) + brush.patternWidth) % brush.patternWidth;
        const int py = ((y % brush.patternHeight) + brush.patternHeight) % brush.patternHeight;
        const uint32_t p = brush.pattern[static_cast<size_t>(py) * brush.patternWidth + px];
        if (brush.patternMono)
            return ToPixel(p ? dc.state.bk : dc.state.text);
        return p;
    }
    if (brush.style != BS_HATCHED)
        return ToPixel(brush.Color());
    int cx = x & 7, cy = y & 7;
    bool on = false;
    switch (brush.hatch) {
    case HS_HORIZONTAL:
        on = cy == 0;
        break;
    case HS_VERTICAL:
        on = cx == 0;
        break;
    case HS_FDIAGONAL:
        on = cx == cy;
        break;
    case HS_BDIAGONAL:
        on = cx == 7 - cy;
        break;
    case HS_CROSS:
        on = cx == 0 || cy == 0;
        break;
    case HS_DIAGCROSS:
        on = cx == cy || cx == 7 - cy;
        break;
    default:
        break;
    }
    if (on)
        return ToPixel(brush.Color());
    if (dc.state.bkMode == OPAQUE)
        return ToPixel(dc.state.bk);
    return std::nullopt;
}

void Painter::BrushSpan(const Brush& brush, int y, int x0, int x1) {
    if (brush.style == BS_NULL)
        return;
    if (brush.style != BS_HATCHED && brush.style != BS_PATTERN) {
        Span(y, x0, x1, ToPixel(brush.Color()));
        return;
    }
    for (int x = x0; x < x1; ++x)
        if (auto p = BrushPixel(brush, x, y))
            Plot(x, y, *p);
}

void Painter::FillRect(const RECT& r, const Brush& brush) {
    for (int y = r.top; y < r.bottom; ++y)
        BrushSpan(brush, y, r.left, r.right);
}

void Painter::FillRect(const RECT& r, uint32_t pixel) {
    for (int y = r.top; y < r.bottom; ++y)
        Span(y, r.left, r.right, pixel);
}

std::function<bool(double, double)> EllipseTest(const RECT& box) {
    double cx = (box.left + box.right) / 2.0, cy = (box.top + box.bottom) / 2.0;
    double a = (box.right - box.left) / 2.0, b = (box.bottom - box.top) / 2.0;
    return [=](double x, double y) {
        if (a <= 0 || b <= 0)
            return false;
        double u = (x - cx) / a, v = (y - cy) / b;
        return u * u + v * v <= 1.0 + 1e-9;
    };
}

std::function<bool(double, double)> RoundRectTest(const RECT& box, int width, int height) {
    // Corners are quarter ellipses of the given size, at most the box's own.
    const double a = std::min<double>(std::abs(width), box.right - box.left) / 2;
    const double b = std::min<double>(std::abs(height), box.bottom - box.top) / 2;
    return [=](double x, double y) {
        if (x < box.left || x > box.right || y < box.top || y > box.bottom)
            return false;
        double cx = std::clamp(x, box.left + a, box.right - a);
        double cy = std::clamp(y, box.top + b, box.bottom - b);
        if (cx == x || cy == y)
            return true;
        double u = (x - cx) / a, v = (y - cy) / b;
        return u * u + v * v <= 1.0 + 1e-9;
    };
}

namespace {

RECT Normalized(int l, int t, int r, int b) {
    return RECT{std::min(l, r), std::min(t, b), std::max(l, r), std::max(t, b)};
}

// The on/off pattern of a styled one-pixel pen, in pixels.
std::vector<int> DashPattern(int style) {
    switch (style) {
    case PS_DASH:
        return {18, 6};
    case PS_DOT:
        return {3, 3};
    case PS_DASHDOT:
        return {9, 6, 3, 6};
    case PS_DASHDOTDOT:
        return {9, 3, 3, 3, 3, 3};
    default:
        return {};
    }
}

// A pen stroke: one pixel, or a disc of the pen's width for wide pens.
class Stroke {
public:
    Stroke(Painter& p, const Pen& pen) : m_p(p), m_pen(pen), m_dashes(DashPattern(pen.style)) {
        if (pen.width > 1) {
            double r = pen.width / 2.0;
            int lo = -(pen.width / 2), hi = lo + pen.width;
            for (int dy = lo; dy < hi; ++dy)
                for (int dx = lo; dx < hi; ++dx) {
                    double fx = dx + 0.5 - (pen.width % 2 ? 0.5 : 0.0);
                    double fy = dy + 0.5 - (pen.width % 2 ? 0.5 : 0.0);
                    if (fx * fx + fy * fy <= r * r + 0.25)
                        m_disc.push_back(POINT{dx, dy});
                }
        }
    }

    void Point(int x, int y) {
        uint32_t color = ToPixel(m_pen.color);
        if (!m_dashes.empty()) {
            int total = 0;
            for (int d : m_dashes)
                total += d;
            int pos = m_step++ % total;
            size_t i = 0;
            while (pos >= m_dashes[i]) {
                pos -= m_dashes[i];
                ++i;
            }
            if (i % 2 == 1) { // a gap
                if (m_p.dc.state.bkMode == OPAQUE)
                    m_p.Plot(x, y, ToPixel(m_p.dc.state.bk));
                return;
            }
        }
        if (m_disc.empty()) {
            m_p.Plot(x, y, color);
            return;
        }
        for (const POINT& d : m_disc)
            m_p.Plot(x + d.x, y + d.y, color);
    }

    // Bresenham from (x0, y0) up to, not including, (x1, y1).
    void Line(int x0, int y0, int x1, int y1, bool last = false) {
        int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        while (x0 != x1 || y0 != y1) {
            Point(x0, y0);
            int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
        if (last)
            Point(x1, y1);
    }

private:
    Painter& m_p;
    const Pen& m_pen;
    std::vector<int> m_dashes;
    std::vector<POINT> m_disc;
    int m_step = 0;
};

// A shape as a mask over its bounding box: pen pixels (2), inside pixels (1), outside (0).
struct Mask {
    RECT box{};
    int w = 0, h = 0;
    std::vector<uint8_t> cells;
    uint8_t& At(int x, int y) { return cells[static_cast<size_t>(y) * w + x]; }

    Mask(const RECT& b, const std::function<bool(double, double)>& inside) : box(b) {
        w = std::max<int>(0, b.right - b.left);
        h = std::max<int>(0, b.bottom - b.top);
        cells.assign(static_cast<size_t>(w) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                At(x, y) = inside(box.left + x + 0.5, box.top + y + 0.5) ? 1 : 0;
    }

    // Marks the outer `width` layers of the shape as pen pixels: a layer is each inside pixel with a
    // four-neighbour outside, so the outline is closed against four-connected fills.
    void Peel(int width) {
        for (int layer = 0; layer < width; ++layer) {
            std::vector<std::pair<int, int>> edge;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    if (At(x, y) != 1)
                        continue;
                    auto out = [&](int nx, int ny) {
                        return nx < 0 || ny < 0 || nx >= w || ny >= h || At(nx, ny) != 1;
                    };
                    if (out(x - 1, y) || out(x + 1, y) || out(x, y - 1) || out(x, y + 1))
                        edge.emplace_back(x, y);
                }
            for (auto [x, y] : edge)
                At(x, y) = 2;
        }
    }
};

void PaintMask(Painter& p, Mask& m, const Pen& pen, const Brush* brush,
               const std::function<bool(double, double)>& penFilter = nullptr) {
    bool drawPen = pen.style != PS_NULL;
    if (drawPen)
        m.Peel(pen.width);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            uint8_t c = m.At(x, y);
            int px = m.box.left + x, py = m.box.top + y;
            if (c == 2 && (!penFilter || penFilter(px + 0.5, py + 0.5)))
                p.Plot(px, py, ToPixel(pen.color));
            else if (c == 1 && brush)
                if (auto b = p.BrushPixel(*brush, px, py))
                    p.Plot(px, py, *b);
        }
}

// Shapes drawn without a pen are one pixel smaller at the right and bottom, as on Windows.
RECT ShapeBox(Dc& d, int l, int t, int r, int b) {
    RECT box = Normalized(d.X(l), d.Y(t), d.X(r), d.Y(b));
    if (d.state.pen->style == PS_NULL) {
        --box.right;
        --box.bottom;
    }
    return box;
}

// The counter-clockwise angle of a point around the centre, with y growing upwards.
double Angle(double x, double y, double cx, double cy) {
    return std::atan2(cy - y, x - cx);
}

// True when the angle lies on the counter-clockwise sweep from `start` to `end` (all of the circle when they
// are equal).
bool InSweep(double angle, double start, double end) {
    constexpr double kTwoPi = 6.283185307179586;
    auto norm = [&](double v) {
        v = std::fmod(v, kTwoPi);
        return v < 0 ? v + kTwoPi : v;
    };
    double sweep = norm(end - start);
    if (sweep < 1e-12)
        return true;
    return norm(angle - start) <= sweep + 1e-9;
}

enum class ArcKind { Arc, Pie, Chord };

BOOL ArcShape(HDC dc, int l, int t, int r, int b, int xs, int ys, int xe, int ye, ArcKind kind) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    RECT box = kind == ArcKind::Arc ? Normalized(d->X(l), d->Y(t), d->X(r), d->Y(b)) : ShapeBox(*d, l, t, r, b);
    double cx = (box.left + box.right) / 2.0, cy = (box.top + box.bottom) / 2.0;
    double a = (box.right - box.left) / 2.0, bb = (box.bottom - box.top) / 2.0;
    double start = Angle(d->X(xs) + 0.0, d->Y(ys) + 0.0, cx, cy);
    double end = Angle(d->X(xe) + 0.0, d->Y(ye) + 0.0, cx, cy);
    auto onEllipse = [&](double angle) {
        double dx = std::cos(angle), dy = -std::sin(angle);
        double k = 1.0 / std::sqrt((dx / a) * (dx / a) + (dy / bb) * (dy / bb));
        return std::pair<double, double>{cx + dx * k, cy + dy * k};
    };
    auto ellipse = EllipseTest(box);
    Painter p(*d);
    p.mix = d->state.rop2;
    if (a <= 0 || bb <= 0)
        return TRUE;
    auto [sx, sy] = onEllipse(start);
    auto [ex, ey] = onEllipse(end);
    std::function<bool(double, double)> inside;
    switch (kind) {
    case ArcKind::Arc:
        inside = ellipse;
        break;
    case ArcKind::Pie:
        inside = [&](double x, double y) { return ellipse(x, y) && InSweep(Angle(x, y, cx, cy), start, end); };
        break;
    case ArcKind::Chord:
        inside = [&](double x, double y) {
            if (!ellipse(x, y))
                return false;
            if (std::abs(start - end) < 1e-12)
                return true;
            // In y-up coordinates the arc's side of the chord lies to its right.
            double cross = (ex - sx) * ((cy - y) - (cy - sy)) - ((cy - ey) - (cy - sy)) * (x - sx);
            return cross <= 1e-9;
        };
        break;
    }
    Mask m(box, inside);
    if (kind == ArcKind::Arc) {
        if (d->state.pen->style == PS_NULL)
            return TRUE;
        PaintMask(p, m, *d->state.pen, nullptr,
                  [&](double x, double y) { return InSweep(Angle(x, y, cx, cy), start, end); });
        return TRUE;
    }
    PaintMask(p, m, *d->state.pen, d->state.brush.get());
    return TRUE;
}

} // namespace

} // namespace platform::gdi

using namespace platform::gdi;

namespace {

DcPtr DcOrFail(HDC dc) {
    DcPtr d = FindDc(dc);
    if (!d)
        SetLastError(ERROR_INVALID_HANDLE);
    return d;
}

} // namespace

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    auto b = FindBrush(brush);
    if (!d || !rect || !b) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Painter p(*d);
    p.FillRect(RECT{d->X(rect->left), d->Y(rect->top), d->X(rect->right), d->Y(rect->bottom)}, *b);
    return 1;
}

int FrameRect(HDC dc, const RECT* rect, HBRUSH brush) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    auto b = FindBrush(brush);
    if (!d || !rect || !b) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    RECT r{d->X(rect->left), d->Y(rect->top), d->X(rect->right), d->Y(rect->bottom)};
    if (IsRectEmpty(&r))
        return 1;
    Painter p(*d);
    p.FillRect(RECT{r.left, r.top, r.right, r.top + 1}, *b);
    p.FillRect(RECT{r.left, r.bottom - 1, r.right, r.bottom}, *b);
    p.FillRect(RECT{r.left, r.top, r.left + 1, r.bottom}, *b);
    p.FillRect(RECT{r.right - 1, r.top, r.right, r.bottom}, *b);
    return 1;
}

BOOL InvertRect(HDC dc, const RECT* rect) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !rect)
        return FALSE;
    Painter p(*d);
    if (!p.canvas)
        return FALSE;
    for (int y = d->Y(rect->top); y < d->Y(rect->bottom); ++y)
        for (int x = d->X(rect->left); x < d->X(rect->right); ++x)
            if (p.Inside(x, y))
                p.Plot(x, y, p.canvas->Get(x, y) ^ 0xFFFFFFu);
    return TRUE;
}

BOOL DrawFocusRect(HDC dc, const RECT* rect) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !rect)
        return FALSE;
    Painter p(*d);
    if (!p.canvas)
        return FALSE;
    RECT r{d->X(rect->left), d->Y(rect->top), d->X(rect->right), d->Y(rect->bottom)};
    if (IsRectEmpty(&r))
        return TRUE;
    // Every other pixel of the frame, inverted, so a second call takes it away.
    auto flip = [&](int x, int y) {
        if (p.Inside(x, y) && ((x + y) & 1) == 0)
            p.Plot(x, y, p.canvas->Get(x, y) ^ 0xFFFFFFu);
    };
    for (int x = r.left; x < r.right; ++x) {
        flip(x, r.top);
        if (r.bottom - 1 != r.top)
            flip(x, r.bottom - 1);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        flip(r.left, y);
        if (r.right - 1 != r.left)
            flip(r.right - 1, y);
    }
    return TRUE;
}

BOOL DrawEdge(HDC dc, LPRECT rect, UINT edge, UINT flags) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !rect)
        return FALSE;
    Painter p(*d);
    RECT r{d->X(rect->left), d->Y(rect->top), d->X(rect->right), d->Y(rect->bottom)};
    auto ring = [&](COLORREF topLeft, COLORREF bottomRight) {
        if (IsRectEmpty(&r))
            return;
        uint32_t tl = ToPixel(topLeft), br = ToPixel(bottomRight);
        if (flags & BF_TOP)
            p.FillRect(RECT{r.left, r.top, r.right, r.top + 1}, tl);
        if (flags & BF_LEFT)
            p.FillRect(RECT{r.left, r.top, r.left + 1, r.bottom}, tl);
        if (flags & BF_BOTTOM)
            p.FillRect(RECT{r.left, r.bottom - 1, r.right, r.bottom}, br);
        if (flags & BF_RIGHT)
            p.FillRect(RECT{r.right - 1, r.top, r.right, r.bottom}, br);
        if (flags & BF_TOP)
            ++r.top;
        if (flags & BF_LEFT)
            ++r.left;
        if (flags & BF_BOTTOM)
            --r.bottom;
        if (flags & BF_RIGHT)
            --r.right;
    };
    UINT outer = edge & BDR_OUTER, inner = edge & BDR_INNER;
    if (flags & BF_MONO) {
        if (outer)
            ring(GetSysColor(COLOR_WINDOWFRAME), GetSysColor(COLOR_WINDOWFRAME));
        if (inner)
            ring(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOW));
    } else if (flags & BF_FLAT) {
        if (outer)
            ring(GetSysColor(COLOR_3DSHADOW), GetSysColor(COLOR_3DSHADOW));
        if (inner)
            ring(GetSysColor(COLOR_3DFACE), GetSysColor(COLOR_3DFACE));
    } else {
        if (outer & BDR_RAISEDOUTER)
            ring(GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DDKSHADOW));
        else if (outer & BDR_SUNKENOUTER)
            ring(GetSysColor(COLOR_3DSHADOW), GetSysColor(COLOR_3DHILIGHT));
        if (inner & BDR_RAISEDINNER)
            ring(GetSysColor(COLOR_3DHILIGHT), GetSysColor(COLOR_3DSHADOW));
        else if (inner & BDR_SUNKENINNER)
            ring(GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DLIGHT));
    }
    if ((flags & BF_MIDDLE) && !IsRectEmpty(&r))
        p.FillRect(r, ToPixel(GetSysColor((flags & BF_MONO) ? COLOR_WINDOW : COLOR_3DFACE)));
    if (flags & BF_ADJUST) {
        int dx = d->X(0), dy = d->Y(0);
        *rect = RECT{r.left - dx, r.top - dy, r.right - dx, r.bottom - dy};
    }
    return TRUE;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    RECT box = ShapeBox(*d, left, top, right, bottom);
    if (IsRectEmpty(&box))
        return TRUE;
    Painter p(*d);
    p.mix = d->state.rop2;
    const Pen& pen = *d->state.pen;
    int w = pen.style == PS_NULL ? 0 : std::min<int>(pen.width, std::min(box.right - box.left, box.bottom - box.top));
    RECT inner = box;
    InflateRect(&inner, -w, -w);
    if (!IsRectEmpty(&inner))
        p.FillRect(inner, *d->state.brush);
    if (w == 1) {
        // One-pixel pens keep their style along the frame.
        Stroke s(p, pen);
        s.Line(box.left, box.top, box.right - 1, box.top);
        s.Line(box.right - 1, box.top, box.right - 1, box.bottom - 1);
        s.Line(box.right - 1, box.bottom - 1, box.left, box.bottom - 1);
        s.Line(box.left, box.bottom - 1, box.left, box.top);
    } else if (w > 1) {
        uint32_t c = ToPixel(pen.color);
        p.FillRect(RECT{box.left, box.top, box.right, box.top + w}, c);
        p.FillRect(RECT{box.left, box.bottom - w, box.right, box.bottom}, c);
        p.FillRect(RECT{box.left, box.top, box.left + w, box.bottom}, c);
        p.FillRect(RECT{box.right - w, box.top, box.right, box.bottom}, c);
    }
    return TRUE;
}

BOOL RoundRect(HDC dc, int left, int top, int right, int bottom, int width, int height) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    RECT box = ShapeBox(*d, left, top, right, bottom);
    Mask m(box, RoundRectTest(box, width, height));
    Painter p(*d);
    p.mix = d->state.rop2;
    PaintMask(p, m, *d->state.pen, d->state.brush.get());
    return TRUE;
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    RECT box = ShapeBox(*d, left, top, right, bottom);
    Mask m(box, EllipseTest(box));
    Painter p(*d);
    p.mix = d->state.rop2;
    PaintMask(p, m, *d->state.pen, d->state.brush.get());
    return TRUE;
}

BOOL Arc(HDC dc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) {
    return ArcShape(dc, left, top, right, bottom, xStart, yStart, xEnd, yEnd, ArcKind::Arc);
}

BOOL Pie(HDC dc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) {
    return ArcShape(dc, left, top, right, bottom, xStart, yStart, xEnd, yEnd, ArcKind::Pie);
}

BOOL Chord(HDC dc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd) {
    return ArcShape(dc, left, top, right, bottom, xStart, yStart, xEnd, yEnd, ArcKind::Chord);
}

BOOL Polygon(HDC dc, const POINT* points, int count) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !points || count < 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<POINT> pts(points, points + count);
    for (POINT& pt : pts)
        pt = POINT{d->X(pt.x), d->Y(pt.y)};
    Painter p(*d);
    p.mix = d->state.rop2;
    int top = 0;
    const auto rows = PolygonRows(pts.data(), count, d->state.polyFillMode, top);
    const Brush& brush = *d->state.brush;
    for (size_t i = 0; i < rows.size(); ++i)
        for (const auto& [x0, x1] : rows[i])
            p.BrushSpan(brush, top + static_cast<int>(i), x0, x1);
    if (d->state.pen->style != PS_NULL) {
        Stroke s(p, *d->state.pen);
        for (int i = 0; i < count; ++i)
            s.Line(pts[i].x, pts[i].y, pts[(i + 1) % count].x, pts[(i + 1) % count].y);
    }
    return TRUE;
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !points || count < 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (d->state.pen->style == PS_NULL)
        return TRUE;
    Painter p(*d);
    p.mix = d->state.rop2;
    Stroke s(p, *d->state.pen);
    for (int i = 0; i + 1 < count; ++i)
        s.Line(d->X(points[i].x), d->Y(points[i].y), d->X(points[i + 1].x), d->Y(points[i + 1].y));
    return TRUE;
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    if (previous)
        *previous = d->state.position;
    d->state.position = POINT{x, y};
    return TRUE;
}

BOOL GetCurrentPositionEx(HDC dc, LPPOINT position) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !position)
        return FALSE;
    *position = d->state.position;
    return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    POINT from = d->state.position;
    d->state.position = POINT{x, y};
    if (d->state.pen->style == PS_NULL)
        return TRUE;
    Painter p(*d);
    p.mix = d->state.rop2;
    Stroke s(p, *d->state.pen);
    s.Line(d->X(from.x), d->Y(from.y), d->X(x), d->Y(y));
    return TRUE;
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return CLR_INVALID;
    Painter p(*d);
    int px = d->X(x), py = d->Y(y);
    if (!p.canvas || !p.Inside(px, py))
        return CLR_INVALID;
    p.Plot(px, py, ToPixel(color));
    return ToColor(p.canvas->Get(px, py));
}

COLORREF GetPixel(HDC dc, int x, int y) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return CLR_INVALID;
    Canvas* c = d->Target();
    int px = d->X(x), py = d->Y(y);
    if (!c || !d->ClipShape().Contains(px, py))
        return CLR_INVALID;
    c->BeforeUse();
    return ToColor(c->Get(px, py));
}

BOOL ExtFloodFill(HDC dc, int x, int y, COLORREF color, UINT type) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    Painter p(*d);
    int sx = d->X(x), sy = d->Y(y);
    if (!p.canvas || !p.Inside(sx, sy))
        return FALSE;
    Canvas& c = *p.canvas;
    uint32_t key = c.Mono() ? ToMono(ToPixel(color)) : ToPixel(color);
    auto fillable = [&](int px, int py) {
        uint32_t v = c.Get(px, py);
        return type == FLOODFILLSURFACE ? v == key : v != key;
    };
    if (!fillable(sx, sy))
        return FALSE;
    const Brush& brush = *d->state.brush;
    int w = p.clip.right - p.clip.left, h = p.clip.bottom - p.clip.top;
    std::vector<uint8_t> seen(static_cast<size_t>(w) * h, 0);
    auto mark = [&](int px, int py) -> uint8_t& {
        return seen[static_cast<size_t>(py - p.clip.top) * w + (px - p.clip.left)];
    };
    // Four-connected scanline fill; the region is found first, then painted, so a brush of the key colour
    // cannot make it run on.
    std::vector<POINT> stack{POINT{sx, sy}};
    std::vector<std::pair<int, std::pair<int, int>>> spans;
    while (!stack.empty()) {
        POINT pt = stack.back();
        stack.pop_back();
        if (mark(pt.x, pt.y) || !fillable(pt.x, pt.y))
            continue;
        int l = pt.x, r = pt.x;
        while (l - 1 >= p.clip.left && !mark(l - 1, pt.y) && fillable(l - 1, pt.y))
            --l;
        while (r + 1 < p.clip.right && !mark(r + 1, pt.y) && fillable(r + 1, pt.y))
            ++r;
        for (int i = l; i <= r; ++i)
            mark(i, pt.y) = 1;
        spans.push_back({pt.y, {l, r + 1}});
        for (int ny : {pt.y - 1, pt.y + 1}) {
            if (ny < p.clip.top || ny >= p.clip.bottom)
                continue;
            for (int i = l; i <= r; ++i)
                if (!mark(i, ny) && fillable(i, ny)) {
                    stack.push_back(POINT{i, ny});
                    while (i + 1 <= r && fillable(i + 1, ny))
                        ++i;
                }
        }
    }
    (void)h;
    for (auto& [row, range] : spans)
        p.BrushSpan(brush, row, range.first, range.second);
    return TRUE;
}

BOOL FloodFill(HDC dc, int x, int y, COLORREF border) {
    return ExtFloodFill(dc, x, y, border, FLOODFILLBORDER);
}

BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return FALSE;
    Painter p(*d);
    if (!p.canvas)
        return FALSE;
    RECT r = Normalized(d->X(x), d->Y(y), d->X(x + width), d->Y(y + height));
    IntersectRect(&r, &r, &p.clip);
    uint8_t code = static_cast<uint8_t>((rop >> 16) & 0xFF);
    const Brush& brush = *d->state.brush;
    for (int py = r.top; py < r.bottom; ++py)
        for (int px = r.left; px < r.right; ++px) {
            uint32_t pat = p.BrushPixel(brush, px, py).value_or(ToPixel(d->state.bk));
            if (p.canvas->Mono())
                pat = ToMono(pat);
            p.Plot(px, py, Rop3(code, pat, 0, p.canvas->Get(px, py)));
        }
    return TRUE;
}
