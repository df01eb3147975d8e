// Menus: menu bars and pop-up menus, their items, loading from menu templates, the system menu, and
// TrackPopupMenu(Ex).
//
// Stands in for the menu half of USER. The same as Windows: a menu is a handle to a list of items (strings,
// separators, owner-drawn items, pop-ups that open a sub-menu) with their states (grayed, disabled, checked,
// default, radio check); items are found by command (searching sub-menus depth first) or by position; DeleteMenu
// and DestroyMenu destroy sub-menus, RemoveMenu does not; ModifyMenuW that replaces a pop-up destroys the old
// sub-menu; results and errors as on Windows (-1 for an item that is not there, ERROR_INVALID_MENU_HANDLE).
// TrackPopupMenu sends WM_ENTERMENULOOP, WM_INITMENU and WM_INITMENUPOPUP, WM_MEASUREITEM and WM_DRAWITEM for
// owner-drawn items, WM_MENUSELECT, WM_EXITMENULOOP, and returns the command (TPM_RETURNCMD) or posts it as
// WM_COMMAND.
//
// Where it differs: nothing is shown. The user's choice in a pop-up menu comes from the menu hook that tests
// install (SetMenuHook); a choice of an item that is not there, is disabled, grayed, a separator or opens a
// sub-menu counts as dismissing the menu, as a click there would not choose anything. Without a hook, on a display
// the pop-up menu opens there for the user (menu_popup.h); headless it is written to the debug output and
// dismissed. Owner-drawn items are drawn into a memory device context of the
// drawing layer (tests may lend another one with SetMenuDrawBridge).
#pragma once

#include "platform/base/types.h"
#include "platform/res/resources.h"
#include "platform/ui/window.h"

#include <functional>
#include <string>
#include <vector>

// Menu flags of AppendMenuW, InsertMenuW, ModifyMenuW and the results of GetMenuState.
constexpr UINT MF_INSERT = 0x00000000;
constexpr UINT MF_CHANGE = 0x00000080;
constexpr UINT MF_APPEND = 0x00000100;
constexpr UINT MF_DELETE = 0x00000200;
constexpr UINT MF_REMOVE = 0x00001000;
constexpr UINT MF_BYCOMMAND = 0x00000000;
constexpr UINT MF_BYPOSITION = 0x00000400;
constexpr UINT MF_SEPARATOR = 0x00000800;
constexpr UINT MF_ENABLED = 0x00000000;
constexpr UINT MF_GRAYED = 0x00000001;
constexpr UINT MF_DISABLED = 0x00000002;
constexpr UINT MF_UNCHECKED = 0x00000000;
constexpr UINT MF_CHECKED = 0x00000008;
constexpr UINT MF_USECHECKBITMAPS = 0x00000200;
constexpr UINT MF_STRING = 0x00000000;
constexpr UINT MF_BITMAP = 0x00000004;
constexpr UINT MF_OWNERDRAW = 0x00000100;
constexpr UINT MF_POPUP = 0x00000010;
constexpr UINT MF_MENUBARBREAK = 0x00000020;
constexpr UINT MF_MENUBREAK = 0x00000040;
constexpr UINT MF_UNHILITE = 0x00000000;
constexpr UINT MF_HILITE = 0x00000080;
constexpr UINT MF_DEFAULT = 0x00001000;
constexpr UINT MF_SYSMENU = 0x00002000;
constexpr UINT MF_HELP = 0x00004000;
constexpr UINT MF_RIGHTJUSTIFY = 0x00004000;
constexpr UINT MF_MOUSESELECT = 0x00008000;
constexpr UINT MF_END = 0x00000080;

constexpr UINT MFT_STRING = MF_STRING;
constexpr UINT MFT_BITMAP = MF_BITMAP;
constexpr UINT MFT_MENUBARBREAK = MF_MENUBARBREAK;
constexpr UINT MFT_MENUBREAK = MF_MENUBREAK;
constexpr UINT MFT_OWNERDRAW = MF_OWNERDRAW;
constexpr UINT MFT_RADIOCHECK = 0x00000200;
constexpr UINT MFT_SEPARATOR = MF_SEPARATOR;
constexpr UINT MFT_RIGHTORDER = 0x00002000;
constexpr UINT MFT_RIGHTJUSTIFY = MF_RIGHTJUSTIFY;

constexpr UINT MFS_GRAYED = 0x00000003;
constexpr UINT MFS_DISABLED = MFS_GRAYED;
constexpr UINT MFS_CHECKED = MF_CHECKED;
constexpr UINT MFS_HILITE = MF_HILITE;
constexpr UINT MFS_ENABLED = MF_ENABLED;
constexpr UINT MFS_UNCHECKED = MF_UNCHECKED;
constexpr UINT MFS_UNHILITE = MF_UNHILITE;
constexpr UINT MFS_DEFAULT = MF_DEFAULT;

constexpr UINT MIIM_STATE = 0x00000001;
constexpr UINT MIIM_ID = 0x00000002;
constexpr UINT MIIM_SUBMENU = 0x00000004;
constexpr UINT MIIM_CHECKMARKS = 0x00000008;
constexpr UINT MIIM_TYPE = 0x00000010;
constexpr UINT MIIM_DATA = 0x00000020;
constexpr UINT MIIM_STRING = 0x00000040;
constexpr UINT MIIM_BITMAP = 0x00000080;
constexpr UINT MIIM_FTYPE = 0x00000100;

struct MENUITEMINFOW {
    UINT cbSize;
    UINT fMask;
    UINT fType;
    UINT fState;
    UINT wID;
    HMENU hSubMenu;
    HBITMAP hbmpChecked;
    HBITMAP hbmpUnchecked;
    ULONG_PTR dwItemData;
    LPWSTR dwTypeData;
    UINT cch;
    HBITMAP hbmpItem;
};
using LPMENUITEMINFOW = MENUITEMINFOW*;
using LPCMENUITEMINFOW = const MENUITEMINFOW*;
using MENUITEMINFO = MENUITEMINFOW;

// TrackPopupMenu flags.
constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_CENTERALIGN = 0x0004;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_VCENTERALIGN = 0x0010;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_HORIZONTAL = 0x0000;
constexpr UINT TPM_VERTICAL = 0x0040;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;
constexpr UINT TPM_RECURSE = 0x0001;

struct TPMPARAMS {
    UINT cbSize;
    RECT rcExclude;
};
using LPTPMPARAMS = TPMPARAMS*;

// Owner draw records (WM_MEASUREITEM, WM_DRAWITEM) and their codes.
constexpr UINT ODT_MENU = 1;
constexpr UINT ODT_LISTBOX = 2;
constexpr UINT ODT_COMBOBOX = 3;
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODT_STATIC = 5;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODA_SELECT = 0x0002;
constexpr UINT ODA_FOCUS = 0x0004;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_GRAYED = 0x0002;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_CHECKED = 0x0008;
constexpr UINT ODS_FOCUS = 0x0010;
constexpr UINT ODS_DEFAULT = 0x0020;
constexpr UINT ODS_HOTLIGHT = 0x0040;
constexpr UINT ODS_INACTIVE = 0x0080;
constexpr UINT ODS_NOACCEL = 0x0100;
constexpr UINT ODS_NOFOCUSRECT = 0x0200;
constexpr UINT ODS_COMBOBOXEDIT = 0x1000;

struct MEASUREITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemWidth;
    UINT itemHeight;
    ULONG_PTR itemData;
};
using LPMEASUREITEMSTRUCT = MEASUREITEMSTRUCT*;

struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
    ULONG_PTR itemData;
};
using LPDRAWITEMSTRUCT = DRAWITEMSTRUCT*;

// WM_MENUCHAR results (high word).
constexpr WORD MNC_IGNORE = 0;
constexpr WORD MNC_CLOSE = 1;
constexpr WORD MNC_EXECUTE = 2;
constexpr WORD MNC_SELECT = 3;

HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
// Loads a menu template (RT_MENU) of the module; null with the resource layer's error when there is none.
HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name);
HMENU LoadMenuIndirectW(const void* menuTemplate);

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem);
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem);
BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem);
BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOW info);
BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);

// Previous state (MF_GRAYED / MF_DISABLED bits, or MF_CHECKED) or -1 when the item is not there.
DWORD EnableMenuItem(HMENU menu, UINT idEnableItem, UINT enable);
DWORD CheckMenuItem(HMENU menu, UINT idCheckItem, UINT check);
BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags);
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition);
UINT GetMenuDefaultItem(HMENU menu, UINT byPosition, UINT flags);
BOOL HiliteMenuItem(HWND hwnd, HMENU menu, UINT idHiliteItem, UINT hilite);

int GetMenuItemCount(HMENU menu);
// The command id at a position; -1 for a pop-up item or a position that is not there.
UINT GetMenuItemID(HMENU menu, int position);
UINT GetMenuState(HMENU menu, UINT id, UINT flags);
int GetMenuStringW(HMENU menu, UINT idItem, LPWSTR string, int maxCount, UINT flags);
HMENU GetSubMenu(HMENU menu, int position);

// The window's copy of the system menu (made on first use); revert destroys the copy and returns null.
HMENU GetSystemMenu(HWND hwnd, BOOL revert);
BOOL SetMenu(HWND hwnd, HMENU menu);
HMENU GetMenu(HWND hwnd);
BOOL DrawMenuBar(HWND hwnd);

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND hwnd, const RECT* rect);
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND hwnd, LPTPMPARAMS params);

namespace platform::ui {

// What a pop-up menu hook is told.
struct MenuHookInfo {
    HWND owner = nullptr;
    UINT flags = 0;
    POINT pt{};
    // The items of the menu as shown (and of its sub-menus), depth first: the path of positions, the command id
    // (0 for separators and pop-ups), the text, and the MF_ state bits.
    struct Item {
        std::vector<int> path;
        UINT id = 0;
        std::u16string text;
        UINT state = 0;
        bool popup = false;
        bool separator = false;
    };
    std::vector<Item> items;
    // The command of the first item whose text, with '&' removed, equals `text`; 0 when none.
    UINT FindCommand(const std::u16string& text) const;
};

// The user's choice in every pop-up menu of the process: returns the chosen command id, or 0 to dismiss the menu.
// An empty function removes the hook.
using MenuHook = std::function<UINT(HMENU, const MenuHookInfo&)>;
void SetMenuHook(MenuHook hook);

// The device context owner-drawn menu items are drawn into: `acquire` gives one of the given size, `release` takes
// it back. Both null: owner-drawn items are measured but not drawn.
struct MenuDrawBridge {
    HDC (*acquire)(int width, int height) = nullptr;
    void (*release)(HDC dc) = nullptr;
};
void SetMenuDrawBridge(const MenuDrawBridge& bridge);

} // namespace platform::ui
