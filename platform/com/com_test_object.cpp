#include "platform/com/com_test_object.h"

#include "platform/base/thread.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace comtest {

std::atomic<int> TestObject::s_alive{0};
bool TestObject::s_embedding = false;
std::function<void()> TestObject::s_quit;

HRESULT TestObject::QueryInterface(REFIID riid, void** object) {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG TestObject::Release() {
    const ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT TestObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    for (UINT i = 0; i < count; ++i)
        ids[i] = std::u16string(names[i]) == u"Add" ? kAdd : DISPID_UNKNOWN;
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT TestObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                           UINT* argErr) {
    if (!(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    VARIANT out;
    VariantInit(&out);
    switch (id) {
    case kAdd: {
        if (params->cArgs != 2)
            return DISP_E_BADPARAMCOUNT;
        VARIANT a, b;
        VariantInit(&a);
        VariantInit(&b);
        // Arguments come last first.
        if (FAILED(VariantChangeType(&a, &params->rgvarg[1], 0, VT_I4))) {
            *argErr = 0;
            return DISP_E_TYPEMISMATCH;
        }
        if (FAILED(VariantChangeType(&b, &params->rgvarg[0], 0, VT_I4))) {
            *argErr = 1;
            return DISP_E_TYPEMISMATCH;
        }
        out.vt = VT_I4;
        out.lVal = a.lVal + b.lVal;
        break;
    }
    case kEcho:
        if (params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR)
            return DISP_E_TYPEMISMATCH;
        VariantCopy(&out, &params->rgvarg[0]);
        break;
    case kThreadId:
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(GetCurrentThreadId());
        break;
    case kEmbedding:
        out.vt = VT_BOOL;
        out.boolVal = s_embedding ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case kQuit:
        if (s_quit)
            s_quit();
        break;
    case kCrash:
        ::_exit(3);
    case kProcessId:
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(::getpid());
        break;
    case kObjects:
        out.vt = VT_I4;
        out.lVal = s_alive;
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (result)
        *result = out;
    else
        VariantClear(&out);
    return S_OK;
}

HRESULT TestFactory::QueryInterface(REFIID riid, void** object) {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT TestFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto* created = new TestObject;
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

} // namespace comtest
