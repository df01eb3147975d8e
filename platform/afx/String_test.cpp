#include "platform/afx/String.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

std::u16string S(const CString& s) {
    return std::u16string(static_cast<LPCTSTR>(s));
}

TEST(StringTest, SubstringsClipLikeTheFramework) {
    const CString s(u"abcdef");
    struct Case {
        const char* what;
        CString result;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"Mid(2)", s.Mid(2), u"cdef"},
        {"Mid(2,2)", s.Mid(2, 2), u"cd"},
        {"Mid(4,10)", s.Mid(4, 10), u"ef"},
        {"Mid(6)", s.Mid(6), u""},
        {"Mid(10,2)", s.Mid(10, 2), u""},
        {"Mid(-3,2)", s.Mid(-3, 2), u"ab"},
        {"Mid(1,-1)", s.Mid(1, -1), u""},
        {"Left(3)", s.Left(3), u"abc"},
        {"Left(99)", s.Left(99), u"abcdef"},
        {"Left(-1)", s.Left(-1), u""},
        {"Right(2)", s.Right(2), u"ef"},
        {"Right(99)", s.Right(99), u"abcdef"},
        {"Right(0)", s.Right(0), u""},
        {"SpanIncluding", CString(u"aabbcx").SpanIncluding(u"ab"), u"aabb"},
        {"SpanExcluding", CString(u"key=value").SpanExcluding(u"=;"), u"key"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(S(c.result), c.expected) << c.what;
}

TEST(StringTest, SearchesAndComparisons) {
    const CString s(u"C:\\Data\\file.txt");
    EXPECT_EQ(s.Find(u'\\'), 2);
    EXPECT_EQ(s.Find(u'\\', 3), 7);
    EXPECT_EQ(s.Find(u'\\', 100), -1);
    EXPECT_EQ(s.Find(u"Data"), 3);
    EXPECT_EQ(s.Find(u"data"), -1);
    EXPECT_EQ(s.Find(u"", 2), 2);
    EXPECT_EQ(s.ReverseFind(u'\\'), 7);
    EXPECT_EQ(s.ReverseFind(u'/'), -1);
    EXPECT_EQ(s.FindOneOf(u".:"), 1);

    EXPECT_EQ(CString(u"abc").Compare(u"abd"), -1);
    EXPECT_EQ(CString(u"abc").Compare(u"abc"), 0);
    EXPECT_EQ(CString(u"b").Compare(u"abc"), 1);
    EXPECT_EQ(CString(u"TRUE").CompareNoCase(u"true"), 0);
    EXPECT_LT(CString(u"apple").CompareNoCase(u"Banana"), 0);
    EXPECT_TRUE(CString(u"x") == u"x");
    EXPECT_TRUE(u"x" == CString(u"x"));
    EXPECT_TRUE(CString(u"x") != CString(u"y"));
    EXPECT_TRUE(CString(u"a") < CString(u"b"));
}

TEST(StringTest, EditsReturnWhatTheFrameworkReturns) {
    CString s(u"  \t hello world \r\n");
    s.Trim();
    EXPECT_EQ(S(s), u"hello world");
    CString t(u"xxhixx");
    t.TrimLeft(u'x');
    EXPECT_EQ(S(t), u"hixx");
    t.TrimRight(u"x");
    EXPECT_EQ(S(t), u"hi");
    CString blank(u"   ");
    blank.TrimLeft();
    EXPECT_TRUE(blank.IsEmpty());

    CString r(u"a.b.c");
    EXPECT_EQ(r.Replace(u".", u"::"), 2);
    EXPECT_EQ(S(r), u"a::b::c");
    EXPECT_EQ(r.Replace(u"::", u""), 2);
    EXPECT_EQ(S(r), u"abc");
    EXPECT_EQ(r.Replace(u'z', u'y'), 0);
    EXPECT_EQ(r.Replace(u"", u"x"), 0);
    EXPECT_EQ(r.Remove(u'b'), 1);
    EXPECT_EQ(S(r), u"ac");
    EXPECT_EQ(r.Insert(1, u'b'), 3);
    EXPECT_EQ(r.Insert(100, u"!?"), 5);
    EXPECT_EQ(S(r), u"abc!?");
    EXPECT_EQ(r.Delete(3, 10), 3);
    EXPECT_EQ(r.Delete(10), 3);
    EXPECT_EQ(S(r), u"abc");

    CString c(u"MiXeD \u00e9");
    c.MakeUpper();
    EXPECT_EQ(S(c), u"MIXED \u00c9");
    c.MakeLower();
    EXPECT_EQ(S(c), u"mixed \u00e9");

    // The framework's own text may be the source of an assignment or append.
    CString self(u"abc");
    self += static_cast<LPCTSTR>(self);
    EXPECT_EQ(S(self), u"abcabc");
    self = static_cast<LPCTSTR>(self) + 3;
    EXPECT_EQ(S(self), u"abc");
}

TEST(StringTest, FormatUsesWindowsConversions) {
    CString s;
    s.Format(u"%s has %d files of %I64d bytes (%S) %c%%", u"Backup", 3, 5000000000LL, "narrow", u'!');
    EXPECT_EQ(S(s), u"Backup has 3 files of 5000000000 bytes (narrow) !%");
    s.Format(u"%04x%04x", 0x409, 1200);
    EXPECT_EQ(S(s), u"040904b0");
    CString name(u"name");
    s.Format(u"[%-6s]", static_cast<LPCTSTR>(name));
    EXPECT_EQ(S(s), u"[name  ]");
    s.AppendFormat(u"%d", 7);
    EXPECT_EQ(S(s), u"[name  ]7");
}

TEST(StringTest, BuffersAndConstruction) {
    CString s;
    LPTSTR buffer = s.GetBuffer(10);
    buffer[0] = u'h';
    buffer[1] = u'i';
    buffer[2] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_EQ(S(s), u"hi");
    buffer = s.GetBufferSetLength(4);
    buffer[2] = u'!';
    buffer[3] = u'?';
    s.ReleaseBuffer(3);
    EXPECT_EQ(S(s), u"hi!");

    EXPECT_EQ(S(CString(u'-', 3)), u"---");
    EXPECT_EQ(S(CString(u"abcdef", 2)), u"ab");
    EXPECT_EQ(S(CString("caf\xc3\xa9")), u"caf\u00e9");
    EXPECT_EQ(S(CString(static_cast<LPCTSTR>(nullptr))), u"");
    EXPECT_EQ(S(CString(u"a") + u"b" + CString(u"c") + u'd'), u"abcd");
    EXPECT_EQ(CString(u"x")[0], u'x');
    EXPECT_EQ(std::hash<CString>()(CString(u"k")), std::hash<CString>()(CString(u"k")));

    int start = 0;
    const CString list(u"a;;b;c");
    std::u16string tokens;
    for (CString token = list.Tokenize(u";", start); start != -1; token = list.Tokenize(u";", start))
        tokens += S(token) + u"|";
    EXPECT_EQ(tokens, u"a|b|c|");
}

} // namespace
