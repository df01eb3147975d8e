// Window surfaces: the pixels a window paints into, and saving pixels as PNG files.
//
// Stands in for the screen. There is none: each window owns a WindowSurface the size of its window rectangle
// (frame and client area) and keeps what it painted there, so a window's picture survives without repainting and
// does not depend on the order in which windows paint. The window layer makes device contexts on the surface for
// GetDC, GetWindowDC and BeginPaint (CreateDC, with the logical origin at the client area's corner and drawing
// cut to the client area or the part being painted), and a picture of a window with its children is composed by
// drawing each window's surface at its place (DrawSurface or Compose). Host paths are UTF-8.
#pragma once

#include "platform/base/types.h"

#include <memory>
#include <string>
#include <vector>

using cairo_surface_t = struct _cairo_surface;

namespace platform::gdi {

class Canvas;

class WindowSurface {
public:
    // A surface of the given size, filled with `fill` (a COLORREF).
    WindowSurface(int width, int height, COLORREF fill = 0xFFFFFF);
    ~WindowSurface();
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    int Width() const;
    int Height() const;
    // Keeps the pixels that still fit; new pixels take `fill`. DCs made earlier draw into the resized surface.
    bool Resize(int width, int height, COLORREF fill = 0xFFFFFF);

    // A device context whose logical (0, 0) is the surface pixel `origin` and that draws only into `bounds`
    // (surface pixels, cut to the surface). Free it with DeleteDC. The DC keeps the surface's pixels alive.
    HDC CreateDC(POINT origin, const RECT& bounds) const;
    // The same, drawing only into the pixels of `shape` too (a region in surface pixels; null: no shape). The DC
    // keeps its own copy of the shape.
    HDC CreateDC(POINT origin, const RECT& bounds, HRGN shape) const;
    // A DC over the whole surface with the origin at its corner.
    HDC CreateDC() const;

    COLORREF GetPixel(int x, int y) const;
    bool SavePng(const std::string& hostPath) const;

    // The layer's own view of the pixels.
    const std::shared_ptr<Canvas>& Pixels() const { return m_canvas; }

private:
    std::shared_ptr<Canvas> m_canvas;
};

// Copies a surface (or the part `source` of it, in surface pixels) to logical (x, y) of a DC, within the DC's
// clipping. Returns false for an invalid DC.
bool DrawSurface(HDC dc, int x, int y, const WindowSurface& surface, const RECT* source = nullptr);

// One window of a composed picture: its surface, where it lands, and the part of the picture it may cover (for a
// child window: its parent's client area, cut by the parent's own limits).
struct SurfaceLayer {
    const WindowSurface* surface;
    POINT position;
    RECT clip;
    // The window's shape (its window region) in surface pixels: only these pixels show. Null: the whole surface.
    HRGN shape = nullptr;
};
// How a layered or shaped window shows: pixels of the key colour are transparent (with `keyed`), the others take the
// window's alpha (0 transparent .. 255 opaque).
struct LayeredLook {
    bool keyed = false;
    COLORREF key = 0;
    BYTE alpha = 255;
    // A shaped window: pixels outside the region (picture pixels) are transparent. Null: no shape.
    HRGN shape = nullptr;
};
// Draws the layers in order (parents before children, children bottom of the Z order first) into a picture of
// the given size, whose pixels no layer covers take `fill`, and saves it as a PNG file. With a look, the picture
// is saved with an alpha channel that carries it.
bool ComposePng(int width, int height, const std::vector<SurfaceLayer>& layers, const std::string& hostPath,
                COLORREF fill = 0xFFFFFF, const LayeredLook* look = nullptr);

// Draws the layers in order onto a cairo surface of the caller (a window on a display), with picture pixel
// `origin` at the surface's corner; pixels that no layer covers take `fill`. The copy is exact: no scaling, no
// blending.
bool ComposeOnto(cairo_surface_t* target, int width, int height, POINT origin, const std::vector<SurfaceLayer>& layers,
                 COLORREF fill);

// Saves what a DC draws into: a memory DC's selected bitmap or a window DC's surface.
bool SaveDCPng(HDC dc, const std::string& hostPath);
bool SaveBitmapPng(HBITMAP bitmap, const std::string& hostPath);

} // namespace platform::gdi
