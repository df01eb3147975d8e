// CSize: a SIZE with arithmetic.
//
// Stands in for the framework's size class: the same members (cx, cy), constructors and operators. It converts to and
// from SIZE freely.
#pragma once

#include "platform/base/types.h"

class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int x, int y) : SIZE{x, y} {}
    CSize(SIZE s) : SIZE(s) {}
    CSize(POINT p) : SIZE{p.x, p.y} {}
    explicit CSize(DWORD packed) : SIZE{static_cast<SHORT>(LOWORD(packed)), static_cast<SHORT>(HIWORD(packed))} {}

    BOOL operator==(SIZE s) const { return cx == s.cx && cy == s.cy; }
    BOOL operator!=(SIZE s) const { return !(*this == s); }
    void operator+=(SIZE s) {
        cx += s.cx;
        cy += s.cy;
    }
    void operator-=(SIZE s) {
        cx -= s.cx;
        cy -= s.cy;
    }
    void SetSize(int x, int y) {
        cx = x;
        cy = y;
    }
    CSize operator+(SIZE s) const { return CSize(cx + s.cx, cy + s.cy); }
    CSize operator-(SIZE s) const { return CSize(cx - s.cx, cy - s.cy); }
    CSize operator-() const { return CSize(-cx, -cy); }
};
