// Menus. All menus of the process live in one table guarded by one mutex; no message is sent while it is held.
#include "platform/ui/menu.h"

#include "platform/ui/menu_popup.h"
#include "platform/ui/presenter.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"
#include "platform/res/templates.h"
#include "platform/ui/message.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::ui {
namespace {

constexpr DWORD kErrorChildWindowMenu = 1436;
constexpr DWORD kErrorMenuItemNotFound = 1456;

struct MenuItem {
    UINT type = MFT_STRING; // MFT_ bits
    UINT state = 0;         // MFS_ bits
    UINT id = 0;
    HMENU submenu = nullptr;
    std::u16string text;
    ULONG_PTR data = 0;
    HBITMAP bitmap = nullptr; // MFT_BITMAP or hbmpItem
    HBITMAP checked = nullptr;
    HBITMAP unchecked = nullptr;
};

struct Menu {
    bool popup = false;
    std::vector<MenuItem> items;
};
using MenuPtr = std::shared_ptr<Menu>;

constexpr ULONG_PTR kTypeBits = MFT_BITMAP | MFT_MENUBARBREAK | MFT_MENUBREAK | MFT_OWNERDRAW | MFT_RADIOCHECK |
                                MFT_SEPARATOR | MFT_RIGHTORDER | MFT_RIGHTJUSTIFY;
constexpr UINT kStateBits = MFS_GRAYED | MFS_CHECKED | MFS_HILITE | MFS_DEFAULT;

// Owner-drawn items are drawn into a memory device context of the drawing layer, as if on the menu's window.
HDC AcquireMenuDC(int width, int height) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? CreateBitmap(width, height, 1, 32, nullptr) : nullptr;
    if (!bitmap) {
        if (dc)
            DeleteDC(dc);
        return nullptr;
    }
    SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, GetSysColorBrush(COLOR_MENU));
    return dc;
}

void ReleaseMenuDC(HDC dc) {
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    DeleteDC(dc);
    if (bitmap)
        DeleteObject(bitmap);
}

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, MenuPtr> menus;
    std::unordered_map<uintptr_t, HMENU> systemMenus; // window -> its copy of the system menu
    uintptr_t next = 0x4D0010;
    MenuHook hook;
    MenuDrawBridge drawBridge{AcquireMenuDC, ReleaseMenuDC};
};

Registry& Reg() {
    static Registry* r = new Registry; // never destroyed: menus may be used by threads still running at exit
    return *r;
}

// The calls below take the registry mutex themselves unless named ...Locked.
MenuPtr FindLocked(HMENU menu) {
    auto& r = Reg();
    auto it = r.menus.find(reinterpret_cast<uintptr_t>(menu));
    return it == r.menus.end() ? nullptr : it->second;
}

MenuPtr FindOrFail(HMENU menu) {
    MenuPtr m = FindLocked(menu);
    if (!m)
        SetLastError(ERROR_INVALID_MENU_HANDLE);
    return m;
}

HMENU NewMenuLocked(bool popup) {
    auto& r = Reg();
    auto m = std::make_shared<Menu>();
    m->popup = popup;
    const uintptr_t key = r.next;
    r.next += 0x10;
    r.menus.emplace(key, std::move(m));
    return reinterpret_cast<HMENU>(key);
}

void DestroyLocked(HMENU menu) {
    MenuPtr m = FindLocked(menu);
    if (!m)
        return;
    Reg().menus.erase(reinterpret_cast<uintptr_t>(menu));
    for (const MenuItem& item : m->items)
        if (item.submenu)
            DestroyLocked(item.submenu);
}

struct Location {
    MenuPtr menu;
    size_t index = 0;
};

bool FindByCommandLocked(const MenuPtr& menu, UINT id, Location& out, int depth = 0) {
    if (depth > 32)
        return false;
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const MenuItem& item = menu->items[i];
        if (item.submenu) {
            MenuPtr sub = FindLocked(item.submenu);
            if (sub && FindByCommandLocked(sub, id, out, depth + 1))
                return true;
            if (item.id == id) {
                out = Location{menu, i};
                return true;
            }
        } else if (item.id == id) {
            out = Location{menu, i};
            return true;
        }
    }
    return false;
}

bool LocateLocked(HMENU handle, UINT item, bool byPosition, Location& out) {
    MenuPtr menu = FindOrFail(handle);
    if (!menu)
        return false;
    if (byPosition) {
        if (item >= menu->items.size())
            return false;
        out = Location{menu, item};
        return true;
    }
    return FindByCommandLocked(menu, item, out);
}

// The item that AppendMenuW, InsertMenuW and ModifyMenuW describe with flags, id and text.
bool ItemFromFlags(UINT flags, UINT_PTR idNewItem, LPCWSTR newItem, MenuItem& item) {
    item.type = flags & (MF_BITMAP | MF_MENUBARBREAK | MF_MENUBREAK | MF_OWNERDRAW | MF_SEPARATOR | MF_HELP);
    item.state = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_HILITE | MF_DEFAULT);
    if (item.state & MF_DISABLED)
        item.state |= MF_GRAYED; // both mean "cannot be chosen"; MFS_GRAYED covers both bits
    if (flags & MF_POPUP) {
        item.submenu = reinterpret_cast<HMENU>(idNewItem);
        if (!FindLocked(item.submenu)) {
            SetLastError(ERROR_INVALID_MENU_HANDLE);
            return false;
        }
        item.id = static_cast<UINT>(idNewItem);
    } else {
        item.id = static_cast<UINT>(idNewItem);
    }
    // An owner-drawn item's "text" is its data, separators included.
    if (flags & MF_SEPARATOR)
        item.type |= MFT_SEPARATOR;
    if (flags & MF_OWNERDRAW) {
        item.data = reinterpret_cast<ULONG_PTR>(newItem);
    } else if (flags & MF_SEPARATOR) {
    } else if (flags & MF_BITMAP) {
        item.bitmap = reinterpret_cast<HBITMAP>(const_cast<WCHAR*>(newItem));
    } else if (newItem) {
        item.text = newItem;
    }
    return true;
}

// MF_ state bits of an item as GetMenuState and the owner-draw records report them.
UINT StateFlags(const MenuItem& item) {
    UINT flags = (item.type & kTypeBits) | (item.state & kStateBits);
    if (item.submenu)
        flags |= MF_POPUP;
    return flags;
}

bool Choosable(const MenuItem& item) {
    return !item.submenu && !(item.type & MFT_SEPARATOR) && !(item.state & MFS_GRAYED);
}

std::u16string WithoutAmpersands(const std::u16string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size() && text[i + 1] != u'&')
            continue;
        if (text[i] == u'\t')
            break;
        out += text[i];
    }
    return out;
}

void DescribeLocked(const MenuPtr& menu, std::vector<int> path, MenuHookInfo& info, int depth = 0) {
    if (depth > 32)
        return;
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const MenuItem& item = menu->items[i];
        MenuHookInfo::Item d;
        d.path = path;
        d.path.push_back(static_cast<int>(i));
        d.id = item.submenu || (item.type & MFT_SEPARATOR) ? 0 : item.id;
        d.text = item.text;
        d.state = StateFlags(item);
        d.popup = item.submenu != nullptr;
        d.separator = (item.type & MFT_SEPARATOR) != 0;
        info.items.push_back(d);
        if (item.submenu)
            if (MenuPtr sub = FindLocked(item.submenu))
                DescribeLocked(sub, d.path, info, depth + 1);
    }
}

// The chain of menus from `root` to the one that holds command `id`, with the position of each step.
bool PathToCommandLocked(HMENU root, UINT id, std::vector<std::pair<HMENU, int>>& chain, int depth = 0) {
    MenuPtr menu = FindLocked(root);
    if (!menu || depth > 32)
        return false;
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const MenuItem& item = menu->items[i];
        if (item.submenu) {
            chain.emplace_back(item.submenu, static_cast<int>(i));
            if (PathToCommandLocked(item.submenu, id, chain, depth + 1))
                return true;
            chain.pop_back();
        } else if (item.id == id && Choosable(item)) {
            return true;
        }
    }
    return false;
}

HMENU BuildFromTemplate(const std::vector<platform::res::MenuItemTemplate>& items, bool popup) {
    HMENU menu = popup ? CreatePopupMenu() : CreateMenu();
    for (const auto& t : items) {
        UINT flags = t.flags & ~(MF_POPUP | MF_END);
        if (t.flags & MF_POPUP) {
            HMENU sub = BuildFromTemplate(t.children, true);
            AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), t.text.c_str());
        } else if (t.id == 0 && t.text.empty()) {
            AppendMenuW(menu, flags | MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(menu, flags, t.id, t.text.c_str());
        }
    }
    return menu;
}

// Sends the owner-draw messages for the items of a pop-up menu that is being shown.
void MeasureAndDraw(HWND owner, HMENU handle) {
    std::vector<MenuItem> items;
    MenuDrawBridge bridge;
    {
        std::lock_guard lock(Reg().mutex);
        MenuPtr menu = FindLocked(handle);
        if (!menu)
            return;
        items = menu->items;
        bridge = Reg().drawBridge;
    }
    std::vector<std::pair<size_t, MEASUREITEMSTRUCT>> sizes;
    int width = 0, height = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!(items[i].type & MFT_OWNERDRAW))
            continue;
        MEASUREITEMSTRUCT mis{};
        mis.CtlType = ODT_MENU;
        mis.itemID = items[i].id;
        mis.itemData = items[i].data;
        SendMessageW(owner, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
        sizes.emplace_back(i, mis);
        width = std::max(width, static_cast<int>(mis.itemWidth));
        height += static_cast<int>(mis.itemHeight);
    }
    if (sizes.empty() || !bridge.acquire || !bridge.release)
        return;
    HDC dc = bridge.acquire(std::max(width, 1), std::max(height, 1));
    if (!dc)
        return;
    int top = 0;
    for (const auto& [index, mis] : sizes) {
        const MenuItem& item = items[index];
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_MENU;
        dis.itemID = item.id;
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = ((item.state & MFS_GRAYED) ? ODS_GRAYED : 0) | ((item.state & MFS_CHECKED) ? ODS_CHECKED : 0) |
                        ((item.state & MFS_DEFAULT) ? ODS_DEFAULT : 0);
        dis.hwndItem = reinterpret_cast<HWND>(handle);
        dis.hDC = dc;
        dis.rcItem = RECT{0, top, width, top + static_cast<int>(mis.itemHeight)};
        dis.itemData = item.data;
        SendMessageW(owner, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis));
        top += static_cast<int>(mis.itemHeight);
    }
    bridge.release(dc);
}

} // namespace

UINT MenuHookInfo::FindCommand(const std::u16string& text) const {
    for (const Item& item : items)
        if (!item.popup && !item.separator && WithoutAmpersands(item.text) == WithoutAmpersands(text))
            return item.id;
    return 0;
}

void SetMenuHook(MenuHook hook) {
    std::lock_guard lock(Reg().mutex);
    Reg().hook = std::move(hook);
}

void SetMenuDrawBridge(const MenuDrawBridge& bridge) {
    std::lock_guard lock(Reg().mutex);
    Reg().drawBridge = bridge;
}

} // namespace platform::ui

using namespace platform::ui;

HMENU CreateMenu() {
    std::lock_guard lock(Reg().mutex);
    return NewMenuLocked(false);
}

HMENU CreatePopupMenu() {
    std::lock_guard lock(Reg().mutex);
    return NewMenuLocked(true);
}

BOOL DestroyMenu(HMENU menu) {
    std::lock_guard lock(Reg().mutex);
    if (!FindOrFail(menu))
        return FALSE;
    DestroyLocked(menu);
    return TRUE;
}

BOOL IsMenu(HMENU menu) {
    std::lock_guard lock(Reg().mutex);
    return FindLocked(menu) ? TRUE : FALSE;
}

HMENU LoadMenuIndirectW(const void* menuTemplate) {
    if (!menuTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The template's end is found by the parser; a menu template is never larger than this.
    auto items = platform::res::ParseMenuTemplate(menuTemplate, 0x10000);
    if (!items) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    return BuildFromTemplate(*items, false);
}

HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name) {
    HRSRC resource = FindResourceW(instance, name, RT_MENU);
    if (!resource)
        return nullptr;
    HGLOBAL data = LoadResource(instance, resource);
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes)
        return nullptr;
    auto items = platform::res::ParseMenuTemplate(bytes, SizeofResource(instance, resource));
    if (!items) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    return BuildFromTemplate(*items, false);
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    MenuItem item;
    if (!m || !ItemFromFlags(flags, idNewItem, newItem, item))
        return FALSE;
    m->items.push_back(std::move(item));
    return TRUE;
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    MenuItem item;
    if (!m || !ItemFromFlags(flags, idNewItem, newItem, item))
        return FALSE;
    Location where;
    if (flags & MF_BYPOSITION) {
        where = Location{m, std::min<size_t>(position, m->items.size())};
    } else if (!FindByCommandLocked(m, position, where)) {
        // Not found by command: appended, as Windows does.
        where = Location{m, m->items.size()};
    }
    where.menu->items.insert(where.menu->items.begin() + static_cast<long>(where.index), std::move(item));
    return TRUE;
}

BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    MenuItem item;
    if (!LocateLocked(menu, position, flags & MF_BYPOSITION, where)) {
        SetLastError(FindLocked(menu) ? kErrorMenuItemNotFound : ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    if (!ItemFromFlags(flags, idNewItem, newItem, item))
        return FALSE;
    MenuItem& old = where.menu->items[where.index];
    if (old.submenu && old.submenu != item.submenu)
        DestroyLocked(old.submenu);
    item.checked = old.checked;
    item.unchecked = old.unchecked;
    old = std::move(item);
    return TRUE;
}

namespace {

bool ApplyInfo(MenuItem& item, const MENUITEMINFOW& info) {
    if (info.fMask & MIIM_SUBMENU) {
        if (info.hSubMenu && !FindLocked(info.hSubMenu)) {
            SetLastError(ERROR_INVALID_MENU_HANDLE);
            return false;
        }
        item.submenu = info.hSubMenu;
    }
    if (info.fMask & MIIM_TYPE) {
        item.type = info.fType & kTypeBits;
        if (item.type & MFT_BITMAP)
            item.bitmap = reinterpret_cast<HBITMAP>(info.dwTypeData);
        else if (!(item.type & (MFT_SEPARATOR | MFT_OWNERDRAW)))
            item.text = info.dwTypeData ? std::u16string(info.dwTypeData) : std::u16string();
    }
    if (info.fMask & MIIM_FTYPE)
        item.type = (item.type & MFT_BITMAP) | (info.fType & kTypeBits & ~MFT_BITMAP);
    if (info.fMask & MIIM_STRING)
        item.text = info.dwTypeData ? std::u16string(info.dwTypeData) : std::u16string();
    if (info.fMask & MIIM_STATE)
        item.state = info.fState & kStateBits;
    if (info.fMask & MIIM_ID)
        item.id = info.wID;
    if (info.fMask & MIIM_DATA)
        item.data = info.dwItemData;
    if (info.fMask & MIIM_CHECKMARKS) {
        item.checked = info.hbmpChecked;
        item.unchecked = info.hbmpUnchecked;
    }
    if (info.fMask & MIIM_BITMAP)
        item.bitmap = info.hbmpItem;
    return true;
}

bool ValidInfo(const MENUITEMINFOW* info) {
    if (!info || info->cbSize != sizeof(MENUITEMINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

} // namespace

BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info) {
    if (!ValidInfo(info))
        return FALSE;
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    if (!m)
        return FALSE;
    MenuItem newItem;
    if (!ApplyInfo(newItem, *info))
        return FALSE;
    Location where;
    if (byPosition)
        where = Location{m, std::min<size_t>(item, m->items.size())};
    else if (!FindByCommandLocked(m, item, where))
        where = Location{m, m->items.size()};
    where.menu->items.insert(where.menu->items.begin() + static_cast<long>(where.index), std::move(newItem));
    return TRUE;
}

BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info) {
    if (!ValidInfo(info))
        return FALSE;
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, item, byPosition, where)) {
        SetLastError(FindLocked(menu) ? kErrorMenuItemNotFound : ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    return ApplyInfo(where.menu->items[where.index], *info) ? TRUE : FALSE;
}

BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOW info) {
    if (!ValidInfo(info))
        return FALSE;
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, item, byPosition, where)) {
        SetLastError(FindLocked(menu) ? kErrorMenuItemNotFound : ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    const MenuItem& it = where.menu->items[where.index];
    const UINT mask = info->fMask;
    if (mask & (MIIM_TYPE | MIIM_FTYPE))
        info->fType = it.type;
    if (mask & (MIIM_TYPE | MIIM_STRING)) {
        if ((mask & MIIM_TYPE) && (it.type & MFT_BITMAP)) {
            info->dwTypeData = reinterpret_cast<LPWSTR>(it.bitmap);
        } else if ((it.type & (MFT_SEPARATOR | MFT_OWNERDRAW)) && !(mask & MIIM_STRING)) {
            info->cch = 0;
        } else {
            if (info->dwTypeData && info->cch > 0) {
                const size_t n = std::min<size_t>(it.text.size(), info->cch - 1);
                it.text.copy(info->dwTypeData, n);
                info->dwTypeData[n] = 0;
                info->cch = static_cast<UINT>(n);
            } else {
                info->cch = static_cast<UINT>(it.text.size());
            }
        }
    }
    if (mask & MIIM_STATE)
        info->fState = it.state;
    if (mask & MIIM_ID)
        info->wID = it.id;
    if (mask & MIIM_SUBMENU)
        info->hSubMenu = it.submenu;
    if (mask & MIIM_DATA)
        info->dwItemData = it.data;
    if (mask & MIIM_CHECKMARKS) {
        info->hbmpChecked = it.checked;
        info->hbmpUnchecked = it.unchecked;
    }
    if (mask & MIIM_BITMAP)
        info->hbmpItem = (it.type & MFT_BITMAP) ? nullptr : it.bitmap;
    return TRUE;
}

namespace {

BOOL RemoveItem(HMENU menu, UINT position, UINT flags, bool destroySubmenu) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, position, flags & MF_BYPOSITION, where)) {
        SetLastError(FindLocked(menu) ? kErrorMenuItemNotFound : ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    HMENU sub = where.menu->items[where.index].submenu;
    where.menu->items.erase(where.menu->items.begin() + static_cast<long>(where.index));
    if (destroySubmenu && sub)
        DestroyLocked(sub);
    return TRUE;
}

} // namespace

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
    return RemoveItem(menu, position, flags, true);
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) {
    return RemoveItem(menu, position, flags, false);
}

DWORD EnableMenuItem(HMENU menu, UINT idEnableItem, UINT enable) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, idEnableItem, enable & MF_BYPOSITION, where))
        return static_cast<DWORD>(-1);
    MenuItem& item = where.menu->items[where.index];
    const DWORD old = item.state & (MF_GRAYED | MF_DISABLED);
    item.state = (item.state & ~MFS_GRAYED) | (enable & (MF_GRAYED | MF_DISABLED));
    return old;
}

DWORD CheckMenuItem(HMENU menu, UINT idCheckItem, UINT check) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, idCheckItem, check & MF_BYPOSITION, where))
        return static_cast<DWORD>(-1);
    MenuItem& item = where.menu->items[where.index];
    const DWORD old = item.state & MF_CHECKED;
    item.state = (item.state & ~MF_CHECKED) | (check & MF_CHECKED);
    return old;
}

BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) {
    std::lock_guard lock(Reg().mutex);
    Location a, b, c;
    const bool byPosition = flags & MF_BYPOSITION;
    if (!LocateLocked(menu, first, byPosition, a) || !LocateLocked(menu, last, byPosition, b) ||
        !LocateLocked(menu, check, byPosition, c) || a.menu != b.menu || a.menu != c.menu || a.index > b.index ||
        c.index < a.index || c.index > b.index)
        return FALSE;
    for (size_t i = a.index; i <= b.index; ++i) {
        MenuItem& item = a.menu->items[i];
        if (item.submenu || (item.type & MFT_SEPARATOR))
            continue;
        if (i == c.index) {
            item.state |= MFS_CHECKED;
            item.type |= MFT_RADIOCHECK;
        } else {
            item.state &= ~MFS_CHECKED;
        }
    }
    return TRUE;
}

BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    if (!m)
        return FALSE;
    for (MenuItem& it : m->items)
        it.state &= ~MFS_DEFAULT;
    if (item == static_cast<UINT>(-1))
        return TRUE;
    for (size_t i = 0; i < m->items.size(); ++i)
        if (byPosition ? i == item : m->items[i].id == item) {
            m->items[i].state |= MFS_DEFAULT;
            return TRUE;
        }
    return FALSE;
}

UINT GetMenuDefaultItem(HMENU menu, UINT byPosition, UINT) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    if (!m)
        return static_cast<UINT>(-1);
    for (size_t i = 0; i < m->items.size(); ++i)
        if (m->items[i].state & MFS_DEFAULT)
            return byPosition ? static_cast<UINT>(i) : m->items[i].id;
    return static_cast<UINT>(-1);
}

BOOL HiliteMenuItem(HWND, HMENU menu, UINT idHiliteItem, UINT hilite) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, idHiliteItem, hilite & MF_BYPOSITION, where))
        return FALSE;
    MenuItem& item = where.menu->items[where.index];
    item.state = (item.state & ~MFS_HILITE) | (hilite & MF_HILITE);
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size()) ||
        m->items[static_cast<size_t>(position)].submenu)
        return static_cast<UINT>(-1);
    return m->items[static_cast<size_t>(position)].id;
}

UINT GetMenuState(HMENU menu, UINT id, UINT flags) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, id, flags & MF_BYPOSITION, where))
        return static_cast<UINT>(-1);
    const MenuItem& item = where.menu->items[where.index];
    UINT state = StateFlags(item);
    if (item.submenu) {
        MenuPtr sub = FindLocked(item.submenu);
        state = ((sub ? static_cast<UINT>(sub->items.size()) : 0) << 8) | (state & 0xFF);
    }
    return state;
}

int GetMenuStringW(HMENU menu, UINT idItem, LPWSTR string, int maxCount, UINT flags) {
    std::lock_guard lock(Reg().mutex);
    Location where;
    if (!LocateLocked(menu, idItem, flags & MF_BYPOSITION, where))
        return 0;
    const std::u16string& text = where.menu->items[where.index].text;
    if (!string || maxCount <= 0)
        return static_cast<int>(text.size());
    const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(maxCount - 1));
    text.copy(string, n);
    string[n] = 0;
    return static_cast<int>(n);
}

HMENU GetSubMenu(HMENU menu, int position) {
    std::lock_guard lock(Reg().mutex);
    MenuPtr m = FindOrFail(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size()))
        return nullptr;
    return m->items[static_cast<size_t>(position)].submenu;
}

HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    // Copies of windows that are gone are destroyed with them (checked here, as windows come and go).
    std::vector<uintptr_t> known;
    {
        std::lock_guard lock(Reg().mutex);
        for (const auto& [window, menu] : Reg().systemMenus)
            known.push_back(window);
    }
    std::vector<uintptr_t> gone;
    for (uintptr_t window : known)
        if (!IsWindow(reinterpret_cast<HWND>(window)))
            gone.push_back(window);
    std::unique_lock lock(Reg().mutex);
    auto& menus = Reg().systemMenus;
    for (uintptr_t window : gone) {
        auto stale = menus.find(window);
        if (stale != menus.end()) {
            DestroyLocked(stale->second);
            menus.erase(stale);
        }
    }
    const auto key = reinterpret_cast<uintptr_t>(hwnd);
    auto it = menus.find(key);
    if (revert) {
        if (it != menus.end()) {
            DestroyLocked(it->second);
            menus.erase(it);
        }
        return nullptr;
    }
    if (it != menus.end() && FindLocked(it->second))
        return it->second;
    HMENU menu = NewMenuLocked(true);
    menus[key] = menu;
    MenuPtr m = FindLocked(menu);
    auto add = [&](UINT id, const char16_t* text, UINT state = 0) {
        MenuItem item;
        item.id = id;
        item.state = state;
        if (text)
            item.text = text;
        else
            item.type = MFT_SEPARATOR;
        m->items.push_back(std::move(item));
    };
    add(static_cast<UINT>(SC_RESTORE), u"&Restore");
    add(static_cast<UINT>(SC_MOVE), u"&Move");
    add(static_cast<UINT>(SC_SIZE), u"&Size");
    add(static_cast<UINT>(SC_MINIMIZE), u"Mi&nimize");
    add(static_cast<UINT>(SC_MAXIMIZE), u"Ma&ximize");
    add(0, nullptr);
    add(static_cast<UINT>(SC_CLOSE), u"&Close\tAlt+F4", MFS_DEFAULT);
    return menu;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (GetWindowLongW(hwnd, GWL_STYLE) & static_cast<LONG>(WS_CHILD)) {
        SetLastError(kErrorChildWindowMenu);
        return FALSE;
    }
    if (menu && !IsMenu(menu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    SetWindowLongPtrW(hwnd, GWLP_ID, reinterpret_cast<LONG_PTR>(menu));
    return TRUE;
}

HMENU GetMenu(HWND hwnd) {
    if (!IsWindow(hwnd) || (GetWindowLongW(hwnd, GWL_STYLE) & static_cast<LONG>(WS_CHILD)))
        return nullptr;
    return reinterpret_cast<HMENU>(GetWindowLongPtrW(hwnd, GWLP_ID));
}

BOOL DrawMenuBar(HWND hwnd) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND hwnd, LPTPMPARAMS) {
    MenuHookInfo info;
    MenuHook hook;
    {
        std::lock_guard lock(Reg().mutex);
        MenuPtr m = FindOrFail(menu);
        if (!m)
            return FALSE;
        info.owner = hwnd;
        info.flags = flags;
        info.pt = POINT{x, y};
        DescribeLocked(m, {}, info);
        hook = Reg().hook;
    }
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const bool notify = !(flags & TPM_NONOTIFY);
    if (notify) {
        SendMessageW(hwnd, WM_ENTERMENULOOP, TRUE, 0);
        SendMessageW(hwnd, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
        SendMessageW(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(0, FALSE));
        MeasureAndDraw(hwnd, menu);
        // WM_INITMENUPOPUP handlers change states: describe the menu as it is now shown.
        std::lock_guard lock(Reg().mutex);
        if (MenuPtr m = FindLocked(menu)) {
            info.items.clear();
            DescribeLocked(m, {}, info);
        }
    }

    UINT chosen = 0;
    bool shown = false;
    if (hook) {
        chosen = hook(menu, info);
    } else if (DisplayShown()) {
        // The user chooses on the display; the menu loop already told the owner of every sub-menu it opened.
        chosen = TrackMenuOnDisplay(menu, flags, info.pt, hwnd);
        shown = true;
    } else {
        std::u16string text = u"TrackPopupMenu: no menu hook, the menu is dismissed:";
        for (const auto& item : info.items)
            if (!item.separator)
                text += u" [" + WithoutAmpersands(item.text) + u"]";
        text += u"\n";
        OutputDebugStringW(text.c_str());
    }

    // The choice must be an item that a click could choose; on the way to it every sub-menu opens.
    std::vector<std::pair<HMENU, int>> chain;
    if (chosen) {
        std::lock_guard lock(Reg().mutex);
        if (!PathToCommandLocked(menu, chosen, chain))
            chosen = 0;
    }
    if (notify && chosen && !shown) {
        for (const auto& [sub, position] : chain) {
            SendMessageW(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), MAKELPARAM(position, FALSE));
            MeasureAndDraw(hwnd, sub);
        }
        HMENU holder = chain.empty() ? menu : chain.back().first;
        const UINT state = GetMenuState(holder, chosen, MF_BYCOMMAND);
        SendMessageW(hwnd, WM_MENUSELECT, MAKEWPARAM(chosen, (state & 0xFFFF) | MF_MOUSESELECT),
                     reinterpret_cast<LPARAM>(holder));
    }
    if (notify) {
        SendMessageW(hwnd, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
        SendMessageW(hwnd, WM_EXITMENULOOP, TRUE, 0);
    }
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen)
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND hwnd, const RECT*) {
    return TrackPopupMenuEx(menu, flags, x, y, hwnd, nullptr);
}
