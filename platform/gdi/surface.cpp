// Window surfaces and PNG files.
#include "platform/gdi/surface.h"

#include "platform/base/errors.h"
#include "platform/gdi/gdi_internal.h"

#include <algorithm>

namespace platform::gdi {

WindowSurface::WindowSurface(int width, int height, COLORREF fill)
    : m_canvas(std::make_shared<Canvas>(std::max(0, width), std::max(0, height), false)) {
    std::lock_guard lock(Lock());
    if (!m_canvas->Valid())
        return;
    uint32_t p = ToPixel(fill);
    for (int y = 0; y < m_canvas->Height(); ++y)
        std::fill(m_canvas->Row(y), m_canvas->Row(y) + m_canvas->Width(), p);
    m_canvas->Changed();
}

WindowSurface::~WindowSurface() = default;

int WindowSurface::Width() const {
    return m_canvas->Width();
}
int WindowSurface::Height() const {
    return m_canvas->Height();
}

bool WindowSurface::Resize(int width, int height, COLORREF fill) {
    std::lock_guard lock(Lock());
    return m_canvas->Resize(std::max(0, width), std::max(0, height), ToPixel(fill));
}

HDC WindowSurface::CreateDC(POINT origin, const RECT& bounds) const {
    return CreateWindowCanvasDC(m_canvas, origin, bounds);
}

HDC WindowSurface::CreateDC() const {
    return CreateWindowCanvasDC(m_canvas, POINT{0, 0}, RECT{0, 0, 32767, 32767});
}

COLORREF WindowSurface::GetPixel(int x, int y) const {
    std::lock_guard lock(Lock());
    if (!m_canvas->Valid() || x < 0 || y < 0 || x >= m_canvas->Width() || y >= m_canvas->Height())
        return CLR_INVALID;
    return ToColor(m_canvas->Get(x, y));
}

namespace {

bool WritePng(Canvas& canvas, const std::string& hostPath) {
    if (!canvas.Valid() || canvas.Width() == 0 || canvas.Height() == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    canvas.BeforeUse();
    cairo_surface_flush(canvas.Surface());
    if (cairo_surface_write_to_png(canvas.Surface(), hostPath.c_str()) != CAIRO_STATUS_SUCCESS) {
        SetLastError(ERROR_CANTWRITE);
        return false;
    }
    return true;
}

// Copies `src` (canvas pixels) of one canvas to (x, y) of another, within `clip`.
void CopyPixels(Canvas& dst, int x, int y, Canvas& src, RECT srcRect, const RECT& clip) {
    RECT whole{0, 0, src.Width(), src.Height()};
    if (!IntersectRect(&srcRect, &srcRect, &whole))
        return;
    src.BeforeUse();
    RECT target{x, y, x + (srcRect.right - srcRect.left), y + (srcRect.bottom - srcRect.top)};
    RECT dstWhole{0, 0, dst.Width(), dst.Height()};
    if (!IntersectRect(&target, &target, &clip) || !IntersectRect(&target, &target, &dstWhole))
        return;
    for (int ty = target.top; ty < target.bottom; ++ty) {
        const uint32_t* s = src.Row(srcRect.top + ty - y);
        for (int tx = target.left; tx < target.right; ++tx)
            dst.Put(tx, ty, s[srcRect.left + tx - x]);
    }
    dst.Changed();
    dst.AfterChange();
}

} // namespace

bool WindowSurface::SavePng(const std::string& hostPath) const {
    std::lock_guard lock(Lock());
    return WritePng(*m_canvas, hostPath);
}

bool DrawSurface(HDC dc, int x, int y, const WindowSurface& surface, const RECT* source) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d || !d->Target()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    Canvas& src = *surface.Pixels();
    RECT srcRect = source ? *source : RECT{0, 0, src.Width(), src.Height()};
    if (!src.Valid())
        return true;
    CopyPixels(*d->Target(), d->X(x), d->Y(y), src, srcRect, d->Clip());
    return true;
}

bool ComposePng(int width, int height, const std::vector<SurfaceLayer>& layers, const std::string& hostPath,
                COLORREF fill) {
    WindowSurface picture(width, height, fill);
    std::lock_guard lock(Lock());
    Canvas& dst = *picture.Pixels();
    if (!dst.Valid()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    for (const SurfaceLayer& layer : layers) {
        if (!layer.surface || !layer.surface->Pixels()->Valid())
            continue;
        Canvas& src = *layer.surface->Pixels();
        CopyPixels(dst, layer.position.x, layer.position.y, src, RECT{0, 0, src.Width(), src.Height()}, layer.clip);
    }
    return WritePng(dst, hostPath);
}

bool SaveDCPng(HDC dc, const std::string& hostPath) {
    std::lock_guard lock(Lock());
    DcPtr d = FindDc(dc);
    if (!d || !d->Target()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return WritePng(*d->Target(), hostPath);
}

bool SaveBitmapPng(HBITMAP bitmap, const std::string& hostPath) {
    std::lock_guard lock(Lock());
    BitmapPtr b = Find<Bitmap>(bitmap, Kind::Bitmap);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return WritePng(*b, hostPath);
}

} // namespace platform::gdi
