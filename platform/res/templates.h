// Dialog and menu templates as records: the parsed form of RT_DIALOG and RT_MENU resources.
//
// The resource compiler writes dialogs in the DLGTEMPLATE layout and menus in the menu-template layout that
// Windows uses (see ResourceTable.h); the window layer builds dialogs and menus from the records here. A name
// field holds either a text or an ordinal (0 with an empty text means none).
#pragma once

#include "platform/base/types.h"

#include <optional>
#include <string>
#include <vector>

namespace platform::res {

struct NameOrOrdinal {
    WORD ordinal = 0; // non-zero when the field is an ordinal
    std::u16string text;
    bool IsNone() const { return ordinal == 0 && text.empty(); }
};

struct DialogItemTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    NameOrOrdinal windowClass; // ordinals 0x80 Button, 0x81 Edit, 0x82 Static, 0x83 ListBox, 0x84 ScrollBar,
                               // 0x85 ComboBox
    NameOrOrdinal title;
    std::vector<BYTE> creationData;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string caption;
    WORD pointSize = 0; // with DS_SETFONT
    std::u16string fontName;
    std::vector<DialogItemTemplate> items;
};

constexpr DWORD kDsSetFont = 0x40;

// Parses a DLGTEMPLATE; null when the data is cut short or malformed.
std::optional<DialogTemplate> ParseDialogTemplate(const void* data, size_t size);

struct MenuItemTemplate {
    WORD flags = 0;      // MF_GRAYED 0x1, MF_CHECKED 0x8, MF_POPUP 0x10, MF_MENUBARBREAK 0x20, MF_MENUBREAK 0x40,
                         // MF_HELP 0x4000; MF_END 0x80 is consumed by the parser
    WORD id = 0;         // 0 for popups
    std::u16string text; // empty with id 0 for a separator
    std::vector<MenuItemTemplate> children;
};

// Parses a menu template (header, then items); null when malformed.
std::optional<std::vector<MenuItemTemplate>> ParseMenuTemplate(const void* data, size_t size);

} // namespace platform::res
