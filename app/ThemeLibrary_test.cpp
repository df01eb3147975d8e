#include "app/ThemeLibrary.h"

#include "app/AppTestSupport.h"
#include "app/testdata/app_test_uxtheme.h"

#include "platform/base/module.h"

namespace {

class ThemeLibraryTest : public apptest::MachineTest {};

TEST_F(ThemeLibraryTest, WithoutTheLibraryEveryMemberGivesItsFixedAnswer) {
    CThemeLibrary missing(u"B:\\no such folder\\UxTheme.dll");
    ASSERT_FALSE(missing.IsLoaded());
    RECT rc{0, 0, 10, 10};
    EXPECT_FALSE(missing.IsAppThemed());
    EXPECT_FALSE(missing.IsThemeActive());
    EXPECT_EQ(missing.OpenThemeData(nullptr, u"BUTTON"), nullptr);
    EXPECT_EQ(missing.GetWindowTheme(nullptr), nullptr);
    EXPECT_EQ(missing.DrawThemeBackground(nullptr, nullptr, 1, 1, &rc, nullptr), E_FAIL);
    EXPECT_EQ(missing.CloseThemeData(nullptr), E_FAIL);
    EXPECT_EQ(missing.EnableTheming(TRUE), E_FAIL);
    for (int index : {0, 5, 15, 30})
        EXPECT_EQ(missing.GetThemeSysColor(nullptr, index), 0xFFFFFFu);
    EXPECT_EQ(missing.GetThemeSysColorBrush(nullptr, 5), nullptr);
    EXPECT_EQ(missing.GetThemeSysSize(nullptr, 1), 0);
    EXPECT_FALSE(missing.IsThemePartDefined(nullptr, 1, 1));
    EXPECT_EQ(missing.GetThemeAppProperties(), 0u);
    missing.SetThemeAppProperties(3);
}

TEST_F(ThemeLibraryTest, WithTheLibraryCallsGoThroughAndMissingEntryPointsFallBack) {
    // A stand-in library that answers a few calls (app/testdata/app_test_uxtheme.cpp).
    CThemeLibrary theme(u"B:\\uxtheme\\UxTheme.dll");
    ASSERT_TRUE(theme.IsLoaded());
    EXPECT_TRUE(theme.IsAppThemed());
    EXPECT_TRUE(theme.IsThemeActive());
    EXPECT_EQ(theme.OpenThemeData(nullptr, u"LISTVIEW"), nullptr);
    HTHEME hTheme = theme.OpenThemeData(nullptr, u"BUTTON");
    ASSERT_NE(hTheme, nullptr);
    const RECT face{10, 20, 110, 50};
    RECT content{};
    EXPECT_EQ(theme.GetThemeBackgroundContentRect(hTheme, nullptr, 1, 3, &face, &content), S_OK);
    EXPECT_EQ(content.left, 14);
    EXPECT_EQ(content.bottom, 46);
    EXPECT_EQ(theme.GetThemeSysColor(hTheme, 5), 0x123456u);
    // The library has no such entry point.
    LOGFONTW font{};
    EXPECT_EQ(theme.GetThemeFont(hTheme, nullptr, 1, 1, 0, &font), E_FAIL);
    EXPECT_EQ(theme.GetThemeSysSize(hTheme, 1), 0);
    EXPECT_EQ(theme.CloseThemeData(hTheme), S_OK);

    // The same library, switched off: answers come from it, not from the fallbacks.
    auto setActive = reinterpret_cast<ThemeTestSetActiveProc>(
        GetProcAddress(LoadLibraryW(u"B:\\uxtheme\\UxTheme.dll"), "TestThemeSetActive"));
    ASSERT_NE(setActive, nullptr);
    setActive(FALSE);
    EXPECT_FALSE(theme.IsThemeActive());
    setActive(TRUE);

    // The program's binding takes the stand-in for a while.
    theme.Swap(g_themeLibrary);
    EXPECT_TRUE(g_themeLibrary.IsAppThemed());
    theme.Swap(g_themeLibrary);
}

} // namespace
