// The enclosure client window: the one-touch signal to the installed handler, and the secure-disk LED through an
// automation object served by another thread, with the retry of a refused call.
#include "storage/EnclosureWnd.h"

#include "platform/base/machine.h"
#include "platform/base/thread.h"
#include "platform/com/objbase.h"
#include "platform/registry/registry.h"
#include "platform/ui/message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr CLSID kEnclosureClsid = {0xF50B40AA, 0xB60B, 0x478D, {0xBA, 0xC4, 0xA3, 0x69, 0x95, 0x90, 0x47, 0xA8}};

// Records every TurnOnSecureLed call (drive, on).
std::mutex g_lock;
std::vector<std::pair<long, short>> g_calls;

class FakeServ final : public IDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (!left)
            delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != 1 || p->cArgs != 2)
            return DISP_E_MEMBERNOTFOUND;
        std::lock_guard guard(g_lock);
        g_calls.emplace_back(p->rgvarg[1].lVal, p->rgvarg[0].iVal);
        if (result) {
            result->vt = VT_I4;
            result->lVal = 0;
        }
        return S_OK;
    }

private:
    ~FakeServ() = default;
    std::atomic<ULONG> m_refs{1};
};

class FakeFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = riid == IID_IClassFactory || riid == IID_IUnknown ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown*, REFIID riid, void** object) override {
        auto* serv = new FakeServ;
        const HRESULT hr = serv->QueryInterface(riid, object);
        serv->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

size_t Calls() {
    std::lock_guard guard(g_lock);
    return g_calls.size();
}

bool PumpUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

struct HandlerLog {
    int calls = 0;
    WPARAM wParam = 99;
    LPARAM lParam = 99;
};

void Handler(void* data, WPARAM wParam, LPARAM lParam) {
    auto* log = static_cast<HandlerLog*>(data);
    ++log->calls;
    log->wParam = wParam;
    log->lParam = lParam;
}

class EnclosureWndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OleInitialize(nullptr), S_OK); }
    void TearDown() override { OleUninitialize(); }
    platform::machine::ScopedTestMachine m_machine;
};

TEST_F(EnclosureWndTest, WithoutTheCompanionTheWindowLivesAndSignalsGoToTheHandlerOnly) {
    CEnclosureWnd wnd;
    ASSERT_TRUE(wnd.Create());
    EXPECT_FALSE(wnd.HasDispatch());
    EXPECT_EQ(FindWindowW(nullptr, u"ONE_TOUCH_NOTIFY_TARGET"), wnd.GetSafeHwnd());
    EXPECT_FALSE(::IsWindowVisible(wnd.GetSafeHwnd()));
    // A signal before any handler is dropped; the LED call without an object does nothing.
    wnd.SendMessage(WM_ONE_TOUCH_NOTIFY, 0, 0);
    wnd.TurnOnSecureLed(0, TRUE);
    HandlerLog log;
    wnd.SetHandler(&Handler, &log);
    wnd.SendMessage(WM_ONE_TOUCH_NOTIFY, 0, 0);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.wParam, 0u);
    wnd.SetHandler(nullptr, &log);
    wnd.SendMessage(WM_ONE_TOUCH_NOTIFY, 0, 0);
    EXPECT_EQ(log.calls, 1);
    wnd.DestroyWindow();
}

TEST_F(EnclosureWndTest, ARefusedLedCallIsRepeatedOnFiveTimerTicks) {
    // The companion's object, served by a thread of its own with a message loop.
    HKEY key = nullptr;
    const std::u16string clsid = u"{F50B40AA-B60B-478D-BAC4-A369959047A8}";
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, u"Enclosure.Application\\CLSID", &key), ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                   static_cast<DWORD>((clsid.size() + 1) * 2));
    RegCloseKey(key);
    std::atomic<bool> registered{false};
    std::atomic<DWORD> serverThread{0};
    std::thread server([&] {
        CoInitialize(nullptr);
        FakeFactory factory;
        DWORD cookie = 0;
        CoRegisterClassObject(kEnclosureClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        serverThread = GetCurrentThreadId();
        registered = true;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        CoRevokeClassObject(cookie);
        CoUninitialize();
    });
    ASSERT_TRUE(PumpUntil([&] { return registered.load(); }));
    {
        CEnclosureWnd wnd;
        ASSERT_TRUE(wnd.Create());
        ASSERT_TRUE(wnd.HasDispatch());
        wnd.TurnOnSecureLed(3, TRUE);
        ASSERT_EQ(Calls(), 1u);
        EXPECT_EQ(g_calls[0], (std::pair<long, short>(3, 1)));

        // The request arrives inside a message another thread sends: the call out is refused, and the timer
        // repeats it on each of its next five ticks.
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            ::SendMessageW(wnd.GetSafeHwnd(), WM_ENCLOSURE_SECURE_LED, 5, FALSE);
            sent = true;
        });
        ASSERT_TRUE(PumpUntil([&] { return sent.load(); }));
        sender.join();
        EXPECT_EQ(Calls(), 1u);
        ASSERT_TRUE(PumpUntil([&] { return Calls() == 6u; }));
        ASSERT_TRUE(PumpUntil([] { return CEnclosureWnd::GetRetryCount() == 0; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        PumpUntil([] { return true; });
        EXPECT_EQ(Calls(), 6u);
        EXPECT_EQ(g_calls[5], (std::pair<long, short>(5, 0)));
        wnd.DestroyWindow();
    }
    PostThreadMessageW(serverThread, WM_QUIT, 0, 0);
    server.join();
}

} // namespace
