// The task allocator: the C heap with a size header in front of every block, so that GetSize and DidAlloc can
// answer for blocks handed out here.
#include "platform/base/unknwn.h"

#include <cstdlib>

namespace {

// Every block starts with this header; the caller gets the bytes after it. The tag tells blocks of this allocator
// from any other pointer (checked only where Windows checks too: GetSize and DidAlloc).
struct Header {
    uint64_t tag;
    uint64_t size;
};
constexpr uint64_t kLive = 0x4B5341544D454D31ull; // alive
constexpr uint64_t kDead = 0x4B5341544D454D30ull; // freed

Header* HeaderOf(void* pv) {
    return reinterpret_cast<Header*>(static_cast<BYTE*>(pv) - sizeof(Header));
}

void* Allocate(SIZE_T cb) {
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + (cb ? cb : 1)));
    if (!h)
        return nullptr;
    h->tag = kLive;
    h->size = cb;
    return h + 1;
}

class TaskMalloc final : public IMalloc {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMalloc)) {
            *ppv = static_cast<IMalloc*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    void* Alloc(SIZE_T cb) override { return CoTaskMemAlloc(cb); }
    void* Realloc(void* pv, SIZE_T cb) override { return CoTaskMemRealloc(pv, cb); }
    void Free(void* pv) override { CoTaskMemFree(pv); }
    SIZE_T GetSize(void* pv) override {
        if (!pv || HeaderOf(pv)->tag != kLive)
            return static_cast<SIZE_T>(-1);
        return static_cast<SIZE_T>(HeaderOf(pv)->size);
    }
    int DidAlloc(void* pv) override {
        if (!pv)
            return -1;
        return HeaderOf(pv)->tag == kLive ? 1 : 0;
    }
    void HeapMinimize() override {}
};

} // namespace

void* CoTaskMemAlloc(SIZE_T cb) {
    return Allocate(cb);
}

void* CoTaskMemRealloc(void* pv, SIZE_T cb) {
    if (!pv)
        return Allocate(cb);
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    Header* old = HeaderOf(pv);
    auto* h = static_cast<Header*>(std::realloc(old, sizeof(Header) + cb));
    if (!h)
        return nullptr;
    h->size = cb;
    return h + 1;
}

void CoTaskMemFree(void* pv) {
    if (!pv)
        return;
    Header* h = HeaderOf(pv);
    h->tag = kDead;
    std::free(h);
}

HRESULT CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc) {
    if (!ppMalloc)
        return E_POINTER;
    *ppMalloc = nullptr;
    if (dwMemContext != MEMCTX_TASK)
        return E_INVALIDARG;
    static TaskMalloc malloc;
    *ppMalloc = &malloc;
    return S_OK;
}
