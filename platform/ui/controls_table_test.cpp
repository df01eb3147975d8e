// The smaller common controls (progress bar, trackbar, tab control, tooltip) and image lists.
#include "platform/base/clock.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/listview.h"
#include "platform/ui/paint.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/timer.h"
#include "platform/ui/ui_test_support.h"

#include <cstring>
#include <string>
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
            if (msg == WM_HSCROLL || msg == WM_VSCROLL) {
                scrolls.push_back(LOWORD(wParam));
                positions.push_back(static_cast<SHORT>(HIWORD(wParam)));
                EXPECT_EQ(reinterpret_cast<HWND>(lParam), m_control);
                return 0;
            }
            if (msg == WM_COMMAND && reinterpret_cast<HWND>(lParam) == m_control) {
                commands.push_back(HIWORD(wParam));
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
    std::vector<int> positions;
    std::vector<WORD> commands;
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

void PumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
}

TEST_F(ControlsTest, UpDownStepsItsBuddyAcceleratesWhileHeldAndLetsTheParentRefuse) {
    platform::clock::UseManualClock(platform::clock::kUnixEpoch + 1000 * platform::clock::kTicksPerSecond);
    HWND edit =
        CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, m_parent, nullptr, nullptr, nullptr);
    Make(UPDOWN_CLASSW, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 16, 30);
    EXPECT_EQ(SendMessageW(m_control, UDM_GETRANGE, 0, 0), MAKELONG(0, 100));
    EXPECT_EQ(SendMessageW(m_control, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0), 0);
    RECT rb{}, ru{};
    GetWindowRect(edit, &rb);
    GetWindowRect(m_control, &ru);
    EXPECT_EQ(rb.right - rb.left, 84);
    EXPECT_EQ(ru.left, rb.right);
    EXPECT_EQ(ru.bottom - ru.top, 20);

    // Positions stay in the range and show in the buddy, grouped by thousands.
    SendMessageW(m_control, UDM_SETRANGE32, 8, 100000);
    EXPECT_EQ(SendMessageW(m_control, UDM_SETPOS32, 0, 250000), 0); // the old position
    auto text = [&] {
        WCHAR buffer[32] = {};
        GetWindowTextW(edit, buffer, 32);
        return std::u16string(buffer);
    };
    EXPECT_EQ(text(), u"100,000");
    // The position is read back from the buddy; a text that is no number in the range is an error.
    BOOL error = FALSE;
    SetWindowTextW(edit, u"1,234");
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 1234);
    EXPECT_FALSE(error);
    for (const char16_t* bad : {u"12a", u"", u"7", u"999999"}) {
        SetWindowTextW(edit, bad);
        EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 1234);
        EXPECT_TRUE(error);
    }
    SetWindowTextW(edit, u"1234");

    // Holding the up arrow: one step at once, repeats after 500 ms and every 100 ms, faster after 2 and 3 s.
    UDACCEL accels[] = {{2, 10}, {3, 100}};
    EXPECT_TRUE(SendMessageW(m_control, UDM_SETACCEL, 2, reinterpret_cast<LPARAM>(accels)));
    UDACCEL back[4] = {};
    EXPECT_EQ(SendMessageW(m_control, UDM_GETACCEL, 4, reinterpret_cast<LPARAM>(back)), 2);
    EXPECT_EQ(back[1].nInc, 100u);
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 2));
    EXPECT_EQ(text(), u"1,235");
    platform::clock::Advance(500);
    PumpMessages();
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, 0), 1236);
    for (int i = 0; i < 15; ++i) { // to 2.0 s
        platform::clock::Advance(100);
        PumpMessages();
    }
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, 0), 1236 + 14 + 10);
    platform::clock::Advance(1000); // one tick at 3.0 s
    PumpMessages();
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, 0), 1360);
    SendMessageW(m_control, WM_LBUTTONUP, 0, MAKELPARAM(5, 2));
    EXPECT_EQ(scrolls.back(), SB_ENDSCROLL);
    EXPECT_EQ(positions[0], 1235);
    EXPECT_EQ(std::count(scrolls.begin(), scrolls.end(), SB_THUMBPOSITION), 18);
    platform::clock::Advance(1000);
    PumpMessages();
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, 0), 1360);

    // The parent may refuse a step; Down in the buddy steps down; the lower end stops the position.
    onNotify = [](NMHDR* h) -> LRESULT { return h->code == UDN_DELTAPOS; };
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 18));
    SendMessageW(m_control, WM_LBUTTONUP, 0, MAKELPARAM(5, 18));
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, 0), 1360);
    onNotify = nullptr;
    SendMessageW(edit, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(text(), u"1,359");
    SendMessageW(m_control, UDM_SETPOS32, 0, 8);
    SendMessageW(edit, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(SendMessageW(m_control, UDM_GETPOS32, 0, 0), 8);
    platform::clock::UseRealClock();
}

TEST_F(ControlsTest, UpDownWithAReversedRangeOrWrapping) {
    Make(UPDOWN_CLASSW, UDS_WRAP, 16, 30);
    SendMessageW(m_control, UDM_SETRANGE, 0, MAKELPARAM(0, 10)); // upper 0, lower 10: up counts down
    SendMessageW(m_control, UDM_SETPOS, 0, MAKELPARAM(5, 0));
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 2));
    SendMessageW(m_control, WM_LBUTTONUP, 0, MAKELPARAM(5, 2));
    EXPECT_EQ(LOWORD(SendMessageW(m_control, UDM_GETPOS, 0, 0)), 4);
    SendMessageW(m_control, UDM_SETPOS, 0, MAKELPARAM(0, 0));
    SendMessageW(m_control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 2));
    SendMessageW(m_control, WM_LBUTTONUP, 0, MAKELPARAM(5, 2));
    EXPECT_EQ(LOWORD(SendMessageW(m_control, UDM_GETPOS, 0, 0)), 10); // wrapped
    EXPECT_EQ(SendMessageW(m_control, UDM_SETBASE, 7, 0), 0);
    EXPECT_EQ(SendMessageW(m_control, UDM_SETBASE, 16, 0), 10);
}

// An AVI clip of 4 x 2 pixels: frames of 8 bits per pixel (uncompressed or RLE8) or 24 bits per pixel.
std::string Le32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}
std::string Chunk(const std::string& tag, const std::string& data) {
    return tag + Le32(static_cast<uint32_t>(data.size())) + data + (data.size() % 2 ? std::string(1, '\0') : "");
}
std::string Avi(int bits, uint32_t compression, const std::vector<std::string>& frames, uint32_t usPerFrame = 50000) {
    std::string avih = Le32(usPerFrame) + std::string(12, '\0') + Le32(static_cast<uint32_t>(frames.size())) +
                       std::string(12, '\0') + Le32(4) + Le32(2) + std::string(16, '\0');
    std::string strh = "vidsDIB " + std::string(48, '\0');
    std::string strf = Le32(40) + Le32(4) + Le32(2) + std::string{1, 0, static_cast<char>(bits), 0} +
                       Le32(compression) + std::string(20, '\0');
    if (bits == 8) // palette: 0 black, 1 red, 2 green, 3 blue
        strf += std::string("\0\0\0\0\0\0\xff\0\0\xff\0\0\xff\0\0\0", 16);
    const std::string hdrl =
        Chunk("LIST", "hdrl" + Chunk("avih", avih) + Chunk("LIST", "strl" + Chunk("strh", strh) + Chunk("strf", strf)));
    std::string movi = "movi";
    for (const std::string& f : frames)
        movi += Chunk(compression ? "00dc" : "00db", f);
    const std::string body = "AVI " + hdrl + Chunk("LIST", movi);
    return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

TEST_F(ControlsTest, AnimationPlaysAClipFrameByFrameAndTellsTheParent) {
    platform::clock::UseManualClock(platform::clock::kUnixEpoch + 1000 * platform::clock::kTicksPerSecond);
    testsupport::ScratchDrive drive(m_machine);
    // Three frames, bottom row first: the top-left pixel is red, green, then blue.
    auto frame8 = [](char top) { return std::string{0, 0, 0, 0} + std::string{top, 0, 0, 0}; };
    drive.Write("clip.avi", Avi(8, 0, {frame8(1), frame8(2), frame8(3)}));
    Make(ANIMATE_CLASSW, 0, 100, 100);
    EXPECT_FALSE(SendMessageW(m_control, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1)));
    ASSERT_TRUE(SendMessageW(m_control, ACM_OPENW, 0, reinterpret_cast<LPARAM>(drive.Path("clip.avi").c_str())));
    RECT rc{};
    GetClientRect(m_control, &rc);
    EXPECT_EQ(rc.right, 4); // the control takes the frame's size
    EXPECT_EQ(rc.bottom, 2);

    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(4, 2, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto topLeft = [&] {
        SendMessageW(m_control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), 0);
        return GetPixel(dc, 0, 0);
    };
    EXPECT_EQ(topLeft(), RGB(255, 0, 0));

    // Played twice from frame 1 to the end, 50 ms a frame.
    EXPECT_TRUE(SendMessageW(m_control, ACM_PLAY, 2, MAKELPARAM(1, -1)));
    EXPECT_TRUE(SendMessageW(m_control, ACM_ISPLAYING, 0, 0));
    EXPECT_EQ(commands, std::vector<WORD>{ACN_START});
    std::vector<COLORREF> seen{topLeft()};
    for (int i = 0; i < 4; ++i) {
        platform::clock::Advance(50);
        PumpMessages();
        seen.push_back(topLeft());
    }
    EXPECT_EQ(seen,
              (std::vector<COLORREF>{RGB(0, 255, 0), RGB(0, 0, 255), RGB(0, 255, 0), RGB(0, 0, 255), RGB(0, 0, 255)}));
    EXPECT_FALSE(SendMessageW(m_control, ACM_ISPLAYING, 0, 0));
    EXPECT_EQ(commands, (std::vector<WORD>{ACN_START, ACN_STOP}));

    // Playing for ever until stopped; a span of one frame only shows it.
    EXPECT_TRUE(SendMessageW(m_control, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1)));
    platform::clock::Advance(1000);
    PumpMessages();
    EXPECT_TRUE(SendMessageW(m_control, ACM_ISPLAYING, 0, 0));
    EXPECT_TRUE(SendMessageW(m_control, ACM_STOP, 0, 0));
    EXPECT_TRUE(SendMessageW(m_control, ACM_PLAY, 1, MAKELPARAM(0, 0)));
    EXPECT_FALSE(SendMessageW(m_control, ACM_ISPLAYING, 0, 0));
    EXPECT_EQ(topLeft(), RGB(255, 0, 0));
    EXPECT_FALSE(SendMessageW(m_control, ACM_PLAY, 1, MAKELPARAM(3, 3)));

    // RLE8 frames, the second a delta that changes one pixel; 24-bit frames.
    const std::string rle1("\x04\x00\x00\x00\x04\x02\x00\x01", 8); // bottom row 0, top row 2 (green)
    const std::string rle2("\x00\x02\x03\x01\x01\x03\x00\x01", 8); // move to (3, 1), one blue pixel, end
    drive.Write("rle.avi", Avi(8, 1, {rle1, rle2}));
    ASSERT_TRUE(SendMessageW(m_control, ACM_OPENW, 0, reinterpret_cast<LPARAM>(drive.Path("rle.avi").c_str())));
    SendMessageW(m_control, ACM_PLAY, 1, MAKELPARAM(1, 1));
    SendMessageW(m_control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), 0);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(dc, 3, 0), RGB(0, 0, 255));
    std::string rgb(12, '\0');
    rgb += std::string("\x10\x20\x30", 3) + std::string(9, '\0');
    drive.Write("rgb.avi", Avi(24, 0, {rgb}));
    ASSERT_TRUE(SendMessageW(m_control, ACM_OPENW, 0, reinterpret_cast<LPARAM>(drive.Path("rgb.avi").c_str())));
    EXPECT_EQ(topLeft(), RGB(0x30, 0x20, 0x10));

    // Clips that are damaged or of a kind the control does not play do not open, and leave it empty.
    const std::string good = Avi(8, 0, {frame8(1)});
    std::string oversized = good;
    oversized.replace(oversized.find("00db") + 4, 4, Le32(0x7fffffff));
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"cut short", good.substr(0, good.size() - 5)},
        {"a chunk longer than the file", oversized},
        {"16 bits per pixel", Avi(16, 0, {std::string(16, '\0')})},
        {"another compression", Avi(8, 0x47504a4d, {frame8(1)})},
        {"a frame too short", Avi(8, 0, {std::string(3, '\0')})},
        {"no frames", Avi(8, 0, {})},
        {"not RIFF", "RIFX" + good.substr(4)},
    };
    for (const auto& [what, bytes] : bad) {
        SCOPED_TRACE(what);
        drive.Write("bad.avi", bytes);
        EXPECT_FALSE(SendMessageW(m_control, ACM_OPENW, 0, reinterpret_cast<LPARAM>(drive.Path("bad.avi").c_str())));
        EXPECT_FALSE(SendMessageW(m_control, ACM_PLAY, 1, MAKELPARAM(0, 0)));
    }
    EXPECT_FALSE(SendMessageW(m_control, ACM_OPENW, 0, reinterpret_cast<LPARAM>(u"T:\\missing.avi")));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    platform::clock::UseRealClock();
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
