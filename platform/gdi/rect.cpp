#include "platform/gdi/rect.h"

#include <algorithm>
#include <cmath>

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
    if (!rect)
        return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL SetRectEmpty(LPRECT rect) {
    return SetRect(rect, 0, 0, 0, 0);
}

BOOL CopyRect(LPRECT dst, const RECT* src) {
    if (!dst || !src)
        return FALSE;
    *dst = *src;
    return TRUE;
}

BOOL InflateRect(LPRECT rect, int dx, int dy) {
    if (!rect)
        return FALSE;
    rect->left -= dx;
    rect->top -= dy;
    rect->right += dx;
    rect->bottom += dy;
    return TRUE;
}

BOOL OffsetRect(LPRECT rect, int dx, int dy) {
    if (!rect)
        return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL IsRectEmpty(const RECT* rect) {
    return !rect || rect->right <= rect->left || rect->bottom <= rect->top;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top && point.y < rect->bottom;
}

BOOL EqualRect(const RECT* a, const RECT* b) {
    return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

BOOL IntersectRect(LPRECT dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b)
        return FALSE;
    RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
           std::min(a->bottom, b->bottom)};
    if (IsRectEmpty(&r) || IsRectEmpty(a) || IsRectEmpty(b)) {
        *dst = RECT{};
        return FALSE;
    }
    *dst = r;
    return TRUE;
}

BOOL UnionRect(LPRECT dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b)
        return FALSE;
    bool emptyA = IsRectEmpty(a), emptyB = IsRectEmpty(b);
    if (emptyA && emptyB) {
        *dst = RECT{};
        return FALSE;
    }
    if (emptyA) {
        *dst = *b;
        return TRUE;
    }
    if (emptyB) {
        *dst = *a;
        return TRUE;
    }
    *dst = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
    return TRUE;
}

BOOL SubtractRect(LPRECT dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b)
        return FALSE;
    RECT r = *a;
    RECT cut;
    if (IntersectRect(&cut, a, b)) {
        // Only a cut that spans a whole side of `a` leaves a rectangle.
        if (cut.top == a->top && cut.bottom == a->bottom) {
            if (cut.left == a->left)
                r.left = cut.right;
            else if (cut.right == a->right)
                r.right = cut.left;
        } else if (cut.left == a->left && cut.right == a->right) {
            if (cut.top == a->top)
                r.top = cut.bottom;
            else if (cut.bottom == a->bottom)
                r.bottom = cut.top;
        }
    }
    if (IsRectEmpty(&r)) {
        *dst = RECT{};
        return FALSE;
    }
    *dst = r;
    return TRUE;
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    long long product = static_cast<long long>(number) * numerator;
    // Rounds half away from zero, as Windows does.
    long long half = std::llabs(static_cast<long long>(denominator)) / 2;
    long long result = (product >= 0) == (denominator > 0)
                           ? (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator))
                           : -((std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator)));
    if (result > 0x7FFFFFFF || result < -0x7FFFFFFFLL - 1)
        return -1;
    return static_cast<int>(result);
}
