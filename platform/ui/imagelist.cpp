#include "platform/ui/imagelist.h"

#include "platform/ui/commctrl_internal.h"

#include "platform/base/errors.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::ui {
namespace {

struct ImageList {
    int cx = 0;
    int cy = 0;
    UINT flags = 0;
    int grow = 1;
    COLORREF bk = CLR_NONE;
    std::vector<ImagePixels> images;

    ImagePixels Blank() const {
        ImagePixels p;
        p.width = cx;
        p.height = cy;
        p.argb.assign(static_cast<size_t>(cx) * static_cast<size_t>(cy), 0);
        return p;
    }
};
using ImageListPtr = std::shared_ptr<ImageList>;

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, ImageListPtr> lists;
    uintptr_t next = 0x4C0000;
    ImageBridge bridge = controls::DrawingLayerImages();
};

Registry& Reg() {
    static Registry* r = new Registry; // never destroyed: lists may be used by threads still running at exit
    return *r;
}

ImageListPtr Find(HIMAGELIST himl) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto it = r.lists.find(reinterpret_cast<uintptr_t>(himl));
    if (it == r.lists.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

ImageBridge Bridge() {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    return r.bridge;
}

// Cuts a strip into images of the list's size; with a mask, masked pixels become transparent.
std::vector<ImagePixels> Cut(const ImageList& list, const ImagePixels& strip, const ImagePixels* mask,
                             const COLORREF* maskColor) {
    std::vector<ImagePixels> out;
    if (list.cx <= 0 || list.cy <= 0)
        return out;
    const int count = strip.width / list.cx;
    for (int n = 0; n < count; ++n) {
        ImagePixels img = list.Blank();
        for (int y = 0; y < list.cy && y < strip.height; ++y) {
            for (int x = 0; x < list.cx; ++x) {
                const size_t src = static_cast<size_t>(y) * strip.width + static_cast<size_t>(n * list.cx + x);
                uint32_t px = strip.argb[src];
                bool masked = false;
                if (mask && (list.flags & ILC_MASK) && src < mask->argb.size())
                    masked = (mask->argb[src] & 0xFFFFFF) != 0; // white mask pixels are transparent
                if (maskColor && (list.flags & ILC_MASK)) {
                    const COLORREF c = *maskColor;
                    const uint32_t rgb = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
                    masked = (px & 0xFFFFFF) == rgb;
                }
                img.argb[static_cast<size_t>(y) * list.cx + x] = masked ? 0 : (px | 0xFF000000u);
            }
        }
        out.push_back(std::move(img));
    }
    return out;
}

ImagePixels Fit(const ImageList& list, const ImagePixels& source) {
    ImagePixels img = list.Blank();
    for (int y = 0; y < list.cy && y < source.height; ++y)
        for (int x = 0; x < list.cx && x < source.width; ++x)
            img.argb[static_cast<size_t>(y) * list.cx + x] = source.argb[static_cast<size_t>(y) * source.width + x];
    return img;
}

} // namespace

void SetImageBridge(const ImageBridge& bridge) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    r.bridge = bridge;
}

bool GetImagePixels(HIMAGELIST himl, int index, ImagePixels& out) {
    auto list = Find(himl);
    if (!list || index < 0 || index >= static_cast<int>(list->images.size()))
        return false;
    out = list->images[static_cast<size_t>(index)];
    return true;
}

int AddImagePixels(HIMAGELIST himl, const ImagePixels& pixels) {
    auto list = Find(himl);
    if (!list)
        return -1;
    list->images.push_back(Fit(*list, pixels));
    return static_cast<int>(list->images.size()) - 1;
}

} // namespace platform::ui

using namespace platform::ui;

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow) {
    if (cx <= 0 || cy <= 0 || initial < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto list = std::make_shared<ImageList>();
    list->cx = cx;
    list->cy = cy;
    list->flags = flags;
    list->grow = std::max(grow, 1);
    list->images.reserve(static_cast<size_t>(initial));
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    const uintptr_t key = r.next;
    r.next += 0x10;
    r.lists.emplace(key, std::move(list));
    return reinterpret_cast<HIMAGELIST>(key);
}

BOOL ImageList_Destroy(HIMAGELIST himl) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    if (r.lists.erase(reinterpret_cast<uintptr_t>(himl)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST himl) {
    auto list = Find(himl);
    return list ? static_cast<int>(list->images.size()) : 0;
}

BOOL ImageList_SetImageCount(HIMAGELIST himl, UINT newCount) {
    auto list = Find(himl);
    if (!list)
        return FALSE;
    list->images.resize(newCount, list->Blank());
    return TRUE;
}

BOOL ImageList_GetIconSize(HIMAGELIST himl, int* cx, int* cy) {
    auto list = Find(himl);
    if (!list || !cx || !cy)
        return FALSE;
    *cx = list->cx;
    *cy = list->cy;
    return TRUE;
}

BOOL ImageList_SetIconSize(HIMAGELIST himl, int cx, int cy) {
    auto list = Find(himl);
    if (!list || cx <= 0 || cy <= 0)
        return FALSE;
    list->cx = cx;
    list->cy = cy;
    list->images.clear();
    return TRUE;
}

COLORREF ImageList_SetBkColor(HIMAGELIST himl, COLORREF color) {
    auto list = Find(himl);
    if (!list)
        return CLR_NONE;
    const COLORREF old = list->bk;
    list->bk = color;
    return old;
}

COLORREF ImageList_GetBkColor(HIMAGELIST himl) {
    auto list = Find(himl);
    return list ? list->bk : CLR_NONE;
}

BOOL ImageList_Remove(HIMAGELIST himl, int index) {
    auto list = Find(himl);
    if (!list)
        return FALSE;
    if (index == -1) {
        list->images.clear();
        return TRUE;
    }
    if (index < 0 || index >= static_cast<int>(list->images.size()))
        return FALSE;
    list->images.erase(list->images.begin() + index);
    return TRUE;
}

HIMAGELIST ImageList_Duplicate(HIMAGELIST himl) {
    auto list = Find(himl);
    if (!list)
        return nullptr;
    HIMAGELIST copy = ImageList_Create(list->cx, list->cy, list->flags, 0, list->grow);
    auto target = Find(copy);
    target->images = list->images;
    target->bk = list->bk;
    return copy;
}

BOOL ImageList_Copy(HIMAGELIST dst, int dstIndex, HIMAGELIST src, int srcIndex, UINT flags) {
    auto to = Find(dst);
    auto from = Find(src);
    if (!to || !from || srcIndex < 0 || srcIndex >= static_cast<int>(from->images.size()) || dstIndex < 0 ||
        dstIndex >= static_cast<int>(to->images.size()))
        return FALSE;
    const ImagePixels image = Fit(*to, from->images[static_cast<size_t>(srcIndex)]);
    if (flags & 1 /* ILCF_SWAP */ && to == from)
        std::swap(to->images[static_cast<size_t>(dstIndex)], to->images[static_cast<size_t>(srcIndex)]);
    else
        to->images[static_cast<size_t>(dstIndex)] = image;
    return TRUE;
}

BOOL ImageList_GetImageInfo(HIMAGELIST himl, int index, IMAGEINFO* info) {
    auto list = Find(himl);
    if (!list || !info || index < 0 || index >= static_cast<int>(list->images.size()))
        return FALSE;
    *info = IMAGEINFO{};
    info->rcImage = RECT{index * list->cx, 0, (index + 1) * list->cx, list->cy};
    return TRUE;
}

int ImageList_Add(HIMAGELIST himl, HBITMAP image, HBITMAP mask) {
    auto list = Find(himl);
    const ImageBridge bridge = Bridge();
    ImagePixels strip, maskPixels;
    if (!list || !bridge.readBitmap || !bridge.readBitmap(image, strip))
        return -1;
    const bool haveMask = mask && bridge.readBitmap(mask, maskPixels);
    auto images = Cut(*list, strip, haveMask ? &maskPixels : nullptr, nullptr);
    if (images.empty())
        return -1;
    const int first = static_cast<int>(list->images.size());
    for (auto& img : images)
        list->images.push_back(std::move(img));
    return first;
}

int ImageList_AddMasked(HIMAGELIST himl, HBITMAP image, COLORREF maskColor) {
    auto list = Find(himl);
    const ImageBridge bridge = Bridge();
    ImagePixels strip;
    if (!list || !bridge.readBitmap || !bridge.readBitmap(image, strip))
        return -1;
    auto images = Cut(*list, strip, nullptr, &maskColor);
    if (images.empty())
        return -1;
    const int first = static_cast<int>(list->images.size());
    for (auto& img : images)
        list->images.push_back(std::move(img));
    return first;
}

BOOL ImageList_Replace(HIMAGELIST himl, int index, HBITMAP image, HBITMAP mask) {
    auto list = Find(himl);
    const ImageBridge bridge = Bridge();
    ImagePixels strip, maskPixels;
    if (!list || index < 0 || index >= static_cast<int>(list->images.size()) || !bridge.readBitmap ||
        !bridge.readBitmap(image, strip))
        return FALSE;
    const bool haveMask = mask && bridge.readBitmap(mask, maskPixels);
    auto images = Cut(*list, strip, haveMask ? &maskPixels : nullptr, nullptr);
    if (images.empty())
        return FALSE;
    list->images[static_cast<size_t>(index)] = std::move(images.front());
    return TRUE;
}

int ImageList_ReplaceIcon(HIMAGELIST himl, int index, HICON icon) {
    auto list = Find(himl);
    const ImageBridge bridge = Bridge();
    ImagePixels pixels;
    if (!list || index < -1 || index >= static_cast<int>(list->images.size()) || !bridge.readIcon ||
        !bridge.readIcon(icon, pixels))
        return -1;
    ImagePixels fitted = Fit(*list, pixels);
    if (index == -1) {
        list->images.push_back(std::move(fitted));
        return static_cast<int>(list->images.size()) - 1;
    }
    list->images[static_cast<size_t>(index)] = std::move(fitted);
    return index;
}

HICON ImageList_GetIcon(HIMAGELIST himl, int index, UINT) {
    auto list = Find(himl);
    const ImageBridge bridge = Bridge();
    if (!list || index < 0 || index >= static_cast<int>(list->images.size()) || !bridge.makeIcon)
        return nullptr;
    return bridge.makeIcon(list->images[static_cast<size_t>(index)]);
}

BOOL ImageList_DrawEx(HIMAGELIST himl, int index, HDC dc, int x, int y, int, int, COLORREF, COLORREF, UINT style) {
    auto list = Find(himl);
    const ImageBridge bridge = Bridge();
    if (!list || index < 0 || index >= static_cast<int>(list->images.size()) || !bridge.draw)
        return FALSE;
    ImagePixels image = list->images[static_cast<size_t>(index)];
    // Without ILD_TRANSPARENT a list with a background colour fills the masked pixels with it.
    if (!(style & ILD_TRANSPARENT) && list->bk != CLR_NONE && list->bk != CLR_DEFAULT) {
        const COLORREF c = list->bk;
        const uint32_t fill = 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        for (auto& px : image.argb)
            if ((px >> 24) == 0)
                px = fill;
    }
    return bridge.draw(dc, x, y, image) ? TRUE : FALSE;
}

BOOL ImageList_Draw(HIMAGELIST himl, int index, HDC dc, int x, int y, UINT style) {
    return ImageList_DrawEx(himl, index, dc, x, y, 0, 0, CLR_DEFAULT, CLR_DEFAULT, style);
}

namespace platform::ui::controls {

HIMAGELIST CreateCheckBoxImages() {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 1);
    ImagePixels box;
    box.width = box.height = 16;
    for (int n = 0; n < 3; ++n) {
        box.argb.assign(256, 0);
        if (n > 0) {
            // A 13 x 13 box with a dark frame, white inside and, checked, a tick.
            for (int y = 1; y < 14; ++y)
                for (int x = 1; x < 14; ++x)
                    box.argb[static_cast<size_t>(y) * 16 + x] =
                        (x == 1 || x == 13 || y == 1 || y == 13) ? 0xFF404040u : 0xFFFFFFFFu;
            if (n == 2)
                for (int i = 0; i < 7; ++i) {
                    const int x = 4 + i, y = i < 3 ? 7 + i : 9 - (i - 2);
                    box.argb[static_cast<size_t>(y) * 16 + x] = 0xFF000000u;
                    box.argb[static_cast<size_t>(y + 1) * 16 + x] = 0xFF000000u;
                }
        }
        AddImagePixels(list, box);
    }
    return list;
}

} // namespace platform::ui::controls
