// Rectangle and point helpers: SetRect, InflateRect, IntersectRect and the rest.
//
// Stands in for the rectangle functions of USER, with the same rules: a rectangle (l, t, r, b) holds the points
// l <= x < r and t <= y < b, so it is empty when r <= l or b <= t; IntersectRect and UnionRect return FALSE (and an
// empty rectangle from IntersectRect) when the result is empty; a null pointer argument gives FALSE.
#pragma once

#include "platform/base/types.h"

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom);
BOOL SetRectEmpty(LPRECT rect);
BOOL CopyRect(LPRECT dst, const RECT* src);
BOOL InflateRect(LPRECT rect, int dx, int dy);
BOOL OffsetRect(LPRECT rect, int dx, int dy);
BOOL IsRectEmpty(const RECT* rect);
BOOL PtInRect(const RECT* rect, POINT point);
BOOL EqualRect(const RECT* a, const RECT* b);
BOOL IntersectRect(LPRECT dst, const RECT* a, const RECT* b);
BOOL UnionRect(LPRECT dst, const RECT* a, const RECT* b);
BOOL SubtractRect(LPRECT dst, const RECT* a, const RECT* b);
int MulDiv(int number, int numerator, int denominator);
