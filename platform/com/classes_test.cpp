#include "platform/com/com_test_object.h"
#include "platform/com/objbase.h"

#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/system/environment.h"
#include "platform/ui/message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using comtest::kClsid;

void SetDefault(const std::u16string& key, const std::u16string& value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, key.c_str(), &k), ERROR_SUCCESS);
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    RegCloseKey(k);
}

std::u16string ClsidText() {
    OLECHAR text[40];
    StringFromGUID2(kClsid, text, 40);
    return text;
}

// Registers the test server program as the class's local server, as a server's set-up would: programs are named
// by Windows paths, so the program's folder gets a letter of its own.
void RegisterServer(const std::string& program) {
    std::u16string path = platform::Utf8ToUtf16(program);
    const size_t slash = program.rfind('/');
    if (slash != std::string::npos) {
        platform::fs::DriveInfo drive;
        drive.letter = u'S';
        drive.hostRoot = program.substr(0, slash);
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        path = u"S:\\" + platform::Utf8ToUtf16(program.substr(slash + 1));
    }
    SetDefault(u"CLSID\\" + ClsidText() + u"\\LocalServer32", path);
    SetDefault(u"Test.Object\\CLSID", ClsidText());
}

class ComClasses : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }

    platform::machine::ScopedTestMachine m_machine;
};

HRESULT Call(IDispatch* d, DISPID id, VARIANT* result, std::initializer_list<VARIANT> args = {}) {
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    UINT argErr = 0;
    VariantInit(result);
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, &argErr);
}

VARIANT I4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

IDispatch* Create() {
    IDispatch* d = nullptr;
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)),
              S_OK);
    return d;
}

TEST(ClassIds, TextRoundTripAndBadForms) {
    CLSID id{};
    ASSERT_EQ(CLSIDFromString(u"{f50b40aa-b60b-478d-bac4-a369959047a8}", &id), S_OK);
    OLECHAR text[40];
    ASSERT_EQ(StringFromGUID2(id, text, 40), 39);
    EXPECT_EQ(std::u16string(text), u"{F50B40AA-B60B-478D-BAC4-A369959047A8}");
    EXPECT_EQ(StringFromGUID2(id, text, 38), 0);
    for (const char16_t* bad : {u"", u"F50B40AA-B60B-478D-BAC4-A369959047A8", u"{F50B40AA-B60B-478D-BAC4-A369959047AG}",
                                u"{F50B40AAB-60B-478D-BAC4-A369959047A8}"})
        EXPECT_EQ(CLSIDFromString(bad, &id), CO_E_CLASSSTRING) << platform::Utf16ToUtf8(bad);
}

TEST_F(ComClasses, ProgIdsAreFoundInTheClassRegistry) {
    CLSID id{};
    EXPECT_EQ(CLSIDFromProgID(u"Test.Object", &id), CO_E_CLASSSTRING);
    RegisterServer("nonexistent");
    ASSERT_EQ(CLSIDFromProgID(u"Test.Object", &id), S_OK);
    EXPECT_EQ(id, kClsid);
}

TEST_F(ComClasses, NoApartmentNoClassNoServer) {
    IDispatch* d = nullptr;
    std::thread([&] {
        EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)),
                  CO_E_NOTINITIALIZED);
    }).join();
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)),
              REGDB_E_CLASSNOTREG);
    // A registered program that ends without registering its factory is an error at once, not a hang.
    SetEnvironmentVariableW(u"COM_TEST_SERVER_FAILS", u"1");
    RegisterServer(COM_TEST_SERVER);
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)),
              CO_E_SERVER_EXEC_FAILURE);
    SetEnvironmentVariableW(u"COM_TEST_SERVER_FAILS", nullptr);
    EXPECT_EQ(d, nullptr);
}

TEST_F(ComClasses, ALocalServerIsStartedOnDemandAndServesEveryClient) {
    RegisterServer(COM_TEST_SERVER);
    IDispatch* first = Create();
    ASSERT_NE(first, nullptr);
    VARIANT r;
    ASSERT_EQ(Call(first, comtest::kEmbedding, &r), S_OK);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);
    ASSERT_EQ(Call(first, comtest::kAdd, &r, {I4(40), I4(2)}), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 42);
    // Text goes both ways.
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"Grüße");
    ASSERT_EQ(Call(first, comtest::kEcho, &r, {text}), S_OK);
    EXPECT_EQ(std::u16string(r.bstrVal), u"Grüße");
    VariantClear(&r);
    VariantClear(&text);
    // The server's own checks of the arguments come back as they are.
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = VT_BSTR;
    bad.bstrVal = SysAllocString(u"x");
    EXPECT_EQ(Call(first, comtest::kAdd, &r, {I4(1), bad}), DISP_E_TYPEMISMATCH);
    VariantClear(&bad);
    EXPECT_EQ(Call(first, 99, &r), DISP_E_MEMBERNOTFOUND);
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(u"Add");
    EXPECT_EQ(first->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, comtest::kAdd);

    // A second client reaches the same server; calls arrive on its one thread.
    IDispatch* second = Create();
    ASSERT_NE(second, nullptr);
    VARIANT p1, p2, t1, t2;
    ASSERT_EQ(Call(first, comtest::kProcessId, &p1), S_OK);
    ASSERT_EQ(Call(second, comtest::kProcessId, &p2), S_OK);
    EXPECT_EQ(p1.lVal, p2.lVal);
    ASSERT_EQ(Call(first, comtest::kThreadId, &t1), S_OK);
    ASSERT_EQ(Call(second, comtest::kThreadId, &t2), S_OK);
    EXPECT_EQ(t1.lVal, t2.lVal);
    ASSERT_EQ(Call(second, comtest::kObjects, &r), S_OK);
    EXPECT_EQ(r.lVal, 2);
    // Releasing a client's reference lets go of its object in the server.
    second->Release();
    EXPECT_TRUE([&] {
        for (int i = 0; i < 2000; ++i) {
            if (Call(first, comtest::kObjects, &r) == S_OK && r.lVal == 1)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }());

    // The server ends: calls fail at once instead of hanging, and the next creation starts it again.
    EXPECT_EQ(Call(first, comtest::kQuit, &r), S_OK);
    HRESULT hr = S_OK;
    for (int i = 0; i < 2000 && SUCCEEDED(hr); ++i) {
        hr = Call(first, comtest::kAdd, &r, {I4(1), I4(1)});
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    first->Release();
    IDispatch* again = Create();
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(Call(again, comtest::kProcessId, &r), S_OK);
    EXPECT_NE(r.lVal, p1.lVal);
    EXPECT_EQ(Call(again, comtest::kCrash, &r), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(Call(again, comtest::kAdd, &r, {I4(1), I4(1)}), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    again->Release();
}

TEST_F(ComClasses, CallsFromOtherThreadsArriveOnTheRegisteringThread) {
    comtest::TestFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    DWORD other = 0;
    EXPECT_EQ(CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &other),
              CO_E_OBJISREG);
    // On the registering thread the factory serves directly.
    IDispatch* local = Create();
    ASSERT_NE(local, nullptr);
    VARIANT r;
    ASSERT_EQ(Call(local, comtest::kThreadId, &r), S_OK);
    EXPECT_EQ(static_cast<DWORD>(r.lVal), GetCurrentThreadId());
    local->Release();

    std::atomic<bool> done{false};
    DWORD seen = 0;
    std::thread client([&] {
        CoInitialize(nullptr);
        IDispatch* d = Create();
        VARIANT t;
        if (d && Call(d, comtest::kThreadId, &t) == S_OK)
            seen = static_cast<DWORD>(t.lVal);
        if (d)
            d->Release();
        CoUninitialize();
        done = true;
    });
    // This thread takes messages while the client calls, as a server's message loop does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    client.join();
    EXPECT_EQ(seen, GetCurrentThreadId());
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
    EXPECT_EQ(comtest::TestObject::s_alive, 0);
}

} // namespace
