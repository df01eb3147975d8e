#include "platform/base/codepage.h"
#include "platform/base/strings.h"

#include <gtest/gtest.h>

#include <string>

TEST(CodePage, EveryByteComesBackOneForOneThroughWideText) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    char16_t wide[300] = {};
    ASSERT_EQ(mbstowcs(wide, all.c_str(), 300), all.size());
    // Defined characters take their Unicode value; the undefined ones keep the byte's value.
    EXPECT_EQ(wide[0x80 - 1], u'\u20AC');
    EXPECT_EQ(wide[0x9F - 1], u'\u0178');
    EXPECT_EQ(wide[0x81 - 1], u'\u0081');
    EXPECT_EQ(wide[0x9D - 1], u'\u009D');
    EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
    char back[300] = {};
    ASSERT_EQ(wcstombs(back, wide, sizeof back), all.size());
    EXPECT_EQ(std::string(back), all);
}

TEST(CodePage, ConversionsCountStopAndRefuseCharactersOutsideTheCodePage) {
    EXPECT_EQ(wcstombs(nullptr, u"Grüße", 0), 5u);
    EXPECT_EQ(mbstowcs(static_cast<char16_t*>(nullptr), "abc", 0), 3u);
    // A character the code page lacks fails the whole conversion.
    EXPECT_EQ(wcstombs(nullptr, u"Привет", 0), static_cast<size_t>(-1));
    char out[4] = {'x', 'x', 'x', 'x'};
    // No room for the terminator: the bytes are written unterminated.
    EXPECT_EQ(wcstombs(out, u"abcd", 4), 4u);
    EXPECT_EQ(std::string(out, 4), "abcd");
    char16_t wide[3] = {};
    EXPECT_EQ(mbstowcs(wide, "\x80z", 3), 2u);
    EXPECT_EQ(std::u16string(wide), u"\u20ACz");

    // The Win32 conversions know the code page by its number; an unmappable character takes the default.
    char bytes[8] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_WINDOWS_1252, 0, u"\u20AC\u0416", 2, bytes, 8, nullptr, &usedDefault), 2);
    EXPECT_EQ(std::string(bytes, 2), "\x80?");
    EXPECT_TRUE(usedDefault);
    char16_t text[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_WINDOWS_1252, 0, "\x81\xFF", 2, text, 4), 2);
    EXPECT_EQ(std::u16string(text, 2), u"\u0081\u00FF");
}
