#include "platform/afx/GdiObject.h"

#include "platform/afx/DC.h"
#include "platform/afx/ModuleState.h"
#include "platform/base/strings.h"

#include <memory>
#include <mutex>
#include <unordered_map>

IMPLEMENT_DYNAMIC(CGdiObject, CObject)
IMPLEMENT_DYNAMIC(CPen, CGdiObject)
IMPLEMENT_DYNAMIC(CBrush, CGdiObject)
IMPLEMENT_DYNAMIC(CFont, CGdiObject)
IMPLEMENT_DYNAMIC(CBitmap, CGdiObject)
IMPLEMENT_DYNAMIC(CRgn, CGdiObject)

namespace {

// Wrappers that own their handle, found by FromHandle from any thread.
struct Permanent {
    std::mutex lock;
    std::unordered_map<HGDIOBJ, CGdiObject*> map;
};

Permanent& Attached() {
    static Permanent permanent;
    return permanent;
}

// Wrappers made for handles nobody attached: they belong to the thread that asked and never delete the handle.
struct Temporary {
    std::unordered_map<HGDIOBJ, std::unique_ptr<CGdiObject>> map;
    ~Temporary() {
        for (auto& [handle, object] : map)
            object->m_hObject = nullptr;
    }
};

std::unique_ptr<CGdiObject> MakeWrapper(HGDIOBJ handle) {
    switch (GetObjectType(handle)) {
    case OBJ_PEN:
        return std::make_unique<CPen>();
    case OBJ_BRUSH:
        return std::make_unique<CBrush>();
    case OBJ_FONT:
        return std::make_unique<CFont>();
    case OBJ_BITMAP:
        return std::make_unique<CBitmap>();
    case OBJ_REGION:
        return std::make_unique<CRgn>();
    default:
        return std::make_unique<CGdiObject>();
    }
}

} // namespace

CGdiObject::~CGdiObject() {
    DeleteObject();
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ handle) {
    if (!handle)
        return nullptr;
    {
        Permanent& p = Attached();
        std::lock_guard guard(p.lock);
        auto it = p.map.find(handle);
        if (it != p.map.end())
            return it->second;
    }
    thread_local Temporary temporary;
    auto it = temporary.map.find(handle);
    if (it != temporary.map.end())
        return it->second.get();
    std::unique_ptr<CGdiObject> wrapper = MakeWrapper(handle);
    wrapper->m_hObject = handle;
    CGdiObject* result = wrapper.get();
    temporary.map.emplace(handle, std::move(wrapper));
    return result;
}

BOOL CGdiObject::Attach(HGDIOBJ handle) {
    if (!handle || m_hObject)
        return FALSE;
    m_hObject = handle;
    Permanent& p = Attached();
    std::lock_guard guard(p.lock);
    p.map[handle] = this;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ handle = m_hObject;
    if (handle) {
        Permanent& p = Attached();
        std::lock_guard guard(p.lock);
        auto it = p.map.find(handle);
        if (it != p.map.end() && it->second == this)
            p.map.erase(it);
    }
    m_hObject = nullptr;
    return handle;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject)
        return FALSE;
    return ::DeleteObject(Detach());
}

int CGdiObject::GetObject(int count, LPVOID buffer) const {
    return ::GetObjectW(m_hObject, count, buffer);
}

BOOL CGdiObject::CreateStockObject(int index) {
    return Attach(::GetStockObject(index));
}

BOOL CFont::CreatePointFont(int pointSize, LPCWSTR faceName, CDC* dc) {
    LOGFONTW lf{};
    lf.lfHeight = pointSize;
    lf.lfCharSet = DEFAULT_CHARSET;
    if (faceName)
        lstrcpynW(lf.lfFaceName, faceName, LF_FACESIZE);
    return CreatePointFontIndirect(&lf, dc);
}

BOOL CFont::CreatePointFontIndirect(const LOGFONTW* font, CDC* dc) {
    if (!font)
        return FALSE;
    LOGFONTW lf = *font;
    int dpi = dc && dc->m_hDC ? GetDeviceCaps(dc->m_hDC, LOGPIXELSY) : 96;
    // Tenths of a point to pixels of character height.
    lf.lfHeight = -MulDiv(font->lfHeight, dpi, 720);
    return CreateFontIndirect(&lf);
}

BOOL CBitmap::LoadBitmap(LPCWSTR name) {
    return Attach(::LoadBitmapW(AfxGetResourceHandle(), name));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
    return dc && Attach(::CreateCompatibleBitmap(dc->m_hDC, width, height));
}

BOOL CBrush::CreatePatternBrush(CBitmap* bitmap) {
    return bitmap && Attach(::CreatePatternBrush(*bitmap));
}
