// CRect: a RECT with the framework's helpers.
//
// Stands in for the framework's rectangle class: the same members (left, top, right, bottom), constructors,
// helpers and operators, with the Windows rules (the right and bottom edges lie outside; a rectangle whose right
// is not beyond its left, or bottom beyond its top, is empty; & is the intersection and | the union). It
// converts to RECT, LPRECT and LPCRECT, so it goes wherever a RECT pointer is taken. Needs no window or drawing
// layer.
#pragma once

#include "platform/afx/Point.h"
#include "platform/afx/Size.h"
#include "platform/base/types.h"

#include <algorithm>

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    CRect(LPCRECT r) : RECT(r ? *r : RECT{0, 0, 0, 0}) {}
    CRect(POINT p, SIZE s) : RECT{p.x, p.y, p.x + s.cx, p.y + s.cy} {}
    CRect(POINT topLeft, POINT bottomRight) : RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y} {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint& TopLeft() { return *reinterpret_cast<CPoint*>(&left); }
    CPoint& BottomRight() { return *reinterpret_cast<CPoint*>(&right); }
    const CPoint& TopLeft() const { return *reinterpret_cast<const CPoint*>(&left); }
    const CPoint& BottomRight() const { return *reinterpret_cast<const CPoint*>(&right); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }

    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }

    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    BOOL IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    BOOL PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void SetRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void SetRect(POINT topLeft, POINT bottomRight) { SetRect(topLeft.x, topLeft.y, bottomRight.x, bottomRight.y); }
    void SetRectEmpty() { SetRect(0, 0, 0, 0); }
    void CopyRect(LPCRECT r) { *static_cast<RECT*>(this) = *r; }
    BOOL EqualRect(LPCRECT r) const {
        return left == r->left && top == r->top && right == r->right && bottom == r->bottom;
    }

    void InflateRect(int x, int y) { InflateRect(x, y, x, y); }
    void InflateRect(SIZE s) { InflateRect(s.cx, s.cy); }
    void InflateRect(LPCRECT r) { InflateRect(r->left, r->top, r->right, r->bottom); }
    void InflateRect(int l, int t, int r, int b) {
        left -= l;
        top -= t;
        right += r;
        bottom += b;
    }
    void DeflateRect(int x, int y) { InflateRect(-x, -y); }
    void DeflateRect(SIZE s) { InflateRect(-s.cx, -s.cy); }
    void DeflateRect(LPCRECT r) { InflateRect(-r->left, -r->top, -r->right, -r->bottom); }
    void DeflateRect(int l, int t, int r, int b) { InflateRect(-l, -t, -r, -b); }
    void OffsetRect(int x, int y) {
        left += x;
        right += x;
        top += y;
        bottom += y;
    }
    void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
    void OffsetRect(SIZE s) { OffsetRect(s.cx, s.cy); }
    void MoveToX(int x) {
        right = x + Width();
        left = x;
    }
    void MoveToY(int y) {
        bottom = y + Height();
        top = y;
    }
    void MoveToXY(int x, int y) {
        MoveToX(x);
        MoveToY(y);
    }
    void MoveToXY(POINT p) { MoveToXY(p.x, p.y); }
    void NormalizeRect() {
        if (left > right)
            std::swap(left, right);
        if (top > bottom)
            std::swap(top, bottom);
    }
    // The common part of two rectangles; empty (all zero) and FALSE when they do not overlap.
    BOOL IntersectRect(LPCRECT a, LPCRECT b) {
        CRect r(std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
                std::min(a->bottom, b->bottom));
        if (r.IsRectEmpty() || CRect(a).IsRectEmpty() || CRect(b).IsRectEmpty()) {
            SetRectEmpty();
            return FALSE;
        }
        *this = r;
        return TRUE;
    }
    // The smallest rectangle holding both; an empty one does not count.
    BOOL UnionRect(LPCRECT a, LPCRECT b) {
        CRect ra(a), rb(b);
        if (ra.IsRectEmpty() && rb.IsRectEmpty()) {
            SetRectEmpty();
            return FALSE;
        }
        if (ra.IsRectEmpty())
            *this = rb;
        else if (rb.IsRectEmpty())
            *this = ra;
        else
            SetRect(std::min(ra.left, rb.left), std::min(ra.top, rb.top), std::max(ra.right, rb.right),
                    std::max(ra.bottom, rb.bottom));
        return TRUE;
    }

    BOOL operator==(const RECT& r) const { return EqualRect(&r); }
    BOOL operator!=(const RECT& r) const { return !EqualRect(&r); }
    void operator+=(POINT p) { OffsetRect(p); }
    void operator+=(SIZE s) { OffsetRect(s); }
    void operator+=(LPCRECT r) { InflateRect(r); }
    void operator-=(POINT p) { OffsetRect(-p.x, -p.y); }
    void operator-=(SIZE s) { OffsetRect(-s.cx, -s.cy); }
    void operator-=(LPCRECT r) { DeflateRect(r); }
    void operator&=(const RECT& r) { IntersectRect(this, &r); }
    void operator|=(const RECT& r) { UnionRect(this, &r); }
    CRect operator+(POINT p) const {
        CRect r(*this);
        r.OffsetRect(p);
        return r;
    }
    CRect operator-(POINT p) const {
        CRect r(*this);
        r.OffsetRect(-p.x, -p.y);
        return r;
    }
    CRect operator+(SIZE s) const {
        CRect r(*this);
        r.OffsetRect(s);
        return r;
    }
    CRect operator-(SIZE s) const {
        CRect r(*this);
        r.OffsetRect(-s.cx, -s.cy);
        return r;
    }
    CRect operator&(const RECT& other) const {
        CRect r;
        r.IntersectRect(this, &other);
        return r;
    }
    CRect operator|(const RECT& other) const {
        CRect r;
        r.UnionRect(this, &other);
        return r;
    }
};
