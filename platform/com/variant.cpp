#include "platform/com/oleauto.h"

#include "platform/base/strings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    // The byte length sits in the four bytes before the characters, as callers of the wire format expect.
    auto* block = static_cast<BYTE*>(std::malloc(sizeof(DWORD) + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const DWORD bytes = length * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(DWORD));
    if (text)
        std::memcpy(chars, text, length * sizeof(OLECHAR));
    else
        std::memset(chars, 0, length * sizeof(OLECHAR));
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text)
        return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::char_traits<char16_t>::length(text)));
}

void SysFreeString(BSTR text) {
    if (text)
        std::free(reinterpret_cast<BYTE*>(text) - sizeof(DWORD));
}

UINT SysStringLen(BSTR text) {
    if (!text)
        return 0;
    DWORD bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<BYTE*>(text) - sizeof(DWORD), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANTARG* v) {
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
    if (!v)
        return E_INVALIDARG;
    switch (v->vt) {
    case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (v->punkVal)
            v->punkVal->Release();
        break;
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* source) {
    if (!dest || !source)
        return E_INVALIDARG;
    if (dest == source)
        return S_OK;
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) {
        source->punkVal->AddRef();
    }
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

namespace {

// Reads a number held by any numeric or string variant; false when it holds none.
HRESULT NumberOf(const VARIANT& v, double& value) {
    switch (v.vt) {
    case VT_EMPTY:
        value = 0;
        return S_OK;
    case VT_I2:
        value = v.iVal;
        return S_OK;
    case VT_I4:
    case VT_INT:
        value = v.lVal;
        return S_OK;
    case VT_R8:
        value = v.dblVal;
        return S_OK;
    case VT_BOOL:
        value = v.boolVal ? -1 : 0;
        return S_OK;
    case VT_UI1:
        value = v.bVal;
        return S_OK;
    case VT_UI2:
        value = v.uiVal;
        return S_OK;
    case VT_UI4:
    case VT_UINT:
        value = v.ulVal;
        return S_OK;
    case VT_ERROR:
        value = v.scode;
        return S_OK;
    case VT_BSTR: {
        const std::string text = platform::Utf16ToUtf8(v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal))
                                                                 : std::u16string());
        if (text.empty())
            return DISP_E_TYPEMISMATCH;
        char* end = nullptr;
        value = std::strtod(text.c_str(), &end);
        while (end && *end == ' ')
            ++end;
        return end && *end == 0 ? S_OK : DISP_E_TYPEMISMATCH;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

template <class T> HRESULT Integral(double value, T& out) {
    const double rounded = std::nearbyint(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<T>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<T>::max())))
        return DISP_E_OVERFLOW;
    out = static_cast<T>(rounded);
    return S_OK;
}

std::u16string TextOf(double value) {
    char buffer[64];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    else
        std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return platform::Utf8ToUtf16(buffer);
}

} // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* source, USHORT, VARTYPE vt) {
    if (!dest || !source)
        return E_INVALIDARG;
    VARIANT result;
    VariantInit(&result);
    if (vt == source->vt) {
        HRESULT hr = VariantCopy(&result, source);
        if (FAILED(hr))
            return hr;
    } else if (vt == VT_EMPTY) {
        // Nothing to convert to.
    } else if (vt == VT_BSTR) {
        std::u16string text;
        if (source->vt == VT_BOOL) {
            text = source->boolVal ? u"True" : u"False";
        } else {
            double value = 0;
            if (source->vt == VT_EMPTY) {
                text.clear();
            } else {
                HRESULT hr = NumberOf(*source, value);
                if (FAILED(hr))
                    return hr;
                text = TextOf(value);
            }
        }
        result.vt = VT_BSTR;
        result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!result.bstrVal)
            return E_OUTOFMEMORY;
    } else {
        double value = 0;
        HRESULT hr = NumberOf(*source, value);
        if (FAILED(hr))
            return hr;
        result.vt = vt;
        switch (vt) {
        case VT_I2:
            hr = Integral(value, result.iVal);
            break;
        case VT_I4:
        case VT_INT:
            hr = Integral(value, result.lVal);
            break;
        case VT_UI1:
            hr = Integral(value, result.bVal);
            break;
        case VT_UI2:
            hr = Integral(value, result.uiVal);
            break;
        case VT_UI4:
        case VT_UINT:
            hr = Integral(value, result.ulVal);
            break;
        case VT_R8:
            result.dblVal = value;
            break;
        case VT_BOOL:
            result.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_ERROR:
            hr = Integral(value, result.scode);
            break;
        default:
            return DISP_E_BADVARTYPE;
        }
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}
