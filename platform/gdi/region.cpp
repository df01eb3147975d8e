// Regions: the shape arithmetic, the region handles and what draws with them.
#include "platform/gdi/region.h"

#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::gdi {

namespace {

// Sorts spans and joins those that overlap or touch.
std::vector<Span> Normalize(std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end());
    std::vector<Span> out;
    for (const Span& s : spans) {
        if (s.first >= s.second)
            continue;
        if (!out.empty() && s.first <= out.back().second)
            out.back().second = std::max(out.back().second, s.second);
        else
            out.push_back(s);
    }
    return out;
}

bool Apply(int mode, bool a, bool b) {
    switch (mode) {
    case RGN_AND:
        return a && b;
    case RGN_OR:
        return a || b;
    case RGN_XOR:
        return a != b;
    case RGN_DIFF:
        return a && !b;
    default:
        return a;
    }
}

// The spans of one row of a and b combined.
std::vector<Span> CombineSpans(const std::vector<Span>* a, const std::vector<Span>* b, int mode) {
    static const std::vector<Span> none;
    const std::vector<Span>& sa = a ? *a : none;
    const std::vector<Span>& sb = b ? *b : none;
    std::vector<int> xs;
    for (const Span& s : sa) {
        xs.push_back(s.first);
        xs.push_back(s.second);
    }
    for (const Span& s : sb) {
        xs.push_back(s.first);
        xs.push_back(s.second);
    }
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    std::vector<Span> out;
    size_t ia = 0, ib = 0;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
        const int x = xs[i];
        while (ia < sa.size() && sa[ia].second <= x)
            ++ia;
        while (ib < sb.size() && sb[ib].second <= x)
            ++ib;
        const bool inA = ia < sa.size() && sa[ia].first <= x;
        const bool inB = ib < sb.size() && sb[ib].first <= x;
        if (!Apply(mode, inA, inB))
            continue;
        if (!out.empty() && out.back().second == x)
            out.back().second = xs[i + 1];
        else
            out.emplace_back(x, xs[i + 1]);
    }
    return out;
}

} // namespace

RegionShape::RegionShape(const RECT& rect) {
    if (rect.left < rect.right && rect.top < rect.bottom)
        m_bands.push_back(Band{rect.top, rect.bottom, {Span{rect.left, rect.right}}});
}

void RegionShape::Append(int top, int bottom, std::vector<Span> spans) {
    if (spans.empty() || top >= bottom)
        return;
    if (!m_bands.empty() && m_bands.back().bottom == top && m_bands.back().spans == spans) {
        m_bands.back().bottom = bottom;
        return;
    }
    m_bands.push_back(Band{top, bottom, std::move(spans)});
}

RegionShape RegionShape::FromRows(int top, std::vector<std::vector<Span>> rows) {
    RegionShape shape;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int y = top + static_cast<int>(i);
        shape.Append(y, y + 1, Normalize(std::move(rows[i])));
    }
    return shape;
}

RegionShape RegionShape::Combine(const RegionShape& a, const RegionShape& b, int mode) {
    if (mode == RGN_COPY)
        return a;
    std::vector<int> ys;
    for (const RegionShape* s : {&a, &b})
        for (const Band& band : s->m_bands) {
            ys.push_back(band.top);
            ys.push_back(band.bottom);
        }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    RegionShape out;
    for (size_t i = 0; i + 1 < ys.size(); ++i)
        out.Append(ys[i], ys[i + 1], CombineSpans(a.SpansAt(ys[i]), b.SpansAt(ys[i]), mode));
    return out;
}

int RegionShape::Complexity() const {
    if (m_bands.empty())
        return NULLREGION;
    return m_bands.size() == 1 && m_bands[0].spans.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

RECT RegionShape::Box() const {
    if (m_bands.empty())
        return RECT{};
    RECT box{m_bands.front().spans.front().first, m_bands.front().top, m_bands.front().spans.back().second,
             m_bands.back().bottom};
    for (const Band& band : m_bands) {
        box.left = std::min<LONG>(box.left, band.spans.front().first);
        box.right = std::max<LONG>(box.right, band.spans.back().second);
    }
    return box;
}

const std::vector<Span>* RegionShape::SpansAt(int y) const {
    auto it = std::upper_bound(m_bands.begin(), m_bands.end(), y,
                               [](int value, const Band& band) { return value < band.bottom; });
    if (it == m_bands.end() || y < it->top)
        return nullptr;
    return &it->spans;
}

bool RegionShape::Contains(int x, int y) const {
    const std::vector<Span>* spans = SpansAt(y);
    if (!spans)
        return false;
    auto it = std::upper_bound(spans->begin(), spans->end(), x,
                               [](int value, const Span& span) { return value < span.second; });
    return it != spans->end() && it->first <= x;
}

bool RegionShape::Touches(const RECT& rect) const {
    for (const Band& band : m_bands) {
        if (band.bottom <= rect.top || band.top >= rect.bottom)
            continue;
        for (const Span& s : band.spans)
            if (s.first < rect.right && s.second > rect.left)
                return true;
    }
    return false;
}

void RegionShape::Offset(int dx, int dy) {
    for (Band& band : m_bands) {
        band.top += dy;
        band.bottom += dy;
        for (Span& s : band.spans) {
            s.first += dx;
            s.second += dx;
        }
    }
}

std::vector<RECT> RegionShape::Rects() const {
    std::vector<RECT> rects;
    for (const Band& band : m_bands)
        for (const Span& s : band.spans)
            rects.push_back(RECT{s.first, band.top, s.second, band.bottom});
    return rects;
}

std::vector<std::vector<Span>> PolygonRows(const POINT* points, int count, int fillMode, int& top) {
    std::vector<std::vector<Span>> rows;
    if (!points || count < 2)
        return rows;
    LONG minY = points[0].y, maxY = points[0].y;
    for (int i = 0; i < count; ++i) {
        minY = std::min(minY, points[i].y);
        maxY = std::max(maxY, points[i].y);
    }
    top = minY;
    rows.resize(static_cast<size_t>(maxY - minY));
    struct Crossing {
        double x;
        int direction;
    };
    for (int y = minY; y < maxY; ++y) {
        // Pixels whose centres lie inside: crossings of the edges with the row's centre line.
        const double cy = y + 0.5;
        std::vector<Crossing> xs;
        for (int i = 0; i < count; ++i) {
            const POINT& a = points[i];
            const POINT& b = points[(i + 1) % count];
            if ((a.y <= cy && b.y > cy) || (b.y <= cy && a.y > cy))
                xs.push_back(
                    Crossing{a.x + (cy - a.y) * (b.x - a.x) / static_cast<double>(b.y - a.y), b.y > a.y ? 1 : -1});
        }
        std::sort(xs.begin(), xs.end(), [](const Crossing& l, const Crossing& r) { return l.x < r.x; });
        auto pixel = [](double x) { return static_cast<int>(std::ceil(x - 0.5)); };
        std::vector<Span>& row = rows[static_cast<size_t>(y - minY)];
        if (fillMode == WINDING) {
            int winding = 0;
            for (size_t i = 0; i + 1 < xs.size(); ++i) {
                winding += xs[i].direction;
                if (winding != 0)
                    row.emplace_back(pixel(xs[i].x), pixel(xs[i + 1].x));
            }
        } else {
            for (size_t i = 0; i + 1 < xs.size(); i += 2)
                row.emplace_back(pixel(xs[i].x), pixel(xs[i + 1].x));
        }
    }
    return rows;
}

std::vector<std::vector<Span>> ShapeRows(const RECT& box, const std::function<bool(double, double)>& inside) {
    std::vector<std::vector<Span>> rows;
    if (box.right <= box.left || box.bottom <= box.top)
        return rows;
    rows.resize(static_cast<size_t>(box.bottom - box.top));
    for (int y = box.top; y < box.bottom; ++y) {
        std::vector<Span>& row = rows[static_cast<size_t>(y - box.top)];
        for (int x = box.left; x < box.right; ++x) {
            if (!inside(x + 0.5, y + 0.5))
                continue;
            if (!row.empty() && row.back().second == x)
                ++row.back().second;
            else
                row.emplace_back(x, x + 1);
        }
    }
    return rows;
}

std::shared_ptr<Region> FindRegion(HRGN region) {
    return Find<Region>(region, Kind::Region);
}

HRGN AddRegion(RegionShape shape) {
    auto r = std::make_shared<Region>();
    r->shape = std::move(shape);
    return static_cast<HRGN>(AddObject(r));
}

} // namespace platform::gdi

using namespace platform::gdi;

namespace {

template <class T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}

HRGN ShapeRegion(int left, int top, int right, int bottom, const std::function<bool(double, double)>& inside) {
    RECT box{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    return AddRegion(RegionShape::FromRows(box.top, ShapeRows(box, inside)));
}

} // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    std::lock_guard lock(Lock());
    return AddRegion(
        RegionShape(RECT{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)}));
}

HRGN CreateRectRgnIndirect(const RECT* rect) {
    if (!rect)
        return Fail(ERROR_INVALID_PARAMETER, HRGN{});
    return CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom);
}

HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int width, int height) {
    std::lock_guard lock(Lock());
    RECT box{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    return ShapeRegion(box.left, box.top, box.right, box.bottom, RoundRectTest(box, width, height));
}

HRGN CreateEllipticRgn(int left, int top, int right, int bottom) {
    std::lock_guard lock(Lock());
    RECT box{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    return ShapeRegion(box.left, box.top, box.right, box.bottom, EllipseTest(box));
}

HRGN CreateEllipticRgnIndirect(const RECT* rect) {
    if (!rect)
        return Fail(ERROR_INVALID_PARAMETER, HRGN{});
    return CreateEllipticRgn(rect->left, rect->top, rect->right, rect->bottom);
}

HRGN CreatePolygonRgn(const POINT* points, int count, int fillMode) {
    if (!points || count < 2 || (fillMode != ALTERNATE && fillMode != WINDING))
        return Fail(ERROR_INVALID_PARAMETER, HRGN{});
    std::lock_guard lock(Lock());
    int top = 0;
    auto rows = PolygonRows(points, count, fillMode, top);
    return AddRegion(RegionShape::FromRows(top, std::move(rows)));
}

int CombineRgn(HRGN destination, HRGN source1, HRGN source2, int mode) {
    std::lock_guard lock(Lock());
    auto d = FindRegion(destination);
    auto a = FindRegion(source1);
    auto b = mode == RGN_COPY ? a : FindRegion(source2);
    if (!d || !a || !b)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    if (mode < RGN_AND || mode > RGN_COPY)
        return Fail(ERROR_INVALID_PARAMETER, ERROR);
    d->shape = RegionShape::Combine(a->shape, b->shape, mode);
    return d->shape.Complexity();
}

BOOL EqualRgn(HRGN region1, HRGN region2) {
    std::lock_guard lock(Lock());
    auto a = FindRegion(region1);
    auto b = FindRegion(region2);
    if (!a || !b)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    return a->shape == b->shape;
}

int OffsetRgn(HRGN region, int dx, int dy) {
    std::lock_guard lock(Lock());
    auto r = FindRegion(region);
    if (!r)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    r->shape.Offset(dx, dy);
    return r->shape.Complexity();
}

int GetRgnBox(HRGN region, LPRECT rect) {
    std::lock_guard lock(Lock());
    auto r = FindRegion(region);
    if (!r || !rect)
        return Fail(ERROR_INVALID_HANDLE, ERROR);
    *rect = r->shape.Box();
    return r->shape.Complexity();
}

BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom) {
    std::lock_guard lock(Lock());
    auto r = FindRegion(region);
    if (!r)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    r->shape =
        RegionShape(RECT{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)});
    return TRUE;
}

BOOL PtInRegion(HRGN region, int x, int y) {
    std::lock_guard lock(Lock());
    auto r = FindRegion(region);
    if (!r)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    return r->shape.Contains(x, y);
}

BOOL RectInRegion(HRGN region, const RECT* rect) {
    std::lock_guard lock(Lock());
    auto r = FindRegion(region);
    if (!r || !rect)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    RECT n{std::min(rect->left, rect->right), std::min(rect->top, rect->bottom), std::max(rect->left, rect->right),
           std::max(rect->top, rect->bottom)};
    return r->shape.Touches(n);
}

DWORD GetRegionData(HRGN region, DWORD size, LPRGNDATA data) {
    std::lock_guard lock(Lock());
    auto r = FindRegion(region);
    if (!r)
        return Fail(ERROR_INVALID_HANDLE, DWORD{0});
    const std::vector<RECT> rects = r->shape.Rects();
    const DWORD needed = static_cast<DWORD>(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
    if (!data)
        return needed;
    if (size < needed)
        return Fail(ERROR_MORE_DATA, DWORD{0});
    data->rdh.dwSize = sizeof(RGNDATAHEADER);
    data->rdh.iType = RDH_RECTANGLES;
    data->rdh.nCount = static_cast<DWORD>(rects.size());
    data->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
    data->rdh.rcBound = r->shape.Box();
    if (!rects.empty())
        std::memcpy(data->Buffer, rects.data(), rects.size() * sizeof(RECT));
    return needed;
}

BOOL FillRgn(HDC dc, HRGN region, HBRUSH brush) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    auto r = FindRegion(region);
    auto b = FindBrush(brush);
    if (!d || !r || !b)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    Painter p(*d);
    for (const RECT& rc : r->shape.Rects())
        p.FillRect(RECT{d->X(rc.left), d->Y(rc.top), d->X(rc.right), d->Y(rc.bottom)}, *b);
    return TRUE;
}

BOOL FrameRgn(HDC dc, HRGN region, HBRUSH brush, int width, int height) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    auto r = FindRegion(region);
    auto b = FindBrush(brush);
    if (!d || !r || !b)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (width <= 0 || height <= 0)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // The frame is the part of the region nearer to its outside than the width (across) or the height (down):
    // the region less the region shrunk by both.
    RegionShape inner = r->shape;
    for (auto [dx, dy] : {Span{width, 0}, Span{-width, 0}, Span{0, height}, Span{0, -height}}) {
        RegionShape moved = r->shape;
        moved.Offset(dx, dy);
        inner = RegionShape::Combine(inner, moved, RGN_AND);
    }
    const RegionShape frame = RegionShape::Combine(r->shape, inner, RGN_DIFF);
    Painter p(*d);
    for (const RECT& rc : frame.Rects())
        p.FillRect(RECT{d->X(rc.left), d->Y(rc.top), d->X(rc.right), d->Y(rc.bottom)}, *b);
    return TRUE;
}
