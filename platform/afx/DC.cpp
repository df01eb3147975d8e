#include "platform/afx/DC.h"

#include <memory>
#include <mutex>
#include <unordered_map>

IMPLEMENT_DYNAMIC(CDC, CObject)

namespace {

struct Permanent {
    std::mutex lock;
    std::unordered_map<HDC, CDC*> map;
};

Permanent& Attached() {
    static Permanent permanent;
    return permanent;
}

// Wrappers made for DCs nobody attached; they never delete the DC.
struct Temporary {
    std::unordered_map<HDC, std::unique_ptr<CDC>> map;
    ~Temporary() {
        for (auto& [dc, wrapper] : map)
            wrapper->Detach();
    }
};

} // namespace

CDC::~CDC() {
    if (m_owned)
        DeleteDC();
    else
        Detach();
}

CDC* CDC::FromHandle(HDC dc) {
    if (!dc)
        return nullptr;
    {
        Permanent& p = Attached();
        std::lock_guard guard(p.lock);
        auto it = p.map.find(dc);
        if (it != p.map.end())
            return it->second;
    }
    thread_local Temporary temporary;
    auto it = temporary.map.find(dc);
    if (it != temporary.map.end())
        return it->second.get();
    auto wrapper = std::make_unique<CDC>();
    wrapper->m_hDC = wrapper->m_hAttribDC = dc;
    CDC* result = wrapper.get();
    temporary.map.emplace(dc, std::move(wrapper));
    return result;
}

BOOL CDC::Attach(HDC dc) {
    if (!dc || m_hDC)
        return FALSE;
    m_hDC = m_hAttribDC = dc;
    Permanent& p = Attached();
    std::lock_guard guard(p.lock);
    p.map[dc] = this;
    return TRUE;
}

HDC CDC::Detach() {
    HDC dc = m_hDC;
    if (dc) {
        Permanent& p = Attached();
        std::lock_guard guard(p.lock);
        auto it = p.map.find(dc);
        if (it != p.map.end() && it->second == this)
            p.map.erase(it);
    }
    m_hDC = m_hAttribDC = nullptr;
    m_owned = false;
    return dc;
}

BOOL CDC::CreateCompatibleDC(CDC* dc) {
    if (m_hDC)
        return FALSE;
    HDC created = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
    if (!created || !Attach(created))
        return FALSE;
    m_owned = true;
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC)
        return FALSE;
    return ::DeleteDC(Detach());
}

CPen* CDC::SelectObject(CPen* pen) {
    return CPen::FromHandle(static_cast<HPEN>(::SelectObject(m_hDC, pen ? pen->m_hObject : nullptr)));
}
CBrush* CDC::SelectObject(CBrush* brush) {
    return CBrush::FromHandle(static_cast<HBRUSH>(::SelectObject(m_hDC, brush ? brush->m_hObject : nullptr)));
}
CFont* CDC::SelectObject(CFont* font) {
    return CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, font ? font->m_hObject : nullptr)));
}
CBitmap* CDC::SelectObject(CBitmap* bitmap) {
    return CBitmap::FromHandle(static_cast<HBITMAP>(::SelectObject(m_hDC, bitmap ? bitmap->m_hObject : nullptr)));
}
CGdiObject* CDC::SelectObject(CGdiObject* object) {
    return CGdiObject::FromHandle(::SelectObject(m_hDC, object ? object->m_hObject : nullptr));
}
CGdiObject* CDC::SelectStockObject(int index) {
    return CGdiObject::FromHandle(::SelectObject(m_hDC, ::GetStockObject(index)));
}

CPoint CDC::SetViewportOrg(int x, int y) {
    POINT previous{};
    ::SetViewportOrgEx(m_hDC, x, y, &previous);
    return previous;
}

CPoint CDC::GetViewportOrg() const {
    POINT p{};
    ::GetViewportOrgEx(m_hDC, &p);
    return p;
}

void CDC::FillSolidRect(LPCRECT r, COLORREF color) {
    COLORREF old = ::SetBkColor(m_hDC, color);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color) {
    RECT r{x, y, x + cx, y + cy};
    FillSolidRect(&r, color);
}

void CDC::Draw3dRect(LPCRECT r, COLORREF topLeft, COLORREF bottomRight) {
    Draw3dRect(r->left, r->top, r->right - r->left, r->bottom - r->top, topLeft, bottomRight);
}

void CDC::Draw3dRect(int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight) {
    FillSolidRect(x, y, cx - 1, 1, topLeft);
    FillSolidRect(x, y, 1, cy - 1, topLeft);
    FillSolidRect(x + cx - 1, y, 1, cy, bottomRight);
    FillSolidRect(x, y + cy - 1, cx, 1, bottomRight);
}

CPoint CDC::MoveTo(int x, int y) {
    POINT previous{};
    ::MoveToEx(m_hDC, x, y, &previous);
    return previous;
}

CPoint CDC::GetCurrentPosition() const {
    POINT p{};
    ::GetCurrentPositionEx(m_hDC, &p);
    return p;
}

CSize CDC::GetTextExtent(LPCWSTR text, int count) const {
    SIZE s{};
    ::GetTextExtentPoint32W(m_hDC, text, count, &s);
    return s;
}
