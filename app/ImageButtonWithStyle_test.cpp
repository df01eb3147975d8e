#include "app/ImageButtonWithStyle.h"

#include "app/AppTestSupport.h"
#include "app/ThemeLibrary.h"
#include "app/testdata/app_test_uxtheme.h"

#include "platform/base/module.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/controls.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr int kButtonId = 7;

class ImageButtonTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        // The program's binding takes a stand-in of the visual-styles library that records what it is asked to draw.
        m_theme = std::make_unique<CThemeLibrary>(u"B:\\uxtheme\\UxTheme.dll");
        ASSERT_TRUE(m_theme->IsLoaded());
        m_theme->Swap(g_themeLibrary);
        HMODULE library = LoadLibraryW(u"B:\\uxtheme\\UxTheme.dll");
        m_setActive = reinterpret_cast<ThemeTestSetActiveProc>(GetProcAddress(library, "TestThemeSetActive"));
        m_calls = reinterpret_cast<ThemeTestCallsProc>(GetProcAddress(library, "TestThemeCalls"));
        ASSERT_TRUE(m_setActive && m_calls);
        m_setActive(TRUE);
        Calls();
        ASSERT_TRUE(m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr));
        // A canvas of the button's size, white, and a red 10 x 8 bitmap.
        m_dc = CreateCompatibleDC(nullptr);
        m_canvas = CreateBitmap(100, 40, 1, 32, nullptr);
        SelectObject(m_dc, m_canvas);
        m_image = CreateBitmap(10, 8, 1, 32, nullptr);
        HDC imageDc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(imageDc, m_image);
        const RECT all{0, 0, 10, 8};
        HBRUSH red = CreateSolidBrush(kRed);
        FillRect(imageDc, &all, red);
        DeleteObject(red);
        SelectObject(imageDc, old);
        DeleteDC(imageDc);
    }
    void TearDown() override {
        if (m_button.GetSafeHwnd())
            m_button.DestroyWindow();
        m_parent.DestroyWindow();
        DeleteDC(m_dc);
        DeleteObject(m_canvas);
        DeleteObject(m_image);
        if (m_theme)
            m_theme->Swap(g_themeLibrary);
    }

    void MakeButton(DWORD style) {
        if (m_button.GetSafeHwnd())
            m_button.DestroyWindow();
        ASSERT_TRUE(m_button.Create(u"", WS_CHILD | WS_VISIBLE | style, RECT{0, 0, 100, 40}, &m_parent, kButtonId));
        m_button.SetBitmap(m_image);
    }
    // The button's custom draw, as its parent receives it and reflects it; the answer.
    LRESULT Draw(DWORD stage, UINT itemState = 0) {
        const RECT all{0, 0, 100, 40};
        HBRUSH white = CreateSolidBrush(kWhite);
        FillRect(m_dc, &all, white);
        DeleteObject(white);
        NMCUSTOMDRAW draw{};
        draw.hdr.hwndFrom = m_button.GetSafeHwnd();
        draw.hdr.idFrom = kButtonId;
        draw.hdr.code = NM_CUSTOMDRAW;
        draw.dwDrawStage = stage;
        draw.hdc = m_dc;
        draw.rc = all;
        draw.uItemState = itemState;
        return m_parent.SendMessage(WM_NOTIFY, kButtonId, reinterpret_cast<LPARAM>(&draw));
    }
    ThemeTestCalls Calls() {
        ThemeTestCalls calls;
        m_calls(&calls, TRUE);
        return calls;
    }
    COLORREF Pixel(int x, int y) const { return GetPixel(m_dc, x, y); }

    std::unique_ptr<CThemeLibrary> m_theme;
    ThemeTestSetActiveProc m_setActive = nullptr;
    ThemeTestCallsProc m_calls = nullptr;
    CWnd m_parent;
    CImageButtonWithStyle m_button;
    HDC m_dc = nullptr;
    HBITMAP m_canvas = nullptr;
    HBITMAP m_image = nullptr;
};

TEST_F(ImageButtonTest, AThemedImageButtonGetsTheFaceOfItsStateAndItsImageInTheContent) {
    const struct {
        DWORD style;
        UINT itemState;
        int faceState;
    } cases[] = {
        {BS_PUSHBUTTON | BS_BITMAP, 0, 1},                           // normal
        {BS_PUSHBUTTON | BS_BITMAP, CDIS_HOT, 2},                    // hot
        {BS_PUSHBUTTON | BS_BITMAP, CDIS_SELECTED | CDIS_HOT, 3},    // pressed
        {BS_DEFPUSHBUTTON | BS_BITMAP, 0, 5},                        // the default button
        {BS_PUSHBUTTON | BS_BITMAP | WS_DISABLED, CDIS_SELECTED, 4}, // disabled, whatever else
    };
    for (const auto& c : cases) {
        MakeButton(c.style);
        EXPECT_EQ(Draw(CDDS_PREPAINT, c.itemState), CDRF_SKIPDEFAULT);
        const ThemeTestCalls calls = Calls();
        EXPECT_EQ(calls.backgrounds, 1);
        EXPECT_EQ(calls.lastPart, 1);
        EXPECT_EQ(calls.lastState, c.faceState) << c.style << " " << c.itemState;
        EXPECT_EQ(calls.opens, calls.closes);
        // The image sits centred in the face's content (4 pixels inside): 10 x 8 in 92 x 32 from (45, 16).
        const bool disabled = (c.style & WS_DISABLED) != 0;
        EXPECT_EQ(Pixel(45, 16) == kRed, !disabled);
        EXPECT_NE(Pixel(44, 16), kRed);
        EXPECT_NE(Pixel(45, 15), kRed);
        EXPECT_EQ(Pixel(54, 23) == kRed, !disabled);
        EXPECT_NE(Pixel(55, 23), kRed);
    }
    // The erase stage draws the parent's background first.
    MakeButton(BS_PUSHBUTTON | BS_BITMAP);
    EXPECT_EQ(Draw(CDDS_PREERASE), CDRF_SKIPDEFAULT);
    EXPECT_EQ(Calls().parentBackgrounds, 1);
    // The focus rectangle goes round the content.
    EXPECT_EQ(Draw(CDDS_PREPAINT, CDIS_FOCUS), CDRF_SKIPDEFAULT);
    int framed = 0;
    for (int x = 4; x < 96; ++x)
        framed += Pixel(x, 4) != kWhite;
    EXPECT_GT(framed, 20);
    // Other stages are the default drawing's.
    EXPECT_EQ(Draw(CDDS_POSTPAINT), CDRF_DODEFAULT);
}

TEST_F(ImageButtonTest, WithoutVisualStylesOrWithoutAnImageTheDefaultDrawingDoesItAll) {
    MakeButton(BS_PUSHBUTTON);
    EXPECT_EQ(Draw(CDDS_PREPAINT), CDRF_DODEFAULT);
    EXPECT_EQ(Calls().backgrounds, 0);
    m_setActive(FALSE);
    MakeButton(BS_PUSHBUTTON | BS_BITMAP);
    EXPECT_EQ(Draw(CDDS_PREPAINT), CDRF_DODEFAULT);
    EXPECT_EQ(Calls().opens, 0);
    EXPECT_EQ(Pixel(45, 16), kWhite);
    // Without the library at all, the same.
    m_theme->Swap(g_themeLibrary);
    m_setActive(TRUE);
    EXPECT_EQ(Draw(CDDS_PREPAINT), CDRF_DODEFAULT);
    m_theme->Swap(g_themeLibrary);
}

TEST_F(ImageButtonTest, TheImageIsPlacedByTheAlignmentBits) {
    const RECT rc{10, 20, 110, 60};
    const struct {
        DWORD style;
        int left;
        int top;
    } cases[] = {
        {0, 55, 36},                    // centred
        {BS_LEFT, 10, 36},              //
        {BS_RIGHT, 100, 36},            //
        {BS_CENTER | BS_TOP, 55, 20},   //
        {BS_BOTTOM, 55, 52},            //
        {BS_VCENTER | BS_LEFT, 10, 36}, //
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CImageButtonWithStyle::GetImageLeft(10, rc, c.style), c.left) << c.style;
        EXPECT_EQ(CImageButtonWithStyle::GetImageTop(8, rc, c.style), c.top) << c.style;
    }
    // An image larger than the rectangle starts at its edge, whatever the alignment.
    EXPECT_EQ(CImageButtonWithStyle::GetImageLeft(200, rc, BS_RIGHT), 10);
    EXPECT_EQ(CImageButtonWithStyle::GetImageTop(90, rc, BS_BOTTOM), 20);
}

} // namespace
