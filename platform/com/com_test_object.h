// A small automation object for the COM tests, served in the test program and by the test server program.
#pragma once

#include "platform/com/objbase.h"

#include <atomic>
#include <functional>

namespace comtest {

inline constexpr CLSID kClsid = {0x1C2D3E4F, 0x5A6B, 0x4C7D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};

// Dispatch ids of the test object.
enum : DISPID {
    kAdd = 1,         // (I4, I4) -> I4
    kEcho = 2,        // (BSTR) -> BSTR
    kThreadId = 3,    // () -> I4: the thread the call arrived on
    kEmbedding = 4,   // () -> BOOL: the server was started with "-Embedding"
    kQuit = 5,        // () -> EMPTY: the server leaves its message loop
    kCrash = 6,       // () -> never answers: the server's process dies
    kProcessId = 7,   // () -> I4
    kObjects = 8,     // () -> I4: objects alive in the server
};

class TestObject final : public IDispatch {
public:
    static std::atomic<int> s_alive;
    static bool s_embedding;
    static std::function<void()> s_quit;

    TestObject() { ++s_alive; }
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT* argErr) override;

private:
    ~TestObject() { --s_alive; }
    std::atomic<ULONG> m_refs{1};
};

class TestFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    HRESULT LockServer(BOOL) override { return S_OK; }
};

} // namespace comtest
