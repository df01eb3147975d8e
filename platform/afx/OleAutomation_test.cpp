#include "platform/afx/OleDispatchDriver.h"
#include "platform/afx/OleObjectFactory.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/com/objbase.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int g_alive = 0;
long g_lastNote = 0;

class CTestServ : public CCmdTarget {
    DECLARE_DYNCREATE(CTestServ)
    DECLARE_OLECREATE(CTestServ)
public:
    CTestServ() { ++g_alive; }
    ~CTestServ() override { --g_alive; }

    long Add(long a, short b) { return a + b; }
    long Note(long value) {
        g_lastNote = value;
        return 0;
    }
    short Flag() { return 1; }

    DECLARE_DISPATCH_MAP()
};

IMPLEMENT_DYNCREATE(CTestServ, CCmdTarget)
IMPLEMENT_OLECREATE(CTestServ, "Afx.TestServ", 0x6E1F0A55, 0x2B3C, 0x4D5E, 0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6)

BEGIN_DISPATCH_MAP(CTestServ, CCmdTarget)
    DISP_FUNCTION_ID(CTestServ, "Add", 1, Add, VT_I4, VTS_I4 VTS_I2)
    DISP_FUNCTION_ID(CTestServ, "Note", 2, Note, VT_I4, VTS_I4)
    DISP_FUNCTION(CTestServ, "Flag", Flag, VT_I4, VTS_NONE)
END_DISPATCH_MAP()

std::u16string DefaultValue(const std::u16string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return u"<missing>";
    WCHAR text[2048] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size);
    RegCloseKey(key);
    return text;
}

class OleAutomation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OleInitialize(nullptr), S_OK); }
    void TearDown() override {
        COleObjectFactory::RevokeAll();
        OleUninitialize();
    }
    platform::machine::ScopedTestMachine m_machine;
};

TEST_F(OleAutomation, TheRegistryNamesTheClassAndThisProgram) {
    ASSERT_TRUE(COleObjectFactory::UpdateRegistryAll());
    const std::u16string clsid = u"{6E1F0A55-2B3C-4D5E-8F90-A1B2C3D4E5F6}";
    EXPECT_EQ(DefaultValue(u"Afx.TestServ\\CLSID"), clsid);
    EXPECT_EQ(DefaultValue(u"CLSID\\" + clsid + u"\\ProgID"), u"Afx.TestServ");
    WCHAR self[2048];
    const DWORD n = GetModuleFileNameW(nullptr, self, 2048);
    EXPECT_EQ(DefaultValue(u"CLSID\\" + clsid + u"\\LocalServer32"), std::u16string(self, n));
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(u"Afx.TestServ", &found), S_OK);
    EXPECT_EQ(found, CTestServ::guid);
    ASSERT_TRUE(COleObjectFactory::UpdateRegistryAll(FALSE));
    EXPECT_EQ(DefaultValue(u"Afx.TestServ\\CLSID"), u"<missing>");
}

TEST_F(OleAutomation, TheDriverCallsTheDispatchMapByIdAndTheObjectGoesWithItsLastClient) {
    ASSERT_TRUE(COleObjectFactory::UpdateRegistryAll());
    ASSERT_TRUE(COleObjectFactory::RegisterAll());
    {
        COleDispatchDriver driver;
        COleException error;
        ASSERT_TRUE(driver.CreateDispatch(_T("Afx.TestServ"), &error)) << std::hex << error.m_sc;
        EXPECT_EQ(g_alive, 1);
        long sum = 0;
        static const BYTE params[] = VTS_I4 VTS_I2;
        driver.InvokeHelper(1, DISPATCH_METHOD, VT_I4, &sum, params, 40L, static_cast<short>(2));
        EXPECT_EQ(sum, 42);
        static const BYTE one[] = VTS_I4;
        driver.InvokeHelper(2, DISPATCH_METHOD, VT_I4, &sum, one, 7L);
        EXPECT_EQ(g_lastNote, 7);
        // Entries without an id count by their place in the map.
        driver.InvokeHelper(3, DISPATCH_METHOD, VT_I4, &sum, reinterpret_cast<const BYTE*>(VTS_NONE));
        EXPECT_EQ(sum, 1);
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(u"note");
        EXPECT_EQ(driver.m_lpDispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        EXPECT_EQ(id, 2);

        // Failures arrive as the framework's exceptions with the status.
        struct Case {
            DISPID id;
            const BYTE* params;
            SCODE expected;
        } cases[] = {
            {1, one, DISP_E_BADPARAMCOUNT},
            {9, one, DISP_E_MEMBERNOTFOUND},
        };
        for (const Case& c : cases) {
            SCODE caught = 0;
            try {
                driver.InvokeHelper(c.id, DISPATCH_METHOD, VT_I4, &sum, c.params, 1L);
            } catch (COleException* e) {
                caught = e->m_sc;
                e->Delete();
            }
            EXPECT_EQ(caught, c.expected) << c.id;
        }
    }
    EXPECT_EQ(g_alive, 0);

    // A driver without an object does nothing, without an exception.
    COleDispatchDriver empty;
    long untouched = 5;
    static const BYTE two[] = VTS_I4 VTS_I2;
    empty.InvokeHelper(1, DISPATCH_METHOD, VT_I4, &untouched, two, 1L, static_cast<short>(1));
    EXPECT_EQ(untouched, 5);
}

} // namespace
