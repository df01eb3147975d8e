// Test helpers of the drawing layer: a memory DC with a colour bitmap, and its pixels as text.
#pragma once

#include "platform/gdi/rect.h"
#include "platform/gdi/wingdi.h"

#include <initializer_list>
#include <string>

namespace platform::gdi::test {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

// A memory DC with a colour bitmap of its own, filled white.
class Canvas {
public:
    Canvas(int width, int height) : m_width(width), m_height(height) {
        HDC screen = CreateCompatibleDC(nullptr);
        m_bitmap = CreateBitmap(width, height, 1, 32, nullptr);
        DeleteDC(screen);
        m_dc = CreateCompatibleDC(nullptr);
        m_old = SelectObject(m_dc, m_bitmap);
        Fill(kWhite);
    }
    ~Canvas() {
        SelectObject(m_dc, m_old);
        DeleteDC(m_dc);
        DeleteObject(m_bitmap);
    }
    HDC dc() const { return m_dc; }
    HBITMAP bitmap() const { return m_bitmap; }
    void Fill(COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        RECT r{0, 0, m_width, m_height};
        FillRect(m_dc, &r, b);
        DeleteObject(b);
    }
    // The picture as text: one character per pixel, '#' for `ink`, '.' for white, '?' for anything else.
    std::string Picture(COLORREF ink = kBlack) const {
        std::string out;
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                COLORREF c = GetPixel(m_dc, x, y);
                out += c == ink ? '#' : c == kWhite ? '.' : '?';
            }
            out += '\n';
        }
        return out;
    }
    int Count(COLORREF c) const {
        int n = 0;
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x)
                n += GetPixel(m_dc, x, y) == c;
        return n;
    }

private:
    int m_width, m_height;
    HBITMAP m_bitmap;
    HDC m_dc;
    HGDIOBJ m_old;
};

inline bool Is(const RECT& r, LONG l, LONG t, LONG rr, LONG b) {
    return r.left == l && r.top == t && r.right == rr && r.bottom == b;
}

inline std::string Rows(std::initializer_list<const char*> rows) {
    std::string out;
    for (const char* r : rows)
        out += std::string(r) + "\n";
    return out;
}

} // namespace platform::gdi::test
