// Cursors: the system's and the program's, the current cursor, WM_SETCURSOR, class fields, and the class and
// window constants.
#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/fs/paths.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <sys/stat.h>

#include <fstream>
#include <set>

namespace {

struct HotSpot {
    int x, y;
    bool isIcon;
};

HotSpot HotSpotOf(HICON cursor) {
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(cursor, &info));
    DeleteObject(info.hbmMask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    return HotSpot{static_cast<int>(info.xHotspot), static_cast<int>(info.yHotspot), info.fIcon != FALSE};
}

// Pixels a cursor darkens when drawn on white.
int DarkPixels(HICON cursor) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 32, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 32, 32};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIconEx(dc, 0, 0, cursor, 0, 0, 0, nullptr, DI_NORMAL);
    int dark = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            dark += GetPixel(dc, x, y) == RGB(0, 0, 0);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return dark;
}

class CursorTest : public uitest::UiTest {};

TEST_F(CursorTest, SystemCursorsAreSharedWithTheirHotSpots) {
    struct Case {
        LPCWSTR id;
        int x, y;
    };
    const Case cases[] = {
        {IDC_ARROW, 0, 0},    {IDC_IBEAM, 16, 16},     {IDC_WAIT, 16, 16},     {IDC_CROSS, 16, 16},
        {IDC_UPARROW, 16, 0}, {IDC_SIZE, 16, 16},      {IDC_SIZENWSE, 16, 16}, {IDC_SIZENESW, 16, 16},
        {IDC_SIZEWE, 16, 16}, {IDC_SIZENS, 16, 16},    {IDC_SIZEALL, 16, 16},  {IDC_NO, 16, 16},
        {IDC_HAND, 11, 0},    {IDC_APPSTARTING, 0, 0}, {IDC_HELP, 0, 0},
    };
    std::set<HCURSOR> seen;
    for (const Case& c : cases) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(c.id));
        HCURSOR cursor = LoadCursorW(nullptr, c.id);
        ASSERT_NE(cursor, nullptr);
        EXPECT_EQ(LoadCursorW(nullptr, c.id), cursor); // shared
        EXPECT_EQ(reinterpret_cast<HCURSOR>(LoadImageW(nullptr, c.id, IMAGE_CURSOR, 0, 0, LR_SHARED)), cursor);
        const HotSpot hot = HotSpotOf(cursor);
        EXPECT_FALSE(hot.isIcon);
        EXPECT_EQ(hot.x, c.x);
        EXPECT_EQ(hot.y, c.y);
        EXPECT_GT(DarkPixels(cursor), 10); // a visible shape
        // A shared cursor outlives DestroyCursor.
        EXPECT_TRUE(DestroyCursor(cursor));
        EXPECT_EQ(HotSpotOf(cursor).x, c.x);
        seen.insert(cursor);
    }
    EXPECT_EQ(seen.size(), std::size(cases));
    // The arrow cursor is not the application icon of the same number.
    EXPECT_NE(LoadCursorW(nullptr, IDC_ARROW), LoadIconW(nullptr, IDI_APPLICATION));
    EXPECT_TRUE(HotSpotOf(LoadIconW(nullptr, IDI_APPLICATION)).isIcon);

    // No such system cursor; a system id asked of the program's resources is not there either.
    SetLastError(0);
    EXPECT_EQ(LoadCursorW(nullptr, MAKEINTRESOURCEW(32000)), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(LoadCursorW(reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr)), IDC_ARROW), nullptr);
}

TEST_F(CursorTest, ProgramCursorsComeFromResourcesAndFiles) {
    HINSTANCE self = reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr));
    HCURSOR square = LoadCursorW(self, MAKEINTRESOURCEW(140));
    ASSERT_NE(square, nullptr);
    EXPECT_EQ(LoadCursorW(self, u"#140"), square);
    HotSpot hot = HotSpotOf(square);
    EXPECT_FALSE(hot.isIcon);
    // The file's 16-pixel hot spot, at the default cursor size of 32.
    EXPECT_EQ(hot.x, 6);
    EXPECT_EQ(hot.y, 10);

    // From a file: the caller's own cursor, which DestroyCursor frees.
    const testsupport::ScratchDrive cursors(m_machine, u'Q', "cursors");
    {
        std::ifstream in(UI_TEST_SOURCE_DIR "/testdata/square.cur", std::ios::binary);
        std::ofstream out(cursors.Host("square.cur"), std::ios::binary);
        out << in.rdbuf();
    }
    HCURSOR fromFile = LoadCursorFromFileW(u"Q:\\square.cur");
    ASSERT_NE(fromFile, nullptr);
    EXPECT_NE(fromFile, square);
    hot = HotSpotOf(fromFile);
    EXPECT_FALSE(hot.isIcon);
    EXPECT_EQ(hot.x, 6);
    EXPECT_TRUE(DestroyCursor(fromFile));
    EXPECT_FALSE(DestroyCursor(fromFile));
    SetLastError(0);
    EXPECT_EQ(LoadCursorFromFileW(u"Q:\\missing.cur"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(CursorTest, SetCursorKeepsTheCurrentCursor) {
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW), wait = LoadCursorW(nullptr, IDC_WAIT);
    SetCursor(arrow);
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_EQ(SetCursor(wait), arrow);
    EXPECT_EQ(GetCursor(), wait);
    // Something that is not a cursor changes nothing.
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    SetLastError(0);
    EXPECT_EQ(SetCursor(reinterpret_cast<HCURSOR>(brush)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CURSOR_HANDLE);
    EXPECT_EQ(GetCursor(), wait);
    DeleteObject(brush);
    // Null hides it; an icon serves as a cursor.
    EXPECT_EQ(SetCursor(nullptr), wait);
    EXPECT_EQ(GetCursor(), nullptr);
    HICON icon = LoadIconW(nullptr, IDI_QUESTION);
    EXPECT_EQ(SetCursor(icon), nullptr);
    EXPECT_EQ(GetCursor(), icon);
}

TEST_F(CursorTest, DefaultAnswerToSetCursorUsesTheClassCursor) {
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND), arrow = LoadCursorW(nullptr, IDC_ARROW);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = uitest::FunctionProc;
    wc.hCursor = hand;
    wc.lpszClassName = u"CursorTestHand";
    ASSERT_NE(RegisterClassExW(&wc), 0);

    uitest::Handler parentHandler = [](HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); };
    HWND parent = CreateWindowExW(0, u"CursorTestHand", u"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                  nullptr, nullptr, nullptr, &parentHandler);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(GetClassLongPtrW(parent, GCL_STYLE), static_cast<ULONG_PTR>(CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW));
    EXPECT_EQ(GetClassLongPtrW(parent, GCLP_HCURSOR), reinterpret_cast<ULONG_PTR>(hand));

    struct Case {
        LRESULT hit;
        LPCWSTR shape; // null: the class cursor
        LRESULT answer;
    };
    const Case cases[] = {
        {HTCLIENT, nullptr, TRUE},           {HTLEFT, IDC_SIZEWE, TRUE},       {HTRIGHT, IDC_SIZEWE, TRUE},
        {HTTOP, IDC_SIZENS, TRUE},           {HTBOTTOM, IDC_SIZENS, TRUE},     {HTTOPLEFT, IDC_SIZENWSE, TRUE},
        {HTBOTTOMRIGHT, IDC_SIZENWSE, TRUE}, {HTTOPRIGHT, IDC_SIZENESW, TRUE}, {HTBOTTOMLEFT, IDC_SIZENESW, TRUE},
        {HTCAPTION, IDC_ARROW, FALSE},       {HTBORDER, IDC_ARROW, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hit);
        SetCursor(nullptr);
        EXPECT_EQ(SendMessageW(parent, WM_SETCURSOR, reinterpret_cast<WPARAM>(parent),
                               MAKELPARAM(static_cast<WORD>(c.hit), WM_MOUSEMOVE)),
                  c.answer);
        EXPECT_EQ(GetCursor(), c.shape ? LoadCursorW(nullptr, c.shape) : hand);
    }

    // A new class cursor holds for the class's windows.
    HCURSOR ibeam = LoadCursorW(nullptr, IDC_IBEAM);
    EXPECT_EQ(SetClassLongPtrW(parent, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(ibeam)),
              reinterpret_cast<ULONG_PTR>(hand));
    SendMessageW(parent, WM_SETCURSOR, reinterpret_cast<WPARAM>(parent), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), ibeam);

    // A child without a class cursor: its parent decides first; when the parent leaves it, nothing changes.
    bool parentDecides = true;
    parentHandler = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_SETCURSOR && parentDecides) {
            SetCursor(arrow);
            return TRUE;
        }
        return DefWindowProcW(h, m, w, l);
    };
    uitest::Handler childHandler;
    HWND child = uitest::MakeWindow(&childHandler, WS_CHILD | WS_VISIBLE, parent, 5);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetClassLongPtrW(child, GCLP_HCURSOR), 0u);
    SetCursor(nullptr);
    EXPECT_EQ(SendMessageW(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), arrow);
    parentDecides = false;
    SetCursor(nullptr);
    // The parent's default answer over its own client area sets its class cursor.
    EXPECT_EQ(SendMessageW(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), ibeam);

    // Indexes the class has no field for.
    SetLastError(0);
    EXPECT_EQ(GetClassLongPtrW(parent, 12345), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    SetLastError(0);
    EXPECT_EQ(SetClassLongPtrW(parent, GCLP_WNDPROC, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    EXPECT_EQ(GetClassLongPtrW(parent, GCLP_WNDPROC), reinterpret_cast<ULONG_PTR>(&uitest::FunctionProc));
    DestroyWindow(parent);
    SetLastError(0);
    EXPECT_EQ(GetClassLongPtrW(parent, GCLP_HCURSOR), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_TRUE(UnregisterClassW(u"CursorTestHand", nullptr));
}

TEST(WindowConstants, HaveTheirWindowsValues) {
    struct Case {
        const char* name;
        uint64_t value, expected;
    };
    const Case cases[] = {
        {"CS_BYTEALIGNCLIENT", CS_BYTEALIGNCLIENT, 0x1000},
        {"CS_BYTEALIGNWINDOW", CS_BYTEALIGNWINDOW, 0x2000},
        {"LWA_COLORKEY", LWA_COLORKEY, 1},
        {"LWA_ALPHA", LWA_ALPHA, 2},
        {"WS_EX_LAYERED", WS_EX_LAYERED, 0x80000},
        {"ERROR_NO_SCROLLBARS", ERROR_NO_SCROLLBARS, 1447},
        {"ERROR_INVALID_CURSOR_HANDLE", ERROR_INVALID_CURSOR_HANDLE, 1402},
        {"GCLP_HCURSOR", static_cast<uint64_t>(-GCLP_HCURSOR), 12},
        {"GCL_STYLE", static_cast<uint64_t>(-GCL_STYLE), 26},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.value, c.expected) << c.name;
}

} // namespace
