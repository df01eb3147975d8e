#include "platform/base/strings.h"

#include "platform/base/errors.h"

#include <gtest/gtest.h>

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

TEST(Strings, CopyTruncatesAndAlwaysTerminates) {
    WCHAR buffer[6];
    EXPECT_EQ(lstrcpynW(buffer, u"abcdefgh", 6), buffer);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    lstrcpynW(buffer, u"xy", 6);
    EXPECT_EQ(std::u16string(buffer), u"xy");
    lstrcpynW(buffer, u"abc", 1);
    EXPECT_EQ(buffer[0], 0);

    WCHAR small[4] = {u'q', u'q', u'q', u'q'};
    EXPECT_EQ(platform::CopyTruncated(small, 4, u"123456"), 3u);
    EXPECT_EQ(std::u16string(small), u"123");
    EXPECT_EQ(platform::CopyTruncated(small, 4, u""), 0u);
    EXPECT_EQ(small[0], 0);

    // wcsncpy keeps C semantics: no terminator when the source fills the count.
    WCHAR raw[4] = {u'z', u'z', u'z', u'z'};
    wcsncpy(raw, u"abcdef", 3);
    EXPECT_EQ(raw[3], u'z');
}

TEST(Strings, CaseInsensitiveCompare) {
    const struct {
        const char16_t* a;
        const char16_t* b;
        int sign;
    } cases[] = {
        {u"Folder", u"FOLDER", 0}, {u"straße", u"STRAßE", 0}, {u"ÄÖÜ", u"äöü", 0}, {u"Привет", u"ПРИВЕТ", 0},
        {u"abc", u"abd", -1},      {u"abc", u"ab", 1},        {u"", u"a", -1},
    };
    for (const auto& c : cases) {
        const int r = lstrcmpiW(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << Utf16ToUtf8(c.a) << " vs " << Utf16ToUtf8(c.b);
        EXPECT_EQ(platform::CompareNoCase(c.a, c.b), c.sign);
        EXPECT_EQ(_wcsicmp(c.a, c.b) == 0, c.sign == 0);
    }
    EXPECT_EQ(_wcsnicmp(u"FOLDER\\x", u"folder\\y", 7), 0);
    EXPECT_TRUE(platform::EqualsNoCase(u"C:\\Users", u"c:\\USERS"));
    // The runtime folds to lower case, the Windows string functions to upper case: '_' sorts differently.
    EXPECT_LT(_wcsicmp(u"_", u"a"), 0);
    EXPECT_GT(lstrcmpiW(u"_", u"a"), 0);
    EXPECT_EQ(lstrcmpW(nullptr, u"a"), -1);
    EXPECT_EQ(lstrlenW(nullptr), 0);

    WCHAR text[] = u"Ärger mit Öl";
    EXPECT_EQ(std::u16string(CharUpperW(text)), u"ÄRGER MIT ÖL");
    EXPECT_EQ(std::u16string(CharLowerW(text)), u"ärger mit öl");
}

TEST(Strings, Utf8RoundTrips) {
    const std::u16string samples[] = {
        u"",
        u"plain ascii",
        u"Grüße 日本語",
        u"emoji \U0001F600 pair",
        std::u16string(1, char16_t(0xD800)) + u"lone high",
        u"lone low " + std::u16string(1, char16_t(0xDC00)),
        std::u16string{char16_t(0xDBFF), u'x', char16_t(0xDFFF)},
    };
    for (const auto& s : samples)
        EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xED\xA0\x80");
}

TEST(Strings, InvalidUtf8BecomesReplacementCharacters) {
    const struct {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
        {"\xC3", u"\uFFFD"},           // truncated sequence
        {"\xC0\xAF", u"\uFFFD\uFFFD"}, // overlong
        {"\xE2\x82"
         "x",
         u"\uFFFD\uFFFDx"},                                // cut short before an ASCII byte
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
}

TEST(Strings, MultiByteConversionsReportSizesAndErrors) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, nullptr, 0), 3);
    WCHAR wide[3];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, wide, 3), 3);
    EXPECT_EQ(std::u16string(wide), u"hé");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "hello", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0x8 /* MB_ERR_INVALID_CHARS */, "\xFF", 1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"é", -1, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"é", -1, narrow, 8, nullptr, nullptr), 3);
    EXPECT_STREQ(narrow, "\xC3\xA9");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"too long", -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(Strings, NumberParsing) {
    WCHAR* end = nullptr;
    EXPECT_EQ(wcstol(u"  -42abc", &end, 10), -42);
    EXPECT_EQ(std::u16string(end), u"abc");
    EXPECT_EQ(wcstol(u"99999999999", nullptr, 10), INT32_MAX);
    EXPECT_EQ(wcstoul(u"ffffffff", nullptr, 16), 0xFFFFFFFFul);
    EXPECT_EQ(wcstoul(u"-1", nullptr, 10), 0xFFFFFFFFul);
    EXPECT_EQ(_wtoi(u"12ä"), 12);
    EXPECT_EQ(_wtoi64(u"9000000000"), 9000000000LL);
    EXPECT_DOUBLE_EQ(_wtof(u"2.5"), 2.5);
    EXPECT_EQ(std::u16string(wcsrchr(u"a\\b\\c", u'\\')), u"\\c");
    EXPECT_EQ(wcsstr(u"abc", u"x"), nullptr);
}
