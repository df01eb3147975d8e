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

HDC WindowSurface::CreateDC(POINT origin, const RECT& bounds, HRGN shape) const {
    std::lock_guard lock(Lock());
    HDC dc = CreateWindowCanvasDC(m_canvas, origin, bounds);
    if (auto region = shape ? FindRegion(shape) : nullptr)
        FindDc(dc)->visible = region->shape;
    return dc;
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

// Copies `src` (canvas pixels) of one canvas to (x, y) of another, within `clip` and, when given, `shape` (in the
// destination's pixels).
void CopyPixels(Canvas& dst, int x, int y, Canvas& src, RECT srcRect, const RECT& clip,
                const RegionShape* shape = nullptr) {
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
            if (!shape || shape->Contains(tx, ty))
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
    const RegionShape shape = d->ClipShape();
    CopyPixels(*d->Target(), d->X(x), d->Y(y), src, srcRect, shape.Box(),
               shape.Complexity() == COMPLEXREGION ? &shape : nullptr);
    return true;
}

namespace {

// Writes the picture with the layered look as its alpha channel (cairo keeps colours premultiplied by alpha).
bool WriteLayeredPng(Canvas& canvas, const LayeredLook& look, const std::string& hostPath) {
    canvas.BeforeUse();
    cairo_surface_flush(canvas.Surface());
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, canvas.Width(), canvas.Height());
    if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(out);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    cairo_surface_flush(out);
    const uint32_t key = ToPixel(look.key) & 0xFFFFFFu;
    const uint32_t alpha = look.alpha;
    std::shared_ptr<Region> shape = look.shape ? FindRegion(look.shape) : nullptr;
    unsigned char* data = cairo_image_surface_get_data(out);
    const int stride = cairo_image_surface_get_stride(out);
    for (int y = 0; y < canvas.Height(); ++y) {
        const uint32_t* src = canvas.Row(y);
        auto* dst = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < canvas.Width(); ++x) {
            const uint32_t p = src[x] & 0xFFFFFFu;
            if ((look.keyed && p == key) || (shape && !shape->shape.Contains(x, y))) {
                dst[x] = 0;
                continue;
            }
            const uint32_t r = ((p >> 16) & 0xFF) * alpha / 255, g = ((p >> 8) & 0xFF) * alpha / 255,
                           b = (p & 0xFF) * alpha / 255;
            dst[x] = (alpha << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(out);
    const bool ok = cairo_surface_write_to_png(out, hostPath.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(out);
    if (!ok)
        SetLastError(ERROR_CANTWRITE);
    return ok;
}

} // namespace

bool ComposePng(int width, int height, const std::vector<SurfaceLayer>& layers, const std::string& hostPath,
                COLORREF fill, const LayeredLook* look) {
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
        std::optional<RegionShape> shape;
        if (auto region = layer.shape ? FindRegion(layer.shape) : nullptr) {
            shape = region->shape;
            shape->Offset(layer.position.x, layer.position.y);
        }
        CopyPixels(dst, layer.position.x, layer.position.y, src, RECT{0, 0, src.Width(), src.Height()}, layer.clip,
                   shape ? &*shape : nullptr);
    }
    if (look)
        return WriteLayeredPng(dst, *look, hostPath);
    return WritePng(dst, hostPath);
}

bool ComposeOnto(cairo_surface_t* target, int width, int height, POINT origin, const std::vector<SurfaceLayer>& layers,
                 COLORREF fill) {
    if (!target || cairo_surface_status(target) != CAIRO_STATUS_SUCCESS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard lock(Lock());
    cairo_t* cr = cairo_create(target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(cr, GetRValue(fill) / 255.0, GetGValue(fill) / 255.0, GetBValue(fill) / 255.0);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_fill(cr);
    for (const SurfaceLayer& layer : layers) {
        if (!layer.surface || !layer.surface->Pixels()->Valid())
            continue;
        Canvas& src = *layer.surface->Pixels();
        src.BeforeUse();
        cairo_surface_flush(src.Surface());
        // The layer's own extent cut to its clip, in target pixels.
        RECT area{layer.position.x, layer.position.y, layer.position.x + src.Width(), layer.position.y + src.Height()};
        if (!IntersectRect(&area, &area, &layer.clip))
            continue;
        cairo_save(cr);
        cairo_rectangle(cr, area.left - origin.x, area.top - origin.y, area.right - area.left, area.bottom - area.top);
        cairo_clip(cr);
        // A shaped window shows only inside its shape.
        if (auto region = layer.shape ? FindRegion(layer.shape) : nullptr) {
            const int dx = layer.position.x - origin.x, dy = layer.position.y - origin.y;
            for (const RECT& r : region->shape.Rects())
                cairo_rectangle(cr, r.left + dx, r.top + dy, r.right - r.left, r.bottom - r.top);
            cairo_clip(cr);
        }
        cairo_set_source_surface(cr, src.Surface(), layer.position.x - origin.x, layer.position.y - origin.y);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(target);
    return true;
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
