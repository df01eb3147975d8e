#include "platform/base/format.h"

#include "platform/base/strings.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::string Narrow(const std::u16string& s) {
    return platform::Utf16ToUtf8(s);
}

} // namespace

// Each row formats its own arguments, so the table is a list of (expected, actual) pairs.
TEST(Format, WindowsPrintfSemantics) {
    const void* pointer = reinterpret_cast<const void*>(static_cast<uintptr_t>(0x12FF7C));
    const struct {
        std::u16string expected;
        std::u16string actual;
    } cases[] = {
        {u"plain", platform::Format(u"plain")},
        {u"100%", platform::Format(u"100%%")},
        {u"[wide]", platform::Format(u"[%s]", u"wide")},
        {u"[narrow]", platform::Format(u"[%S]", "narrow")},
        {u"[narrow]", platform::Format(u"[%hs]", "narrow")},
        {u"[wide]", platform::Format(u"[%ls]", u"wide")},
        {u"[wide]", platform::Format(u"[%ws]", u"wide")},
        {u"[Grüße]", platform::Format(u"[%S]", "Gr\xC3\xBC\xC3\x9F"
                                               "e")},
        {u"(null)", platform::Format(u"%s", static_cast<const char16_t*>(nullptr))},
        {u"(null)", platform::Format(u"%S", static_cast<const char*>(nullptr))},
        {u"x|y", platform::Format(u"%c|%C", u'x', 'y')},
        {u"[  abc]", platform::Format(u"[%5s]", u"abc")},
        {u"[abc  ]", platform::Format(u"[%-5s]", u"abc")},
        {u"[ab]", platform::Format(u"[%.2s]", u"abcdef")},
        {u"[000ab][ab   ]", platform::Format(u"[%05s][%-05s]", u"ab", u"ab")},
        {u"[   ab]", platform::Format(u"[%*.*s]", 5, 2, u"abcdef")},
        {u"[ab   ]", platform::Format(u"[%*s]", -5, u"ab")},
        {u"-42 42 4294967254", platform::Format(u"%d %i %u", -42, 42, -42)},
        {u"ff FF 377 0xff 0XFF 0377", platform::Format(u"%x %X %o %#x %#X %#o", 255, 255, 255, 255, 255, 255)},
        {u"[  -42][-42  ][-0042][+42][ 42]", platform::Format(u"[%5d][%-5d][%05d][%+d][% d]", -42, -42, -42, 42, 42)},
        {u"[00042][  042]", platform::Format(u"[%.5d][%5.3d]", 42, 42)},
        {u"[]", platform::Format(u"[%.0d]", 0)},
        {u"-1 4294967295", platform::Format(u"%ld %lu", -1, 0xFFFFFFFFu)},
        {u"-1 65535", platform::Format(u"%hd %hu", 0xFFFF, 0xFFFF)},
        {u"9223372036854775807 -9223372036854775808", platform::Format(u"%I64d %lld", LLONG_MAX, LLONG_MIN)},
        {u"18446744073709551615", platform::Format(u"%I64u", ULLONG_MAX)},
        {u"fedcba9876543210", platform::Format(u"%I64x", 0xFEDCBA9876543210ull)},
        {u"7 8", platform::Format(u"%I32d %Iu", 7, static_cast<size_t>(8))},
        {u"000000000012FF7C", platform::Format(u"%p", pointer)},
        {u"3.141593 3.14 3.1e+00 2.5E+10",
         platform::Format(u"%f %.2f %.1e %.1E", 3.1415926, 3.1415926, 3.1415926, 2.5e10)},
        {u"0.0001 1e+06 [  1.5]", platform::Format(u"%g %g [%5.1f]", 0.0001, 1e6, 1.5)},
        {u"12.5 MB", platform::Format(u"%.1f %s", 12.5, u"MB")},
        {u"%y", platform::Format(u"%y")},
        {u"end%", platform::Format(u"end%")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Narrow(c.actual), Narrow(c.expected));
}

TEST(Format, NarrowFormatSwapsStringWidths) {
    auto format = [](const char* f, ...) {
        va_list args;
        va_start(args, f);
        std::string s = platform::FormatNarrowV(f, args);
        va_end(args);
        return s;
    };
    EXPECT_EQ(format("%s and %S", "narrow", u"wide"), "narrow and wide");
    EXPECT_EQ(format("%c%C", 'a', u'é'), "a\xC3\xA9");
    EXPECT_EQ(format("%s: %d\n", "Worker", 3), "Worker: 3\n");
}

TEST(Format, BufferFunctionsTruncateAsWindowsDoes) {
    WCHAR buffer[8];
    EXPECT_EQ(swprintf_s(buffer, 8, u"%d", 1234), 4);
    EXPECT_EQ(std::u16string(buffer), u"1234");
    EXPECT_EQ(swprintf_s(buffer, 8, u"%s", u"0123456789"), -1);
    EXPECT_EQ(std::u16string(buffer), u"0123456");

    // _snwprintf fills the buffer and leaves the terminator out when the text does not fit with it.
    WCHAR raw[5] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(_snwprintf(raw, 4, u"%s", u"abcdef"), -1);
    EXPECT_EQ(std::u16string(raw, 5), u"abcd#");
    EXPECT_EQ(_snwprintf(raw, 4, u"%s", u"wxyz"), 4);
    EXPECT_EQ(std::u16string(raw, 5), u"wxyz#");
    EXPECT_EQ(_snwprintf(raw, 4, u"%s", u"ab"), 2);
    EXPECT_EQ(std::u16string(raw), u"ab");

    std::u16string big(3000, u'x');
    std::u16string out(2048, u'\0');
    EXPECT_EQ(wsprintfW(out.data(), u"%s", big.c_str()), 1023);
    EXPECT_EQ(out[1023], 0);
}
