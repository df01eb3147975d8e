// The "Static" class: text, icons, bitmaps, rectangles and etched frames.
#include "platform/ui/controls_internal.h"

#include "platform/base/errors.h"

namespace platform::ui::stdctl {

namespace {

struct StaticData {
    HANDLE image = nullptr;
    WPARAM imageType = IMAGE_BITMAP;
    HBITMAP loadedBitmap = nullptr; // the bitmap the control loaded itself, freed with it
};

DWORD Type(HWND hwnd) {
    return Style(hwnd) & SS_TYPEMASK;
}

bool IsImageType(DWORD type) {
    return type == SS_ICON || type == SS_BITMAP;
}

// Sets the image and returns the previous one of that kind.
HANDLE SetImage(HWND hwnd, StaticData& d, WPARAM kind, HANDLE image) {
    const DWORD type = Type(hwnd);
    if (!IsImageType(type))
        return nullptr;
    if ((type == SS_ICON && kind != IMAGE_ICON && kind != IMAGE_CURSOR) || (type == SS_BITMAP && kind != IMAGE_BITMAP))
        return nullptr;
    HANDLE old = d.image;
    d.image = image;
    d.imageType = kind;
    InvalidateRect(hwnd, nullptr, TRUE);
    return old;
}

// An image static created with a text names its image in the creating module: "#503" or a resource name. Icons
// are shared (they are never freed), a bitmap belongs to the control. The control takes the image's size unless it
// centres or stretches the image. A name that finds nothing leaves the control empty.
void LoadNamedImage(HWND hwnd, StaticData& d, const CREATESTRUCTW& cs) {
    const DWORD type = Type(hwnd);
    if (!IsImageType(type) || !cs.lpszName || IS_INTRESOURCE(cs.lpszName) || !*cs.lpszName)
        return;
    const DWORD error = GetLastError();
    HANDLE image = nullptr;
    WPARAM kind = IMAGE_BITMAP;
    int width = 0, height = 0;
    if (type == SS_ICON) {
        const UINT size = (Style(hwnd) & SS_REALSIZEIMAGE) ? 0 : LR_DEFAULTSIZE;
        kind = IMAGE_ICON;
        image = LoadImageW(cs.hInstance, cs.lpszName, IMAGE_ICON, 0, 0, LR_SHARED | size);
        if (!image) {
            kind = IMAGE_CURSOR;
            image = LoadImageW(cs.hInstance, cs.lpszName, IMAGE_CURSOR, 0, 0, LR_SHARED | size);
        }
        ICONINFO info{};
        if (image && GetIconInfo(reinterpret_cast<HICON>(image), &info)) {
            BITMAP bm{};
            if (GetObjectW(info.hbmMask, sizeof(bm), &bm)) {
                width = bm.bmWidth;
                height = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
            }
            DeleteObject(info.hbmMask);
            if (info.hbmColor)
                DeleteObject(info.hbmColor);
        }
    } else {
        HBITMAP bitmap = LoadBitmapW(cs.hInstance, cs.lpszName);
        BITMAP bm{};
        if (bitmap && GetObjectW(bitmap, sizeof(bm), &bm)) {
            width = bm.bmWidth;
            height = bm.bmHeight;
        }
        d.loadedBitmap = bitmap;
        image = reinterpret_cast<HANDLE>(bitmap);
    }
    SetLastError(error);
    if (!image)
        return;
    d.image = image;
    d.imageType = kind;
    if (!(Style(hwnd) & (SS_CENTERIMAGE | SS_REALSIZECONTROL)) && width > 0 && height > 0)
        SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

// The image a static control shows (for its painter).
HANDLE StaticImage(HWND hwnd, WPARAM* kind) {
    StaticData* d = GetData<StaticData>(hwnd);
    if (!d)
        return nullptr;
    if (kind)
        *kind = d->imageType;
    return d->image;
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateData<StaticData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    StaticData* d = GetData<StaticData>(hwnd);
    if (msg == WM_NCDESTROY) {
        // A bitmap the control loaded goes with it, unless a program took it back through STM_SETIMAGE.
        if (d && d->loadedBitmap && d->image == reinterpret_cast<HANDLE>(d->loadedBitmap))
            DeleteObject(d->loadedBitmap);
        DestroyData<StaticData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (!d)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    const DWORD type = Type(hwnd);
    LRESULT common = 0;
    if (paint::HandleFontAndPaint(hwnd, msg, wParam, lParam, common))
        return common;
    switch (msg) {
    case WM_CREATE:
        LoadNamedImage(hwnd, *d, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case STM_SETICON:
        return reinterpret_cast<LRESULT>(SetImage(hwnd, *d, IMAGE_ICON, reinterpret_cast<HANDLE>(wParam)));
    case STM_GETICON:
        return type == SS_ICON ? reinterpret_cast<LRESULT>(d->image) : 0;
    case STM_SETIMAGE:
        return reinterpret_cast<LRESULT>(SetImage(hwnd, *d, wParam, reinterpret_cast<HANDLE>(lParam)));
    case STM_GETIMAGE:
        return IsImageType(type) && d->imageType == wParam ? reinterpret_cast<LRESULT>(d->image) : 0;
    case WM_NCHITTEST:
        return (Style(hwnd) & SS_NOTIFY) ? HTCLIENT : HTTRANSPARENT;
    case WM_LBUTTONDOWN:
        if (Style(hwnd) & SS_NOTIFY)
            NotifyParent(hwnd, STN_CLICKED);
        return 0;
    case WM_LBUTTONDBLCLK:
        if (Style(hwnd) & SS_NOTIFY)
            NotifyParent(hwnd, STN_DBLCLK);
        return 0;
    case WM_ENABLE:
        if (Style(hwnd) & SS_NOTIFY)
            NotifyParent(hwnd, wParam ? STN_ENABLE : STN_DISABLE);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_SETTEXT: {
        // The text of an image static names its image; only text statics show it.
        const LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case WM_ERASEBKGND:
        return 1;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace platform::ui::stdctl
