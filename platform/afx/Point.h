// CPoint: a POINT with arithmetic.
//
// Stands in for the framework's point class: the same members (x, y), constructors (also from a packed lParam, whose
// words are signed coordinates) and operators. It converts to and from POINT freely.
#pragma once

#include "platform/afx/Size.h"
#include "platform/base/types.h"

class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int ix, int iy) : POINT{ix, iy} {}
    CPoint(POINT p) : POINT(p) {}
    CPoint(SIZE s) : POINT{s.cx, s.cy} {}
    explicit CPoint(LPARAM packed) : POINT{static_cast<SHORT>(LOWORD(packed)), static_cast<SHORT>(HIWORD(packed))} {}

    void Offset(int dx, int dy) {
        x += dx;
        y += dy;
    }
    void Offset(POINT p) { Offset(p.x, p.y); }
    void Offset(SIZE s) { Offset(s.cx, s.cy); }
    void SetPoint(int ix, int iy) {
        x = ix;
        y = iy;
    }
    BOOL operator==(POINT p) const { return x == p.x && y == p.y; }
    BOOL operator!=(POINT p) const { return !(*this == p); }
    void operator+=(SIZE s) { Offset(s); }
    void operator-=(SIZE s) { Offset(-s.cx, -s.cy); }
    void operator+=(POINT p) { Offset(p); }
    void operator-=(POINT p) { Offset(-p.x, -p.y); }
    CPoint operator+(SIZE s) const { return CPoint(x + s.cx, y + s.cy); }
    CPoint operator-(SIZE s) const { return CPoint(x - s.cx, y - s.cy); }
    CPoint operator+(POINT p) const { return CPoint(x + p.x, y + p.y); }
    // The difference of two points is a size.
    CSize operator-(POINT p) const { return CSize(x - p.x, y - p.y); }
    CPoint operator-() const { return CPoint(-x, -y); }
};
