// Regions as the drawing layer keeps them: sets of pixels in horizontal bands, private to the layer.
//
// A shape is a list of bands ordered from the top; each band covers the rows [top, bottom) and holds the spans
// [left, right) of its pixels, ordered and neither overlapping nor touching. Bands never overlap, none is empty,
// and two bands that touch never hold the same spans (they are one band then), so two shapes of the same pixels
// are equal member for member. Region handles (HRGN), the clipping of device contexts and the shapes of windows
// are all made of it.
#pragma once

#include "platform/gdi/rect.h"

#include <utility>
#include <vector>

namespace platform::gdi {

using Span = std::pair<int, int>;

struct Band {
    int top = 0;
    int bottom = 0;
    std::vector<Span> spans;
    bool operator==(const Band&) const = default;
};

class RegionShape {
public:
    RegionShape() = default;
    explicit RegionShape(const RECT& rect);
    // One row of spans per scan line from `top` downwards; the spans of a row may come in any order and overlap.
    static RegionShape FromRows(int top, std::vector<std::vector<Span>> rows);

    // The operations of CombineRgn: RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF (a without b).
    static RegionShape Combine(const RegionShape& a, const RegionShape& b, int mode);

    bool Empty() const { return m_bands.empty(); }
    // NULLREGION, SIMPLEREGION (one rectangle) or COMPLEXREGION.
    int Complexity() const;
    RECT Box() const;
    bool Contains(int x, int y) const;
    // Whether any pixel of the rectangle belongs to the shape.
    bool Touches(const RECT& rect) const;
    // The spans of row y, or null when the row is empty.
    const std::vector<Span>* SpansAt(int y) const;
    void Offset(int dx, int dy);
    // The shape as rectangles, band by band from the top and left to right.
    std::vector<RECT> Rects() const;
    const std::vector<Band>& Bands() const { return m_bands; }
    bool operator==(const RegionShape&) const = default;

private:
    void Append(int top, int bottom, std::vector<Span> spans);
    std::vector<Band> m_bands;
};

} // namespace platform::gdi
