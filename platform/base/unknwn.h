// IUnknown, interface ids and the task allocator: the small part of COM that interfaces of other layers build on.
//
// Stands in for the declarations of unknwn.h, objidl.h and the task allocator. The same as Windows: an interface is
// a class of pure virtual methods whose first three are QueryInterface, AddRef and Release; interface ids are GUIDs
// compared by value; CoTaskMemAlloc, CoTaskMemRealloc and CoTaskMemFree share one heap with the IMalloc that
// CoGetMalloc gives, so memory allocated by one may be freed by the other; CoTaskMemFree(nullptr) does nothing.
//
// Where it differs: the allocator is the C heap; IMalloc::GetSize reports the size asked for at allocation (the
// block's own size, which Windows may round up) and DidAlloc answers for blocks of this allocator only while they
// are alive. CoGetMalloc takes no apartment: its object lives for the whole process and counts no references.
#pragma once

#include "platform/base/errors.h"
#include "platform/base/types.h"

#include <cstring>

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
inline bool operator==(const GUID& a, const GUID& b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !IsEqualGUID(a, b);
}

#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    // Objects go away through Release only.
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IMalloc : IUnknown {
    virtual void* Alloc(SIZE_T cb) = 0;
    virtual void* Realloc(void* pv, SIZE_T cb) = 0;
    virtual void Free(void* pv) = 0;
    // The size of an allocated block, or (SIZE_T)-1 for null or a block this allocator does not know.
    virtual SIZE_T GetSize(void* pv) = 0;
    // 1 when the block is this allocator's, 0 when it is not, -1 for null.
    virtual int DidAlloc(void* pv) = 0;
    virtual void HeapMinimize() = 0;

protected:
    ~IMalloc() = default;
};
using LPMALLOC = IMalloc*;

constexpr DWORD MEMCTX_TASK = 1;

void* CoTaskMemAlloc(SIZE_T cb);
void* CoTaskMemRealloc(void* pv, SIZE_T cb);
void CoTaskMemFree(void* pv);
// The process's task allocator. dwMemContext must be MEMCTX_TASK (else E_INVALIDARG).
HRESULT CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc);
