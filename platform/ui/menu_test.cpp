#include "platform/base/errors.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_test_support.h"

#include <vector>

namespace {

using uitest::UiTest;

constexpr UINT kTrayMenu = 130;
constexpr UINT kOpen = 100, kBackup = 101, kRestore = 102, kExit = 103, kViewA = 110, kViewB = 111;

std::u16string MenuString(HMENU menu, UINT item, UINT flags) {
    WCHAR buffer[64] = {};
    GetMenuStringW(menu, item, buffer, 64, flags);
    return buffer;
}

class MenuTest : public UiTest {
protected:
    void TearDown() override { platform::ui::SetMenuHook(nullptr); }
};

TEST_F(MenuTest, LoadsATemplateAndKeepsItemsStatesAndTexts) {
    HMENU bar = LoadMenuW(nullptr, MAKEINTRESOURCEW(kTrayMenu));
    ASSERT_TRUE(bar);
    EXPECT_EQ(GetMenuItemCount(bar), 1);
    HMENU tray = GetSubMenu(bar, 0);
    ASSERT_TRUE(tray);
    EXPECT_EQ(GetMenuItemCount(tray), 7);
    EXPECT_EQ(GetMenuItemID(tray, 0), kOpen);
    EXPECT_EQ(GetMenuItemID(tray, 1), 0u);                    // a separator
    EXPECT_EQ(GetMenuItemID(tray, 4), static_cast<UINT>(-1)); // a pop-up
    EXPECT_EQ(GetMenuItemID(tray, 9), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuState(tray, 1, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(GetMenuState(tray, kRestore, MF_BYCOMMAND), MF_GRAYED);
    EXPECT_EQ(GetMenuState(tray, 4, MF_BYPOSITION), (2u << 8) | MF_POPUP);
    // Commands are found in sub-menus too.
    EXPECT_EQ(GetMenuState(bar, kViewA, MF_BYCOMMAND), MF_CHECKED);
    EXPECT_EQ(GetMenuState(bar, 999, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(MenuString(bar, kBackup, MF_BYCOMMAND), u"Instant &Backup");
    EXPECT_EQ(MenuString(tray, 4, MF_BYPOSITION), u"&View");
    EXPECT_EQ(GetMenuStringW(tray, kExit, nullptr, 0, MF_BYCOMMAND), 5);

    // Enable and check report the previous state; a missing item answers -1.
    EXPECT_EQ(EnableMenuItem(bar, kRestore, MF_BYCOMMAND | MF_ENABLED), static_cast<DWORD>(MF_GRAYED));
    EXPECT_EQ(GetMenuState(tray, kRestore, MF_BYCOMMAND), 0u);
    EXPECT_EQ(EnableMenuItem(tray, 0, MF_BYPOSITION | MF_DISABLED), static_cast<DWORD>(MF_ENABLED));
    EXPECT_EQ(EnableMenuItem(tray, 999, MF_ENABLED), static_cast<DWORD>(-1));
    EXPECT_EQ(CheckMenuItem(bar, kViewA, MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(bar, kViewB, MF_CHECKED), static_cast<DWORD>(MF_UNCHECKED));
    HMENU view = GetSubMenu(tray, 4);
    EXPECT_TRUE(CheckMenuRadioItem(view, kViewA, kViewB, kViewA, MF_BYCOMMAND));
    EXPECT_EQ(GetMenuState(view, kViewA, MF_BYCOMMAND), MF_CHECKED | MFT_RADIOCHECK);
    EXPECT_EQ(GetMenuState(view, kViewB, MF_BYCOMMAND), 0u);

    // Destroying the bar destroys its sub-menus.
    EXPECT_TRUE(DestroyMenu(bar));
    EXPECT_FALSE(IsMenu(tray));
    EXPECT_FALSE(IsMenu(view));
    EXPECT_EQ(GetMenuItemCount(tray), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
    EXPECT_FALSE(LoadMenuW(nullptr, MAKEINTRESOURCEW(4321)));
}

TEST_F(MenuTest, BuildsAndChangesMenusByPositionAndByCommand) {
    HMENU menu = CreatePopupMenu();
    HMENU sub = CreatePopupMenu();
    ASSERT_TRUE(AppendMenuW(menu, MF_STRING, 1, u"One"));
    ASSERT_TRUE(AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
    ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub"));
    ASSERT_TRUE(AppendMenuW(sub, MF_STRING | MF_CHECKED, 5, u"Five"));
    EXPECT_FALSE(AppendMenuW(menu, MF_POPUP, 0x777, u"bad")); // not a menu
    ASSERT_TRUE(InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, 2, u"Two"));
    ASSERT_TRUE(InsertMenuW(menu, 5, MF_BYCOMMAND | MF_STRING, 4, u"Four")); // before Five, inside the sub-menu
    ASSERT_TRUE(InsertMenuW(menu, static_cast<UINT>(-1), MF_BYPOSITION | MF_STRING, 9, u"Last"));
    EXPECT_EQ(GetMenuItemCount(menu), 5);
    EXPECT_EQ(GetMenuItemCount(sub), 2);
    EXPECT_EQ(GetMenuItemID(sub, 0), 4u);
    EXPECT_EQ(GetMenuItemID(menu, 4), 9u);

    ASSERT_TRUE(ModifyMenuW(menu, 1, MF_BYCOMMAND | MF_STRING | MF_GRAYED, 11, u"Eleven"));
    EXPECT_EQ(MenuString(menu, 11, MF_BYCOMMAND), u"Eleven");
    EXPECT_EQ(GetMenuState(menu, 11, MF_BYCOMMAND), MF_GRAYED);
    EXPECT_FALSE(ModifyMenuW(menu, 77, MF_BYCOMMAND, 1, u"x"));

    // Owner-drawn items keep their item data; MENUITEMINFO reads and writes every field.
    ASSERT_TRUE(ModifyMenuW(menu, 0, MF_BYPOSITION | MF_OWNERDRAW, 2, reinterpret_cast<LPCWSTR>(0x5150)));
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_ID | MIIM_STATE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, 0, TRUE, &info));
    EXPECT_EQ(info.fType, MFT_OWNERDRAW);
    EXPECT_EQ(info.dwItemData, 0x5150u);
    EXPECT_EQ(info.wID, 2u);
    WCHAR text[4];
    info = MENUITEMINFOW{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 4;
    ASSERT_TRUE(GetMenuItemInfoW(menu, 3, TRUE, &info));
    EXPECT_EQ(std::u16string(text), u"Sub");
    EXPECT_EQ(info.cch, 3u);
    EXPECT_EQ(info.hSubMenu, sub);
    info.fMask = MIIM_STRING;
    info.dwTypeData = nullptr;
    ASSERT_TRUE(GetMenuItemInfoW(menu, 11, FALSE, &info));
    EXPECT_EQ(info.cch, 6u);
    info = MENUITEMINFOW{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE;
    info.dwTypeData = const_cast<LPWSTR>(u"Seven");
    info.wID = 7;
    info.fState = MFS_DEFAULT;
    ASSERT_TRUE(InsertMenuItemW(menu, 0, TRUE, &info));
    EXPECT_EQ(GetMenuDefaultItem(menu, FALSE, 0), 7u);
    info.cbSize = 3;
    EXPECT_FALSE(SetMenuItemInfoW(menu, 7, FALSE, &info));

    // RemoveMenu leaves the sub-menu alive, DeleteMenu destroys it.
    ASSERT_TRUE(RemoveMenu(menu, 4, MF_BYPOSITION));
    EXPECT_TRUE(IsMenu(sub));
    ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub"));
    ASSERT_TRUE(DeleteMenu(menu, 5, MF_BYPOSITION));
    EXPECT_FALSE(IsMenu(sub));
    EXPECT_FALSE(DeleteMenu(menu, 44, MF_BYCOMMAND));
    DestroyMenu(menu);
}

TEST_F(MenuTest, SystemMenuAndWindowMenu) {
    uitest::Handler handler;
    HWND hwnd = uitest::MakeWindow(&handler);
    HMENU system = GetSystemMenu(hwnd, FALSE);
    ASSERT_TRUE(system);
    EXPECT_EQ(GetSystemMenu(hwnd, FALSE), system);
    const int count = GetMenuItemCount(system);
    EXPECT_EQ(GetMenuState(system, static_cast<UINT>(SC_CLOSE), MF_BYCOMMAND), MF_DEFAULT);
    ASSERT_TRUE(AppendMenuW(system, MF_SEPARATOR, 0, nullptr));
    ASSERT_TRUE(AppendMenuW(system, MF_STRING, 16, u"&About..."));
    EXPECT_EQ(GetMenuItemCount(GetSystemMenu(hwnd, FALSE)), count + 2);
    EXPECT_EQ(GetSystemMenu(hwnd, TRUE), nullptr);
    EXPECT_EQ(GetMenuItemCount(GetSystemMenu(hwnd, FALSE)), count);

    HMENU bar = CreateMenu();
    EXPECT_TRUE(SetMenu(hwnd, bar));
    EXPECT_EQ(GetMenu(hwnd), bar);
    HWND child = uitest::MakeWindow(&handler, WS_CHILD, hwnd, 5);
    EXPECT_FALSE(SetMenu(child, bar));
    HMENU copy = GetSystemMenu(hwnd, FALSE);
    DestroyWindow(hwnd);
    DestroyMenu(bar);
    // The copy of a window that is gone goes too.
    HWND other = uitest::MakeWindow(&handler);
    EXPECT_TRUE(GetSystemMenu(other, FALSE));
    EXPECT_FALSE(IsMenu(copy));
    EXPECT_FALSE(GetSystemMenu(hwnd, FALSE));
    DestroyWindow(other);
}

TEST_F(MenuTest, TrackPopupMenuAsksTheHookAndReturnsOrPostsTheChoice) {
    std::vector<UINT> messages;
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    UINT measured = 0, drawn = 0;
    uitest::Handler handler = [&](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        switch (msg) {
        case WM_ENTERMENULOOP:
        case WM_EXITMENULOOP:
        case WM_INITMENU:
        case WM_INITMENUPOPUP:
        case WM_MENUSELECT:
            messages.push_back(msg);
            if (msg == WM_INITMENUPOPUP && LOWORD(lParam) == 0)
                EnableMenuItem(reinterpret_cast<HMENU>(wParam), kRestore, MF_ENABLED); // as owners update states
            return 0;
        case WM_MEASUREITEM: {
            auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            EXPECT_EQ(mis->CtlType, ODT_MENU);
            EXPECT_EQ(mis->itemData, 0xABCu);
            mis->itemWidth = 80;
            mis->itemHeight = 20;
            ++measured;
            return TRUE;
        }
        case WM_DRAWITEM: {
            auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            EXPECT_EQ(dis->CtlType, ODT_MENU);
            EXPECT_EQ(dis->itemID, 120u);
            EXPECT_TRUE(dis->hDC);
            EXPECT_EQ(dis->rcItem.bottom - dis->rcItem.top, 20);
            ++drawn;
            return TRUE;
        }
        case WM_COMMAND:
            commands.emplace_back(wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
    };
    HWND hwnd = uitest::MakeWindow(&handler);
    HMENU bar = LoadMenuW(nullptr, MAKEINTRESOURCEW(kTrayMenu));
    HMENU tray = GetSubMenu(bar, 0);
    ASSERT_TRUE(AppendMenuW(tray, MF_OWNERDRAW, 120, reinterpret_cast<LPCWSTR>(0xABC)));

    // The hook sees the items as shown, after WM_INITMENUPOPUP, and picks one by its text.
    std::vector<platform::ui::MenuHookInfo> seen;
    std::u16string pick = u"Instant Restore";
    platform::ui::SetMenuHook([&](HMENU menu, const platform::ui::MenuHookInfo& info) -> UINT {
        EXPECT_EQ(menu, tray);
        EXPECT_EQ(info.owner, hwnd);
        seen.push_back(info);
        return pick.empty() ? 0 : info.FindCommand(pick);
    });
    EXPECT_EQ(TrackPopupMenu(tray, TPM_RETURNCMD | TPM_RIGHTBUTTON, 10, 20, 0, hwnd, nullptr),
              static_cast<BOOL>(kRestore));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].pt.x, 10);
    EXPECT_EQ(seen[0].items.size(), 10u); // seven, two in the sub-menu, the owner-drawn one
    EXPECT_EQ(messages, (std::vector<UINT>{WM_ENTERMENULOOP, WM_INITMENU, WM_INITMENUPOPUP, WM_MENUSELECT,
                                           WM_MENUSELECT, WM_EXITMENULOOP}));
    EXPECT_EQ(measured, 1u);
    EXPECT_TRUE(commands.empty());

    // Without TPM_RETURNCMD the choice is posted as WM_COMMAND; a choice in a sub-menu opens it first.
    messages.clear();
    pick = u"View B";
    EXPECT_TRUE(TrackPopupMenu(tray, TPM_LEFTALIGN, 0, 0, 0, hwnd, nullptr));
    EXPECT_EQ(messages, (std::vector<UINT>{WM_ENTERMENULOOP, WM_INITMENU, WM_INITMENUPOPUP, WM_INITMENUPOPUP,
                                           WM_MENUSELECT, WM_MENUSELECT, WM_EXITMENULOOP}));
    EXPECT_TRUE(commands.empty()); // posted, not sent
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].first, MAKEWPARAM(kViewB, 0));
    EXPECT_EQ(commands[0].second, 0);

    // A disabled item, a separator or a command that is not there cannot be chosen: the menu is dismissed.
    messages.clear();
    EnableMenuItem(tray, kBackup, MF_GRAYED);
    platform::ui::SetMenuHook([&](HMENU, const platform::ui::MenuHookInfo&) -> UINT { return kBackup; });
    EXPECT_EQ(TrackPopupMenu(tray, TPM_RETURNCMD | TPM_NONOTIFY, 0, 0, 0, hwnd, nullptr), 0);
    EXPECT_TRUE(messages.empty()); // TPM_NONOTIFY
    platform::ui::SetMenuHook([&](HMENU, const platform::ui::MenuHookInfo&) -> UINT { return 4242; });
    commands.clear();
    EXPECT_TRUE(TrackPopupMenu(tray, 0, 0, 0, 0, hwnd, nullptr));
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_TRUE(commands.empty());

    // Without a hook the menu is dismissed.
    platform::ui::SetMenuHook(nullptr);
    EXPECT_EQ(TrackPopupMenu(tray, TPM_RETURNCMD, 0, 0, 0, hwnd, nullptr), 0);
    EXPECT_FALSE(TrackPopupMenu(reinterpret_cast<HMENU>(0x99), TPM_RETURNCMD, 0, 0, 0, hwnd, nullptr));
    EXPECT_GE(drawn, 1u); // owner-drawn items get a device context to draw into
    DestroyWindow(hwnd);
    DestroyMenu(bar);
}

} // namespace

TEST_F(MenuTest, ChoosingSystemMenuItemsPostsSysCommand) {
    std::vector<WPARAM> commands;
    uitest::Handler handler = [&](HWND h, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_SYSCOMMAND && wParam == 16) {
            commands.push_back(wParam);
            return 0;
        }
        return DefWindowProcW(h, msg, wParam, lParam);
    };
    HWND hwnd = uitest::MakeWindow(&handler);
    HMENU system = GetSystemMenu(hwnd, FALSE);
    ASSERT_TRUE(AppendMenuW(system, MF_SEPARATOR, 0, nullptr));
    ASSERT_TRUE(AppendMenuW(system, MF_STRING, 16, u"&About..."));
    ASSERT_TRUE(AppendMenuW(system, MF_STRING | MF_GRAYED, 17, u"Later"));

    struct Case {
        UINT id;
        BOOL posted;
    };
    const Case cases[] = {{16, TRUE}, {17, FALSE}, {99, FALSE}};
    for (const Case& c : cases)
        EXPECT_EQ(platform::ui::ChooseSystemMenuItem(hwnd, c.id), c.posted) << c.id;
    EXPECT_TRUE(commands.empty()); // posted, not sent
    platform::ui::DrainMessages();
    EXPECT_EQ(commands, std::vector<WPARAM>{16});

    // The default handling of a standard entry still applies.
    EXPECT_TRUE(platform::ui::ChooseSystemMenuItem(hwnd, static_cast<UINT>(SC_CLOSE)));
    platform::ui::DrainMessages();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(platform::ui::ChooseSystemMenuItem(hwnd, 16));
}
