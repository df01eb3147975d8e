#include "platform/afx/CmdTarget.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, void*) {
    // Notifications arrive as MAKELONG(code, message); a plain control code means WM_COMMAND.
    UINT nMessage = HIWORD(static_cast<UINT>(nCode));
    const UINT code = LOWORD(static_cast<UINT>(nCode));
    if (nMessage == 0)
        nMessage = 0x0111; // WM_COMMAND
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
            if (entry->pnRegistered || entry->nMessage != nMessage || entry->nCode != code)
                continue;
            if (nID < entry->nID || nID > entry->nLastID)
                continue;
            LRESULT ignored = 0;
            AFX_DISPATCH d{nMessage, 0, 0, &ignored, nID, pExtra};
            // An _EX handler that declines lets the search go on to later entries and the base classes.
            if (entry->pfn(this, d))
                return TRUE;
        }
    }
    return FALSE;
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
            if (entry->pnRegistered
                    ? (*entry->pnRegistered == nMessage && nMessage != 0)
                    : (entry->nMessage == nMessage && entry->nCode == 0 && entry->nID == 0 &&
                       entry->nMessage != 0x0111 && entry->nMessage != 0x004E &&
                       entry->nMessage != WM_REFLECT_BASE + 0x0111 && entry->nMessage != WM_REFLECT_BASE + 0x004E))
                return entry;
        }
    }
    return nullptr;
}

// ---- Automation ------------------------------------------------------------------------------------------------

// The IDispatch of an object with automation enabled; its references are the object's own.
struct CCmdTarget::XDispatch final : IDispatch {
    explicit XDispatch(CCmdTarget* owner) : m_owner(owner) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return m_owner->ExternalQueryInterface(&riid, object);
    }
    ULONG AddRef() override { return m_owner->InternalAddRef(); }
    ULONG Release() override { return m_owner->InternalRelease(); }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        HRESULT hr = m_owner->IdOfName(names[0], ids[0]);
        // Named arguments are not offered.
        for (UINT i = 1; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT* argErr) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        return m_owner->InvokeMember(id, flags, params, result, argErr);
    }

    CCmdTarget* m_owner;
};

CCmdTarget::CCmdTarget() = default;

CCmdTarget::~CCmdTarget() {
    delete m_pDispatch;
}

const AFX_DISPMAP* CCmdTarget::GetThisDispatchMap() {
    static const AFX_DISPMAP_ENTRY entries[] = {{nullptr, 0, VT_EMPTY, nullptr, nullptr}};
    static const AFX_DISPMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_DISPMAP* CCmdTarget::GetDispatchMap() const {
    return GetThisDispatchMap();
}

void CCmdTarget::EnableAutomation() {
    if (!m_pDispatch)
        m_pDispatch = new XDispatch(this);
}

LPDISPATCH CCmdTarget::GetIDispatch(BOOL bAddRef) {
    if (!m_pDispatch)
        return nullptr;
    if (bAddRef)
        InternalAddRef();
    return m_pDispatch;
}

CCmdTarget* CCmdTarget::FromIDispatch(LPDISPATCH lpDispatch) {
    // Only this framework's own dispatch objects answer; anything else is another object's interface.
    auto* own = dynamic_cast<XDispatch*>(lpDispatch);
    return own ? own->m_owner : nullptr;
}

DWORD CCmdTarget::InternalAddRef() {
    return static_cast<DWORD>(++m_dwRef);
}

DWORD CCmdTarget::InternalRelease() {
    if (m_dwRef == 0)
        return 0;
    const LONG left = --m_dwRef;
    if (left == 0)
        OnFinalRelease();
    return static_cast<DWORD>(left);
}

HRESULT CCmdTarget::ExternalQueryInterface(const IID* iid, LPVOID* ppvObj) {
    if (!ppvObj)
        return E_POINTER;
    *ppvObj = nullptr;
    if (m_pDispatch && iid && (*iid == IID_IUnknown || *iid == IID_IDispatch)) {
        InternalAddRef();
        *ppvObj = m_pDispatch;
        return S_OK;
    }
    return E_NOINTERFACE;
}

void CCmdTarget::OnFinalRelease() {
    delete this;
}

namespace {

// The entry for a dispatch id, searching the class's map and then its bases'.
const AFX_DISPMAP_ENTRY* FindDispatchEntry(const AFX_DISPMAP* map, DISPID id) {
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        DISPID position = 1;
        for (const AFX_DISPMAP_ENTRY* e = map->lpEntries; e->lpszName; ++e, ++position)
            if ((e->lDispID == DISPID_UNKNOWN ? position : e->lDispID) == id)
                return e;
    }
    return nullptr;
}

} // namespace

HRESULT CCmdTarget::IdOfName(LPCOLESTR name, DISPID& id) const {
    id = DISPID_UNKNOWN;
    if (!name)
        return E_INVALIDARG;
    const std::u16string wanted(name);
    for (const AFX_DISPMAP* map = GetDispatchMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        DISPID position = 1;
        for (const AFX_DISPMAP_ENTRY* e = map->lpEntries; e->lpszName; ++e, ++position) {
            const std::u16string entryName(e->lpszName, e->lpszName + std::strlen(e->lpszName));
            // Automation names are compared without regard to case.
            if (entryName.size() == wanted.size() &&
                std::equal(entryName.begin(), entryName.end(), wanted.begin(), [](char16_t a, char16_t b) {
                    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
                    return lower(a) == lower(b);
                })) {
                id = e->lDispID == DISPID_UNKNOWN ? position : e->lDispID;
                return S_OK;
            }
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT CCmdTarget::InvokeMember(DISPID id, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult, UINT* puArgErr) {
    const AFX_DISPMAP_ENTRY* entry = FindDispatchEntry(GetDispatchMap(), id);
    if (!entry)
        return DISP_E_MEMBERNOTFOUND;
    if (!(wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    const UINT count = pParams ? pParams->cArgs : 0;
    if (pParams && pParams->cNamedArgs)
        return DISP_E_NONAMEDARGS;
    if (count != std::strlen(entry->vtsParams))
        return DISP_E_BADPARAMCOUNT;
    // Arguments arrive last first; the member takes them first first, each in its declared type.
    std::vector<VARIANT> args(count);
    for (VARIANT& v : args)
        VariantInit(&v);
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count && SUCCEEDED(hr); ++i) {
        const UINT from = count - 1 - i;
        hr = VariantChangeType(&args[i], &pParams->rgvarg[from], 0, static_cast<VARTYPE>(entry->vtsParams[i]));
        if (FAILED(hr)) {
            if (puArgErr)
                *puArgErr = from;
            hr = hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        }
    }
    if (SUCCEEDED(hr)) {
        VARIANT result;
        VariantInit(&result);
        entry->pfn(this, args.data(), &result);
        if (entry->vtResult != VT_EMPTY && result.vt != entry->vtResult)
            VariantChangeType(&result, &result, 0, entry->vtResult);
        if (pResult) {
            VariantClear(pResult);
            *pResult = result;
        } else {
            VariantClear(&result);
        }
    }
    for (VARIANT& v : args)
        VariantClear(&v);
    return hr;
}
