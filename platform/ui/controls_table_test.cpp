// The smaller common controls (progress bar, trackbar, tab control, tooltip) and image lists.
#include "platform/base/clock.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/listview.h"
#include "platform/ui/timer.h"
#include "platform/ui/ui_test_support.h"

#include <vector>

namespace {

using uitest::UiTest;

// One message to a control: what it answers and the position afterwards.
struct Step {
    const char* what;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    int pos;
};

class ControlsTest : public UiTest {
protected:
    void SetUp() override {
        InitCommonControls();
        m_handler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_NOTIFY) {
                auto* hdr = reinterpret_cast<NMHDR*>(lParam);
                codes.push_back(hdr->code);
                return onNotify ? onNotify(hdr) : 0;
            }
            if (msg == WM_HSCROLL) {
                scrolls.push_back(LOWORD(wParam));
                EXPECT_EQ(reinterpret_cast<HWND>(lParam), m_control);
                return 0;
            }
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_parent = uitest::MakeWindow(&m_handler);
    }
    void TearDown() override { DestroyWindow(m_parent); }

    HWND Make(LPCWSTR cls, DWORD style = 0, int width = 200, int height = 30) {
        m_control = CreateWindowExW(0, cls, u"", WS_CHILD | WS_VISIBLE | style, 0, 0, width, height, m_parent,
                                    reinterpret_cast<HMENU>(12), nullptr, nullptr);
        EXPECT_TRUE(m_control);
        return m_control;
    }
    void Run(const std::vector<Step>& steps, UINT getPos) {
        for (const Step& s : steps) {
            SCOPED_TRACE(s.what);
            EXPECT_EQ(SendMessageW(m_control, s.msg, s.wParam, s.lParam), s.result);
            EXPECT_EQ(SendMessageW(m_control, getPos, 0, 0), s.pos);
        }
    }

    std::vector<UINT> codes;
    std::vector<WORD> scrolls;
    std::function<LRESULT(NMHDR*)> onNotify;
    uitest::Handler m_handler;
    HWND m_parent = nullptr;
    HWND m_control = nullptr;
};

TEST_F(ControlsTest, ProgressBarKeepsItsPositionInsideTheRange) {
    Make(PROGRESS_CLASSW);
    Run(
        {
            {"default range 0..100", PBM_SETPOS, 50, 0, 0, 50},
            {"beyond the range", PBM_SETPOS, 150, 0, 50, 100},
            {"set range answers the old one", PBM_SETRANGE, 0, MAKELPARAM(10, 20), MAKELONG(0, 100), 20},
            {"32-bit range", PBM_SETRANGE32, 0, 1000, MAKELONG(10, 20), 20},
            {"delta", PBM_DELTAPOS, 30, 0, 20, 50},
            {"negative delta stops at the low end", PBM_DELTAPOS, static_cast<WPARAM>(-100), 0, 50, 0},
            {"step size", PBM_SETSTEP, 400, 0, 10, 0},
            {"step", PBM_STEPIT, 0, 0, 0, 400},
            {"step", PBM_STEPIT, 0, 0, 400, 800},
            {"a step past the end starts over", PBM_STEPIT, 0, 0, 800, 200},
            {"high end of the range", PBM_GETRANGE, FALSE, 0, 1000, 200},
            {"low end of the range", PBM_GETRANGE, TRUE, 0, 0, 200},
        },
        PBM_GETPOS);
    PBRANGE range{};
    SendMessageW(m_control, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, 1000);
}

TEST_F(ControlsTest, TrackbarMovesByKeysAndClicksAndTellsTheParent) {
    Make(TRACKBAR_CLASSW, TBS_NOTICKS | TBS_BOTH, 216, 30);
    Run(
        {
            {"range", TBM_SETRANGE, TRUE, MAKELPARAM(0, 200), 0, 0},
            {"position", TBM_SETPOS, TRUE, 150, 0, 150},
            {"clamped", TBM_SETPOS, TRUE, 500, 0, 200},
            {"new maximum clamps", TBM_SETRANGEMAX, TRUE, 100, 0, 100},
            {"page size answers the old one", TBM_SETPAGESIZE, 0, 25, 40, 100},
            {"line size", TBM_SETLINESIZE, 0, 5, 1, 100},
            {"ticks", TBM_GETNUMTICS, 0, 0, 0, 100},
        },
        TBM_GETPOS);
    EXPECT_EQ(SendMessageW(m_control, TBM_GETRANGEMAX, 0, 0), 100);
    EXPECT_TRUE(SendMessageW(m_control, TBM_SETTIC, 0, 30));
    EXPECT_FALSE(SendMessageW(m_control, TBM_SETTIC, 0, 300));
    EXPECT_EQ(SendMessageW(m_control, TBM_GETTIC, 0, 0), 30);

    // Keys: each moves and sends its scroll code; releasing the key ends the track. Setting the position by
    // message sends nothing.
    SendMessageW(m_control, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageW(m_control, WM_KEYUP, VK_LEFT, 0);
    SendMessageW(m_control, WM_KEYDOWN, VK_PRIOR, 0);
    SendMessageW(m_control, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(scrolls, (std::vector<WORD>{TB_LINEUP, TB_ENDTRACK, TB_PAGEUP, TB_TOP}));
    EXPECT_EQ(SendMessageW(m_control, TBM_GETPOS, 0, 0), 0);

    // A click beside the thumb pages towards it; dragging the thumb tracks and ends with its position.
    scrolls.clear();
    RECT channel{};
    SendMessageW(m_control, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(channel.right - 1, 15));
    SendMessageW(m_control, WM_LBUTTONUP, 0, MAKELPARAM(channel.right - 1, 15));
    EXPECT_EQ(SendMessageW(m_control, TBM_GETPOS, 0, 0), 25);
    RECT thumb{};
    SendMessageW(m_control, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    const int cx = (thumb.left + thumb.right) / 2, cy = (thumb.top + thumb.bottom) / 2;
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cx, cy));
    SendMessageW(m_control, WM_MOUSEMOVE, MK_LBUTTON,
                 MAKELPARAM(channel.left + (channel.right - channel.left) / 2, cy));
    SendMessageW(m_control, WM_LBUTTONUP, 0, MAKELPARAM(channel.left + (channel.right - channel.left) / 2, cy));
    EXPECT_EQ(SendMessageW(m_control, TBM_GETPOS, 0, 0), 50);
    EXPECT_EQ(scrolls, (std::vector<WORD>{TB_PAGEDOWN, TB_ENDTRACK, TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK}));
}

TEST_F(ControlsTest, TabControlChangesTabsWithNotificationsOnlyForTheUser) {
    Make(WC_TABCONTROLW, 0, 300, 200);
    for (const char16_t* text : {u"Auto", u"Schedule", u"System"}) {
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<LPWSTR>(text);
        item.lParam = text[1];
        SendMessageW(m_control, TCM_INSERTITEMW, 99, reinterpret_cast<LPARAM>(&item));
    }
    EXPECT_EQ(SendMessageW(m_control, TCM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(m_control, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageW(m_control, TCM_SETCURSEL, 2, 0), 0);
    EXPECT_EQ(SendMessageW(m_control, TCM_SETCURSEL, 7, 0), -1);
    EXPECT_TRUE(codes.empty());

    WCHAR text[16];
    TCITEMW item{};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = text;
    item.cchTextMax = 16;
    ASSERT_TRUE(SendMessageW(m_control, TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item)));
    EXPECT_EQ(std::u16string(text), u"Schedule");
    EXPECT_EQ(item.lParam, u'c');

    // Clicking a tab asks first; a refusal keeps the current tab.
    RECT rc{};
    ASSERT_TRUE(SendMessageW(m_control, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&rc)));
    int during = -2;
    onNotify = [&](NMHDR* h) -> LRESULT {
        if (h->code == TCN_SELCHANGING)
            during = static_cast<int>(SendMessageW(m_control, TCM_GETCURSEL, 0, 0));
        return h->code == TCN_SELCHANGING && during == 2 && codes.size() < 2;
    };
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(rc.left + 2, rc.top + 2));
    EXPECT_EQ(SendMessageW(m_control, TCM_GETCURSEL, 0, 0), 2);
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(rc.left + 2, rc.top + 2));
    EXPECT_EQ(SendMessageW(m_control, TCM_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(during, 2);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), TCN_SELCHANGE), 1);
    SendMessageW(m_control, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(SendMessageW(m_control, TCM_GETCURSEL, 0, 0), 2);

    // The display area lies under the tabs; deleting the current tab leaves no selection.
    RECT area{0, 0, 300, 200};
    SendMessageW(m_control, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    EXPECT_GT(area.top, rc.bottom - 1);
    EXPECT_TRUE(SendMessageW(m_control, TCM_DELETEITEM, 2, 0));
    EXPECT_EQ(SendMessageW(m_control, TCM_GETCURSEL, 0, 0), -1);
    EXPECT_FALSE(SendMessageW(m_control, TCM_DELETEITEM, 2, 0));
}

TEST_F(ControlsTest, TooltipShowsTheToolUnderTheMouseAfterTheDelay) {
    platform::clock::UseManualClock(platform::clock::kUnixEpoch + 1000 * platform::clock::kTicksPerSecond);
    HWND button = uitest::MakeWindow(&m_handler, WS_CHILD | WS_VISIBLE, m_parent, 3);
    HWND tip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_BALLOON, 0, 0, 0, 0, button,
                               nullptr, nullptr, nullptr);
    ASSERT_TRUE(tip);
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = button;
    ti.uId = 1;
    ti.rect = RECT{0, 0, 100, 50};
    ti.lpszText = const_cast<LPWSTR>(u"Backs up now");
    ASSERT_TRUE(SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 400), -1);
    EXPECT_EQ(SendMessageW(tip, TTM_GETMAXTIPWIDTH, 0, 0), 400);
    ti.cbSize = 8;
    EXPECT_FALSE(SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
    ti.cbSize = sizeof ti;

    auto relay = [&](int x, int y) {
        MSG m{button, WM_MOUSEMOVE, 0, MAKELPARAM(x, y), 0, {}};
        SendMessageW(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
    };
    auto pump = [] {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
    };
    relay(10, 10);
    pump();
    EXPECT_FALSE(IsWindowVisible(tip));
    platform::clock::Advance(500);
    pump();
    EXPECT_TRUE(IsWindowVisible(tip));
    WCHAR shown[32] = {};
    GetWindowTextW(tip, shown, 32);
    EXPECT_EQ(std::u16string(shown), u"Backs up now");
    EXPECT_EQ(std::count(codes.begin(), codes.end(), TTN_SHOW), 1);

    ti.lpszText = const_cast<LPWSTR>(u"Another text");
    SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    GetWindowTextW(tip, shown, 32);
    EXPECT_EQ(std::u16string(shown), u"Another text");

    // Off the tool it hides; an inactive tooltip never shows.
    relay(200, 10);
    EXPECT_FALSE(IsWindowVisible(tip));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), TTN_POP), 1);
    SendMessageW(tip, TTM_ACTIVATE, FALSE, 0);
    relay(10, 10);
    platform::clock::Advance(1000);
    pump();
    EXPECT_FALSE(IsWindowVisible(tip));
    SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 0);
    DestroyWindow(tip);
    platform::clock::UseRealClock();
}

TEST_F(ControlsTest, ImageListsGrowShrinkCopyAndRejectBadCalls) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 4);
    ASSERT_TRUE(list);
    EXPECT_EQ(ImageList_GetImageCount(list), 0);
    platform::ui::ImagePixels red;
    red.width = 20; // wider than the list: cut to 16
    red.height = 16;
    red.argb.assign(20 * 16, 0xFFFF0000u);
    EXPECT_EQ(platform::ui::AddImagePixels(list, red), 0);
    EXPECT_TRUE(ImageList_SetImageCount(list, 3));
    EXPECT_EQ(ImageList_GetImageCount(list), 3);
    platform::ui::ImagePixels out;
    ASSERT_TRUE(platform::ui::GetImagePixels(list, 0, out));
    EXPECT_EQ(out.width, 16);
    EXPECT_EQ(out.argb[0], 0xFFFF0000u);
    ASSERT_TRUE(platform::ui::GetImagePixels(list, 2, out));
    EXPECT_EQ(out.argb[0], 0u); // new images are empty

    EXPECT_TRUE(ImageList_Copy(list, 2, list, 0, 0));
    ASSERT_TRUE(platform::ui::GetImagePixels(list, 2, out));
    EXPECT_EQ(out.argb[5], 0xFFFF0000u);
    HIMAGELIST copy = ImageList_Duplicate(list);
    EXPECT_EQ(ImageList_GetImageCount(copy), 3);
    EXPECT_TRUE(ImageList_Remove(list, 1));
    EXPECT_EQ(ImageList_GetImageCount(list), 2);
    EXPECT_FALSE(ImageList_Remove(list, 5));
    EXPECT_TRUE(ImageList_Remove(list, -1));
    EXPECT_EQ(ImageList_GetImageCount(list), 0);
    EXPECT_EQ(ImageList_GetImageCount(copy), 3);

    EXPECT_EQ(ImageList_SetBkColor(list, 0x00FF00), CLR_NONE);
    EXPECT_EQ(ImageList_GetBkColor(list), 0x00FF00u);
    int cx = 0, cy = 0;
    EXPECT_TRUE(ImageList_SetIconSize(copy, 32, 24));
    EXPECT_TRUE(ImageList_GetIconSize(copy, &cx, &cy));
    EXPECT_EQ(cx, 32);
    EXPECT_EQ(ImageList_GetImageCount(copy), 0);

    EXPECT_FALSE(ImageList_Create(0, 16, ILC_COLOR32, 1, 1));
    EXPECT_TRUE(ImageList_Destroy(list));
    EXPECT_FALSE(ImageList_Destroy(list));
    EXPECT_EQ(ImageList_GetImageCount(list), 0);
    EXPECT_EQ(ImageList_ReplaceIcon(copy, 7, nullptr), -1);
    ImageList_Destroy(copy);
}

TEST_F(ControlsTest, ImageListsCutBitmapsApplyMasksAndRoundTripIcons) {
    // A strip of two 8 x 4 images: red, then green with a magenta corner.
    std::vector<uint32_t> bits(16 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x)
            bits[static_cast<size_t>(y * 16 + x)] = x < 8 ? 0xFF0000u : ((x == 15 && y == 0) ? 0xFF00FFu : 0x00FF00u);
    HBITMAP strip = CreateBitmap(16, 4, 1, 32, bits.data());
    ASSERT_TRUE(strip);
    HIMAGELIST list = ImageList_Create(8, 4, ILC_COLOR32 | ILC_MASK, 0, 2);
    EXPECT_EQ(ImageList_AddMasked(list, strip, RGB(255, 0, 255)), 0);
    EXPECT_EQ(ImageList_GetImageCount(list), 2);
    platform::ui::ImagePixels px;
    ASSERT_TRUE(platform::ui::GetImagePixels(list, 0, px));
    EXPECT_EQ(px.argb[0], 0xFFFF0000u);
    ASSERT_TRUE(platform::ui::GetImagePixels(list, 1, px));
    EXPECT_EQ(px.argb[0], 0xFF00FF00u);
    EXPECT_EQ(px.argb[7], 0u); // the mask colour is transparent

    // An icon taken out of the list and put back keeps its pixels and its transparent corner.
    HICON icon = ImageList_GetIcon(list, 1, ILD_NORMAL);
    ASSERT_TRUE(icon);
    EXPECT_EQ(ImageList_ReplaceIcon(list, -1, icon), 2);
    ASSERT_TRUE(platform::ui::GetImagePixels(list, 2, px));
    EXPECT_EQ(px.argb[0], 0xFF00FF00u);
    EXPECT_EQ(px.argb[7], 0u);
    EXPECT_EQ(ImageList_AddIcon(list, icon), 3);
    DestroyIcon(icon);

    // Drawing leaves transparent pixels alone.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP canvas = CreateBitmap(8, 4, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, canvas);
    RECT all{0, 0, 8, 4};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(dc, &all, blue);
    EXPECT_TRUE(ImageList_Draw(list, 1, dc, 0, 0, ILD_TRANSPARENT));
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(dc, 7, 0), RGB(0, 0, 255));
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteObject(blue);
    DeleteDC(dc);
    DeleteObject(strip);
    ImageList_Destroy(list);
}

} // namespace
