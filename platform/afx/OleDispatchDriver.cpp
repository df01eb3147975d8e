#include "platform/afx/OleDispatchDriver.h"

#include "platform/com/objbase.h"

#include <cstdarg>
#include <cstring>
#include <vector>

COleDispatchDriver::COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease)
    : m_lpDispatch(lpDispatch), m_bAutoRelease(bAutoRelease) {}

COleDispatchDriver::~COleDispatchDriver() {
    ReleaseDispatch();
}

BOOL COleDispatchDriver::CreateDispatch(REFCLSID clsid, COleException* pError) {
    ReleaseDispatch();
    IUnknown* unknown = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (SUCCEEDED(hr)) {
        LPDISPATCH dispatch = nullptr;
        hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        unknown->Release();
        if (SUCCEEDED(hr)) {
            AttachDispatch(dispatch, TRUE);
            return TRUE;
        }
    }
    if (pError)
        pError->m_sc = hr;
    return FALSE;
}

BOOL COleDispatchDriver::CreateDispatch(LPCTSTR lpszProgID, COleException* pError) {
    CLSID clsid{};
    const HRESULT hr = CLSIDFromProgID(lpszProgID, &clsid);
    if (FAILED(hr)) {
        if (pError)
            pError->m_sc = hr;
        return FALSE;
    }
    return CreateDispatch(clsid, pError);
}

void COleDispatchDriver::AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease) {
    ReleaseDispatch();
    m_lpDispatch = lpDispatch;
    m_bAutoRelease = bAutoRelease;
}

LPDISPATCH COleDispatchDriver::DetachDispatch() {
    LPDISPATCH dispatch = m_lpDispatch;
    m_lpDispatch = nullptr;
    return dispatch;
}

void COleDispatchDriver::ReleaseDispatch() {
    if (m_lpDispatch && m_bAutoRelease)
        m_lpDispatch->Release();
    m_lpDispatch = nullptr;
}

void COleDispatchDriver::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                      const BYTE* pbParamInfo, ...) {
    if (!m_lpDispatch)
        return;
    // The arguments in the order given, then reversed: IDispatch takes them last first.
    std::vector<VARIANT> args;
    va_list list;
    va_start(list, pbParamInfo);
    for (const BYTE* p = pbParamInfo; p && *p; ++p) {
        VARIANT v;
        VariantInit(&v);
        v.vt = *p;
        switch (*p) {
        case VT_I2:
            v.iVal = static_cast<SHORT>(va_arg(list, int));
            break;
        case VT_I4:
            // Read as int: a long or an int of 32-bit range arrives in the same slot, low half first.
            v.lVal = static_cast<LONG>(va_arg(list, int));
            break;
        case VT_BOOL:
            v.boolVal = va_arg(list, int) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_UI1:
            v.bVal = static_cast<BYTE>(va_arg(list, int));
            break;
        case VT_R8:
            v.dblVal = va_arg(list, double);
            break;
        case VT_BSTR:
            v.bstrVal = SysAllocString(va_arg(list, LPCOLESTR));
            break;
        default:
            v.vt = VT_EMPTY;
            break;
        }
        args.push_back(v);
    }
    va_end(list);
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.data(), put ? &named : nullptr, static_cast<UINT>(reversed.size()), put ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argErr = 0;
    HRESULT hr = m_lpDispatch->Invoke(dwDispID, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params,
                                      vtRet == VT_EMPTY ? nullptr : &result, &info, &argErr);
    for (VARIANT& v : reversed)
        VariantClear(&v);
    if (hr == DISP_E_EXCEPTION) {
        auto* e = new COleDispatchException(info.bstrDescription, info.dwHelpContext, info.wCode);
        e->m_scError = info.scode ? info.scode : hr;
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        VariantClear(&result);
        throw e;
    }
    if (FAILED(hr)) {
        VariantClear(&result);
        AfxThrowOleException(hr);
    }
    if (vtRet == VT_EMPTY || !pvRet)
        return;
    if (result.vt != vtRet) {
        hr = VariantChangeType(&result, &result, 0, vtRet);
        if (FAILED(hr)) {
            VariantClear(&result);
            AfxThrowOleException(hr);
        }
    }
    switch (vtRet) {
    case VT_I2:
        *static_cast<short*>(pvRet) = result.iVal;
        break;
    case VT_I4:
        *static_cast<long*>(pvRet) = result.lVal;
        break;
    case VT_BOOL:
        *static_cast<BOOL*>(pvRet) = result.boolVal != 0;
        break;
    case VT_UI1:
        *static_cast<BYTE*>(pvRet) = result.bVal;
        break;
    case VT_R8:
        *static_cast<double*>(pvRet) = result.dblVal;
        break;
    case VT_BSTR:
        *static_cast<CString*>(pvRet) = CString(result.bstrVal ? result.bstrVal : u"");
        break;
    default:
        break;
    }
    VariantClear(&result);
}
