// The picture window and the picture buttons: layouts, faces, images, hover, clicks.
#include "app/BCMenu.h"
#include "app/PictureButton.h"
#include "app/PictureWnd.h"

#include "app/AppTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/controls.h"
#include "platform/ui/menu.h"
#include "platform/ui/message.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

#include <vector>

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kMagenta = RGB(255, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// A bitmap of one colour, with an optional frame of another.
HBITMAP MakeBitmap(int width, int height, COLORREF fill, COLORREF frame, int frameWidth = 0) {
    HBITMAP bitmap = CreateBitmap(width, height, 1, 32, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all{0, 0, width, height};
    HBRUSH frameBrush = CreateSolidBrush(frame);
    FillRect(dc, &all, frameBrush);
    DeleteObject(frameBrush);
    const RECT inner{frameWidth, frameWidth, width - frameWidth, height - frameWidth};
    HBRUSH fillBrush = CreateSolidBrush(fill);
    FillRect(dc, &inner, fillBrush);
    DeleteObject(fillBrush);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

COLORREF PixelOf(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    const COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return color;
}

// A parent that counts the buttons' clicks and keeps the commands and the menu callbacks it gets.
class CClickParent : public CWnd {
public:
    int clicks = 0;
    std::vector<UINT> commands;
    std::vector<WPARAM> callbacks;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_APP + 7) {
            callbacks.push_back(wParam);
            return 0;
        }
        if (message == WM_COMMAND && lParam == 0)
            commands.push_back(LOWORD(wParam));
        return CWnd::WindowProc(message, wParam, lParam);
    }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        // The button sees its click first (reflected), then the parent.
        const BOOL handled = CWnd::OnCommand(wParam, lParam);
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0)
            ++clicks;
        return handled;
    }
};

class PictureTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        ASSERT_TRUE(
            m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr));
    }
    void TearDown() override { m_parent.DestroyWindow(); }

    CClickParent m_parent;
};

TEST_F(PictureTest, DrawModesAndAlignmentsPlaceThePicture) {
    CPictureWnd picture;
    ASSERT_TRUE(picture.Create(WS_CHILD | WS_VISIBLE, RECT{0, 0, 100, 100}, &m_parent, 5));
    HBITMAP wide = MakeBitmap(40, 20, kRed, kRed);
    picture.SetBitmap(wide);
    // Natural size at the top left, the rest in the background brush.
    EXPECT_EQ(picture.GetDestRect(), CRect(0, 0, 40, 20));
    picture.SetBkBrush(static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    picture.UpdateWindow();
    EXPECT_EQ(PixelOf(picture, 10, 10), kRed);
    EXPECT_EQ(PixelOf(picture, 60, 10), kWhite);
    EXPECT_EQ(PixelOf(picture, 10, 60), kWhite);

    const struct {
        int mode;
        int alignX, alignY;
        CRect dest;
    } cases[] = {
        {6, 2, 3, CRect(0, 25, 100, 75)},  // whole picture, centred vertically: equal strips above and below
        {7, 3, 3, CRect(-50, 0, 150, 100)}, // client filled, picture cut
        {3, 2, 2, CRect(0, 0, 100, 100)},   // stretched
        {4, 2, 4, CRect(0, 50, 100, 100)},  // fitted to the width, at the bottom
        {5, 4, 2, CRect(-100, 0, 100, 100)}, // fitted to the height, at the right
        {8, 2, 2, CRect(0, 0, 100, 100)},   // tiles cover the client area
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        picture.SetAlign(c.alignX, c.alignY);
        picture.SetDrawMode(c.mode);
        picture.RecalcLayout(TRUE);
        EXPECT_EQ(picture.GetDestRect(), c.dest);
    }
    // Mode 6 with centred picture: the strips above and below are the background.
    picture.SetAlign(2, 3);
    picture.SetDrawMode(6);
    picture.UpdateWindow();
    EXPECT_EQ(PixelOf(picture, 50, 10), kWhite);
    EXPECT_EQ(PixelOf(picture, 50, 50), kRed);
    EXPECT_EQ(PixelOf(picture, 50, 90), kWhite);

    // Unknown modes are the natural size; an alignment equal to the current one, or out of range, is ignored.
    picture.SetDrawMode(9);
    EXPECT_EQ(picture.GetDrawMode(), 2);
    picture.SetDrawMode(0);
    EXPECT_EQ(picture.GetDrawMode(), 2);
    picture.SetAlign(5, 5);
    EXPECT_EQ(picture.GetAlignX(), 2);
    EXPECT_EQ(picture.GetAlignY(), 3);
    picture.SetOffset(7, 9);
    EXPECT_EQ(picture.GetDestRect(), CRect(7, 9, 47, 29));
    picture.SetScale(0.5);
    EXPECT_EQ(picture.GetDrawMode(), 1);
    EXPECT_EQ(picture.GetDestRect(), CRect(7, 9, 27, 19));

    // No client width: nothing to show.
    picture.MoveWindow(0, 0, 0, 100);
    EXPECT_TRUE(picture.GetDestRect().IsRectEmpty());
    // The caller's bitmap stays the caller's.
    picture.DestroyWindow();
    picture.SetBitmap(static_cast<HBITMAP>(nullptr));
    BITMAP bm{};
    EXPECT_TRUE(GetObjectW(wide, sizeof bm, &bm));
    DeleteObject(wide);
}

TEST_F(PictureTest, ReplaceStaticTakesItsPlaceAndItsBitmap) {
    CWnd staticWnd;
    ASSERT_TRUE(staticWnd.CreateEx(0, WC_STATICW, u"", WS_CHILD | WS_VISIBLE | SS_BITMAP, 10, 20, 60, 30,
                                   m_parent.GetSafeHwnd(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(2309))));
    HBITMAP bitmap = MakeBitmap(30, 30, kBlue, kBlue);
    staticWnd.SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    CPictureWnd picture;
    ASSERT_TRUE(picture.ReplaceStatic(&staticWnd));
    EXPECT_EQ(staticWnd.GetSafeHwnd(), nullptr);
    EXPECT_EQ(picture.GetDlgCtrlID(), 2309);
    CRect rect;
    picture.GetWindowRect(&rect);
    m_parent.ScreenToClient(&rect.TopLeft());
    EXPECT_EQ(rect.TopLeft(), CPoint(10, 20));
    EXPECT_EQ(picture.GetBitmap(), bitmap);
    EXPECT_EQ(picture.GetDrawMode(), 6);
    CWnd none;
    EXPECT_FALSE(CPictureWnd().ReplaceStatic(&none));
    // Released with deletion: the window owns the bitmap and deletes it.
    EXPECT_EQ(picture.ReleaseBitmap(TRUE), bitmap);
    EXPECT_EQ(picture.GetBitmap(), nullptr);
    BITMAP bm{};
    EXPECT_FALSE(GetObjectW(bitmap, sizeof bm, &bm));
}

class ButtonTest : public PictureTest {
protected:
    void MakeButton(CPictureButton& button, DWORD type = BS_PUSHBUTTON) {
        HWND hwnd = CreateWindowExW(0, WC_BUTTONW, u"", WS_CHILD | WS_VISIBLE | type, 10, 10, 100, 60,
                                    m_parent.GetSafeHwnd(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(7)),
                                    nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(button.SubclassDlgItem(7, &m_parent));
    }
    // Where a 20 x 10 image sits in the 100 x 60 button without caption: centred.
    static constexpr int kImageX = 40, kImageY = 25;
};

TEST_F(ButtonTest, SettersCheckTheirArguments) {
    CPictureButton button;
    EXPECT_EQ(button.SetStateColor(6, 0), CPictureButton::BTNST_INVALIDINDEX);
    EXPECT_EQ(button.SetImageLayout(4), CPictureButton::BTNST_INVALIDALIGN);
    EXPECT_EQ(button.SetPressedStyle(2), CPictureButton::BTNST_INVALIDPRESSEDSTYLE);
    EXPECT_EQ(button.ShiftStateColor(0, 300), CPictureButton::BTNST_BADPARAM);
    EXPECT_EQ(button.SetBitmaps(12345, 0, 0, 0), CPictureButton::BTNST_INVALIDRESOURCE);
    // One amount for all three channels: +40 on (100, 230, 100) moves each by 25.
    ASSERT_EQ(button.SetStateColor(CPictureButton::BTNST_COLOR_BK_IN, RGB(100, 230, 100), FALSE), 0u);
    ASSERT_EQ(button.ShiftStateColor(CPictureButton::BTNST_COLOR_BK_IN, 40, FALSE), 0u);
    COLORREF color = 0;
    ASSERT_EQ(button.GetStateColor(CPictureButton::BTNST_COLOR_BK_IN, &color), 0u);
    EXPECT_EQ(color, RGB(125, 255, 125));
    ASSERT_EQ(button.ShiftStateColor(CPictureButton::BTNST_COLOR_BK_IN, -200, FALSE), 0u);
    button.GetStateColor(CPictureButton::BTNST_COLOR_BK_IN, &color);
    EXPECT_EQ(color, RGB(0, 130, 0));
    button.ResetStateColors(FALSE);
    button.GetStateColor(CPictureButton::BTNST_COLOR_FG_OUT, &color);
    EXPECT_EQ(color, GetSysColor(COLOR_BTNTEXT));
}

TEST_F(ButtonTest, SubclassingMakesItOwnerDrawnAndKeepsItsKind) {
    CPictureButton push;
    MakeButton(push, BS_DEFPUSHBUTTON);
    EXPECT_EQ(push.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
    EXPECT_TRUE(push.GetDefault());
    EXPECT_FALSE(push.IsCheckBox());
    EXPECT_EQ(push.SendMessage(WM_GETDLGCODE) & DLGC_DEFPUSHBUTTON, DLGC_DEFPUSHBUTTON);
    push.SendMessage(BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    EXPECT_FALSE(push.GetDefault());
    EXPECT_EQ(push.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
    push.DestroyWindow();

    CPictureButton check;
    MakeButton(check, BS_AUTOCHECKBOX);
    EXPECT_TRUE(check.IsCheckBox());
    check.SendMessage(BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(check.SendMessage(BM_GETCHECK), 1);
    // A click toggles it, and the parent hears the click.
    check.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    check.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(check.GetCheck(), 0);
    EXPECT_EQ(m_parent.clicks, 1);
}

TEST_F(ButtonTest, ImagesAreDrawnMaskedAndShiftWhenPressed) {
    CPictureButton button;
    MakeButton(button);
    button.SetFlat(TRUE, FALSE);
    button.SetStateColor(CPictureButton::BTNST_COLOR_BK_OUT, kWhite, FALSE);
    button.SetStateColor(CPictureButton::BTNST_COLOR_BK_IN, kGreen, FALSE);
    // A red image with a magenta frame that is left out.
    ASSERT_EQ(button.SetBitmaps(MakeBitmap(20, 10, kRed, kMagenta, 2), kMagenta, nullptr, 0), 0u);
    button.Invalidate();
    button.UpdateWindow();
    EXPECT_EQ(PixelOf(button, kImageX + 5, kImageY + 5), kRed);
    EXPECT_EQ(PixelOf(button, kImageX, kImageY), kWhite); // the key colour shows the face
    EXPECT_EQ(PixelOf(button, 3, 3), kWhite);

    // Pressed (style 0): one pixel right and down, on the in colour.
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = 7;
    dis.hwndItem = button;
    dis.itemAction = ODA_DRAWENTIRE;
    dis.rcItem = RECT{0, 0, 100, 60};
    HDC dc = GetDC(button);
    dis.hDC = dc;
    dis.itemState = ODS_SELECTED;
    button.DrawItem(&dis);
    EXPECT_EQ(GetPixel(dc, 3, 3), kGreen);
    EXPECT_EQ(GetPixel(dc, kImageX + 2, kImageY + 2), kGreen); // the frame, shifted, is still left out
    EXPECT_EQ(GetPixel(dc, kImageX + 3, kImageY + 3), kRed);
    // Style 1: two pixels down only.
    button.SetPressedStyle(1, FALSE);
    button.DrawItem(&dis);
    EXPECT_EQ(GetPixel(dc, kImageX + 2, kImageY + 3), kGreen);
    EXPECT_EQ(GetPixel(dc, kImageX + 2, kImageY + 4), kRed);
    ReleaseDC(button, dc);

    // A grey copy for the out image: the key colour stays, the red turns grey.
    ASSERT_EQ(button.SetBitmaps(MakeBitmap(20, 10, kRed, kMagenta, 2), kMagenta,
                                reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(CPictureButton::BTNST_AUTO_GRAY)), 0),
              0u);
    button.Invalidate();
    button.UpdateWindow();
    const int grey = static_cast<int>(0.299 * 255);
    EXPECT_EQ(PixelOf(button, kImageX + 5, kImageY + 5), RGB(grey, grey, grey));
    EXPECT_EQ(PixelOf(button, kImageX, kImageY), kWhite);
}

TEST_F(ButtonTest, HoverLightsARoundButtonUntilTheMouseLeavesOrTheWindowIsInactive) {
    CRoundButton button;
    MakeButton(button);
    button.SetRounded(TRUE, FALSE);
    button.SetStateColor(CPictureButton::BTNST_COLOR_BK_OUT, kWhite, FALSE);
    button.SetStateColor(CPictureButton::BTNST_COLOR_BK_IN, kGreen, FALSE);
    button.Invalidate();
    button.UpdateWindow();
    EXPECT_EQ(PixelOf(button, 50, 30), kWhite);
    SetCursorPos(60, 40);
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(50, 30));
    ASSERT_TRUE(button.IsHovering());
    button.UpdateWindow();
    EXPECT_EQ(PixelOf(button, 50, 30), kGreen);
    EXPECT_EQ(PixelOf(button, 50, 0), RGB(0, 0, 0)); // the outline
    EXPECT_NE(PixelOf(button, 0, 0), kGreen);          // a rounded corner
    button.SendMessage(WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(button.IsHovering());
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(50, 30));
    ASSERT_TRUE(button.IsHovering());
    button.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(button.IsHovering());
    // Not flat: no hover look.
    button.SetFlat(FALSE, FALSE);
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(50, 30));
    EXPECT_FALSE(button.IsHovering());
}

TEST_F(ButtonTest, ADoubleClickCountsAsTwoClicks) {
    CPictureButton button;
    MakeButton(button);
    const POINT at{20, 20};
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) {
        MSG msg{};
        msg.hwnd = button.GetSafeHwnd();
        msg.message = message;
        msg.wParam = message == WM_LBUTTONUP ? 0u : MK_LBUTTON;
        msg.lParam = MAKELPARAM(at.x, at.y);
        if (!button.PreTranslateMessage(&msg))
            button.SendMessage(msg.message, msg.wParam, msg.lParam);
    }
    EXPECT_EQ(m_parent.clicks, 2);
}

TEST_F(ButtonTest, TheDropDownMenuOpensBelowTheButtonAndItsChoiceGoesToTheOwner) {
    HINSTANCE previous = AfxGetResourceHandle();
    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    AfxSetResourceHandle(resources);
    CPictureButton button;
    MakeButton(button);
    EXPECT_EQ(button.SetPopupMenu(4242, &m_parent), CPictureButton::BTNST_INVALIDRESOURCE);
    EXPECT_EQ(button.GetPopupMenu(), nullptr);
    ASSERT_EQ(button.SetPopupMenu(32000, &m_parent, 1), 0u);
    ASSERT_NE(button.GetPopupMenu(), nullptr);
    button.SetMenuCallback(m_parent.GetSafeHwnd(), WM_APP + 7, 0);
    // The user picks Exit in the menu that opens: its items are the tray menu's, owner-drawn.
    POINT shownAt{};
    size_t shownItems = 0;
    platform::ui::SetMenuHook([&](HMENU, const platform::ui::MenuHookInfo& info) -> UINT {
        shownAt = info.pt;
        shownItems = info.items.size();
        return 32774;
    });
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    platform::ui::SetMenuHook(nullptr);
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    CRect rect;
    button.GetWindowRect(&rect);
    EXPECT_EQ(shownAt.x, rect.left);
    EXPECT_EQ(shownAt.y, rect.bottom);
    EXPECT_EQ(shownItems, 9u);
    ASSERT_EQ(m_parent.callbacks.size(), 1u);
    EXPECT_EQ(m_parent.callbacks[0], reinterpret_cast<WPARAM>(button.GetPopupMenu()->m_hMenu));
    ASSERT_EQ(m_parent.commands.size(), 1u);
    EXPECT_EQ(m_parent.commands[0], 32774u);
    EXPECT_EQ(m_parent.clicks, 1);
    // A mnemonic typed in the menu finds its item.
    CMenu* pTray = button.GetPopupMenu()->GetSubMenu(0);
    EXPECT_EQ(button.SendMessage(WM_MENUCHAR, MAKEWPARAM(u'x', MF_POPUP), reinterpret_cast<LPARAM>(pTray->m_hMenu)),
              0);
    button.DestroyWindow();
    EXPECT_EQ(button.SetPopupMenu(0, nullptr), 0u);
    EXPECT_EQ(button.GetPopupMenu(), nullptr);
    AfxSetResourceHandle(previous);
    FreeLibrary(resources);
}

} // namespace
