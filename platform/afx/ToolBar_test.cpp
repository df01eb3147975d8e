// The framework's tool bar over the toolbar control: a toolbar resource with its bitmap, the buttons' ids, images
// and styles, the click that reaches the parent, and the picture.
#include "platform/afx/ToolBar.h"

#include "platform/afx/DC.h"
#include "platform/base/machine.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class CCommandLog : public CWnd {
public:
    std::vector<UINT> commands;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        commands.push_back(LOWORD(wParam));
        return CWnd::OnCommand(wParam, lParam);
    }
};

class ToolBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr));
    }
    void TearDown() override { m_host.DestroyWindow(); }

    // The bar's picture, painted into a bitmap.
    static COLORREF PixelOf(CToolBar& bar, POINT at) {
        HDC screen = ::GetDC(bar.m_hWnd);
        HDC dc = ::CreateCompatibleDC(screen);
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 200, 40);
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        bar.SendMessage(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), 0);
        const COLORREF color = ::GetPixel(dc, at.x, at.y);
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
        ::ReleaseDC(bar.m_hWnd, screen);
        return color;
    }
    static POINT Centre(CToolBar& bar, int index) {
        RECT rc{};
        bar.GetItemRect(index, &rc);
        return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    }

    platform::machine::ScopedTestMachine m_machine;
    CCommandLog m_host;
};

TEST_F(ToolBarTest, AToolbarResourceGivesButtonsImagesAndSizes) {
    CToolBar bar;
    ASSERT_TRUE(bar.Create(&m_host, WS_CHILD | WS_VISIBLE | CBRS_TOP));
    EXPECT_EQ(bar.GetBarStyle(), CBRS_TOP);
    EXPECT_EQ(::GetWindowLongW(bar.m_hWnd, GWL_STYLE) & CBRS_ALIGN_TOP, 0);
    EXPECT_EQ(bar.GetDlgCtrlID(), static_cast<int>(AFX_IDW_TOOLBAR));
    EXPECT_FALSE(bar.LoadToolBar(799));
    ASSERT_TRUE(bar.LoadToolBar(710));
    ASSERT_EQ(bar.GetCount(), 4);
    const struct {
        UINT id;
        UINT style;
        int image;
    } expected[] = {
        {711, TBBS_BUTTON, 0}, {712, TBBS_BUTTON, 1}, {ID_SEPARATOR, TBBS_SEPARATOR, 0}, {713, TBBS_BUTTON, 2}};
    for (int i = 0; i < 4; ++i) {
        UINT id = 99, style = 99;
        int image = 99;
        bar.GetButtonInfo(i, id, style, image);
        EXPECT_EQ(id, expected[i].id) << i;
        EXPECT_EQ(style, expected[i].style) << i;
        EXPECT_EQ(image, expected[i].image) << i;
        EXPECT_EQ(bar.GetItemID(i), expected[i].id);
    }
    EXPECT_EQ(bar.CommandToIndex(713), 3);
    EXPECT_EQ(bar.CommandToIndex(714), -1);
    // Images of 16 x 15 make buttons of 23 x 22.
    EXPECT_EQ(bar.GetButtonSize().cx, 23);
    EXPECT_EQ(bar.GetButtonSize().cy, 22);
    RECT rc{};
    bar.GetItemRect(1, &rc);
    EXPECT_EQ(rc.right - rc.left, 23);
    EXPECT_NE(bar.m_hInstImageWell, nullptr);
    EXPECT_NE(bar.m_hRsrcImageWell, nullptr);

    // The strip's light grey became the button face; the squares keep their colours.
    BITMAP info{};
    ASSERT_TRUE(::GetObjectW(bar.GetBitmap(), sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 48);
    EXPECT_EQ(info.bmHeight, 15);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bar.GetBitmap());
    EXPECT_EQ(::GetPixel(dc, 0, 0), ::GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(::GetPixel(dc, 3, 2), ::GetSysColor(COLOR_BTNTEXT));
    EXPECT_EQ(::GetPixel(dc, 8, 6), RGB(255, 0, 0));
    EXPECT_EQ(::GetPixel(dc, 16 + 8, 6), RGB(0, 255, 0));
    ::SelectObject(dc, old);
    ::DeleteDC(dc);

    // Each button shows its own image.
    EXPECT_EQ(PixelOf(bar, Centre(bar, 0)), RGB(255, 0, 0));
    EXPECT_EQ(PixelOf(bar, Centre(bar, 1)), RGB(0, 255, 0));
    EXPECT_EQ(PixelOf(bar, Centre(bar, 3)), RGB(0, 0, 255));
}

TEST_F(ToolBarTest, AClickOnAnEnabledButtonSendsItsCommandToTheParent) {
    CToolBar bar;
    ASSERT_TRUE(bar.CreateEx(&m_host));
    ASSERT_TRUE(bar.LoadToolBar(710));
    auto click = [&](int index) {
        const POINT at = Centre(bar, index);
        bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        bar.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    };
    click(1);
    click(2); // the separator
    // Disabled, the third button sends nothing and shows no colour.
    bar.SetButtonStyle(3, TBBS_BUTTON | TBBS_DISABLED);
    EXPECT_EQ(bar.GetButtonStyle(3), TBBS_BUTTON | TBBS_DISABLED);
    click(3);
    EXPECT_NE(PixelOf(bar, Centre(bar, 3)), RGB(0, 0, 255));
    // A press that leaves the button before the release is no click.
    const POINT first = Centre(bar, 0);
    bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(first.x, first.y));
    bar.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(first.x, first.y + 100));
    // A check box button stays down after its click.
    bar.SetButtonInfo(0, 720, TBBS_CHECKBOX, 0);
    click(0);
    EXPECT_EQ(bar.GetButtonStyle(0), TBBS_CHECKBOX | TBBS_CHECKED);
    EXPECT_EQ(m_host.commands, (std::vector<UINT>{712, 720}));
}

} // namespace
