#include "platform/com/oleauto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Bstr, LengthTerminatorAndNull) {
    BSTR s = SysAllocString(u"abc");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[3], u'\0');
    SysFreeString(s);
    // Embedded zeros count; a null BSTR is the empty string.
    BSTR z = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(z), 3u);
    SysFreeString(z);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

VARIANT I4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

VARIANT Text(const char16_t* t) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(t);
    return x;
}

TEST(Variant, ChangeTypeTable) {
    struct Case {
        VARIANT in;
        VARTYPE to;
        HRESULT hr;
        double value;
    };
    const Case cases[] = {
        {I4(7), VT_I2, S_OK, 7},
        {I4(70000), VT_I2, DISP_E_OVERFLOW, 0},
        {I4(-1), VT_UI1, DISP_E_OVERFLOW, 0},
        {I4(5), VT_BOOL, S_OK, -1},
        {Text(u"42"), VT_I4, S_OK, 42},
        {Text(u"4x"), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Text(u""), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {I4(3), VT_R8, S_OK, 3},
    };
    for (const Case& c : cases) {
        VARIANT in = c.in;
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &in, 0, c.to), c.hr) << c.to;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(out.vt, c.to);
            VARIANT back;
            VariantInit(&back);
            ASSERT_EQ(VariantChangeType(&back, &out, 0, VT_R8), S_OK);
            EXPECT_EQ(back.dblVal, c.value);
        } else {
            EXPECT_EQ(out.vt, VT_EMPTY); // untouched on failure
        }
        VariantClear(&out);
        VariantClear(&in);
    }
}

TEST(Variant, NumbersBecomeTextAndCopiesAreDeep) {
    VARIANT n = I4(-12);
    VARIANT s;
    VariantInit(&s);
    ASSERT_EQ(VariantChangeType(&s, &n, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(s.bstrVal), u"-12");
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &s), S_OK);
    EXPECT_NE(copy.bstrVal, s.bstrVal);
    VariantClear(&s);
    EXPECT_EQ(std::u16string(copy.bstrVal), u"-12");
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
}

} // namespace
