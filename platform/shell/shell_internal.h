// Private to the shell layer: what the bytes of an item mean, how a list leads to a place, and the desktop's own
// data (the user's folders, file types, applications and icons).
#pragma once

#include "platform/shell/idlist.h"

#include "platform/base/types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::shell {

// The kind byte that starts every item.
enum class ItemKind : BYTE {
    Virtual = 0x1F, // a folder of the shell's own: My Computer, the Control Panel (a special folder number follows)
    Drive = 0x2F,   // a drive root: "C:\"
    Folder = 0x31,  // a folder by name, attributes first
    File = 0x32,    // a file by name, attributes first
    Link = 0x33,    // a folder shown elsewhere than where it lies: attributes, a display name and its full path
    Share = 0x42,   // a share root: "\\server\share"
};

struct Item {
    ItemKind kind = ItemKind::File;
    WORD csidl = 0;        // Virtual
    DWORD attributes = 0;  // Folder, File, Link
    std::u16string name;   // Drive and Share: the root; Folder and File: the name; Link: the display name
    std::u16string target; // Link: the full path
};

// Item bytes. Make* return a list of one item (null when it does not fit an item or memory runs out).
PIDLIST_RELATIVE MakeItem(const Item& item);
bool ReadItem(LPCSHITEMID id, Item& out);
// One list from items.
PIDLIST_ABSOLUTE MakeList(const std::vector<Item>& items);
// The bytes of a list of one item, its terminator included (empty when it does not fit an item).
std::vector<BYTE> ItemBytes(const Item& item);

// A list of one folder or file item (as MakeItem makes it, without building an Item): null when the name does not
// fit an item or memory runs out.
PITEMID_CHILD NewNamedItem(ItemKind kind, DWORD attributes, std::u16string_view name);

// The shell's order of items in a folder: its own folders, links, drives, shares, then folders and files by name
// without regard to case (and exactly where that ties).
int ItemRank(ItemKind kind);
// What the order looks at, read in place from an item's bytes (the name is not aligned: read it with memcpy).
struct ItemKey {
    ItemKind kind = ItemKind::File;
    WORD csidl = 0;
    const BYTE* name = nullptr;
    size_t length = 0; // characters
};
bool ReadItemKey(LPCSHITEMID id, ItemKey& out);
int CompareItemKeys(const ItemKey& a, const ItemKey& b);

// Where an absolute list leads.
struct Place {
    bool valid = false;
    bool desktop = false;  // the empty list
    WORD virtualCsidl = 0; // My Computer, the Control Panel
    std::u16string path;   // the file-system path ("C:\", "C:\a\b", "\\srv\share\x"); empty for virtual folders
    bool folder = false;   // it can be bound and listed
    DWORD attributes = 0;  // of the last item
    Item last;             // the last item (when there is one)
};
Place Resolve(PCIDLIST_ABSOLUTE pidl);

// The items of a Windows path ("C:\a\b" -> My Computer, C:\, a, b), each looked up on disk so that names carry
// their case and attributes; nothing when the path or one of its parts does not exist (error in *error).
std::optional<std::vector<Item>> ItemsOfPath(const std::u16string& path, DWORD* error);
// The same without looking at the disk (for changes of things that may be gone).
std::optional<std::vector<Item>> ItemsOfPathUnchecked(const std::u16string& path, bool lastIsFolder);

// Path helpers.
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
// Whether `path` is `folder` or lies below it (component boundaries, without regard to case).
bool IsInside(const std::u16string& path, const std::u16string& folder);

// ---- The desktop's data ----

// The user's folders as Windows paths ("" when the host folder has no Windows name): the desktop, documents,
// favorites, fonts, application data and the profile.
struct UserFolders {
    std::u16string profile, desktop, documents, favorites, fonts, appData, localAppData;
};
UserFolders GetUserFolders();
// The name Windows shows for a special folder at this path ("Desktop", "My Documents", ...), or "".
std::u16string SpecialFolderDisplayName(const std::u16string& path);

// The MIME type of a file name (by the shared MIME database's globs); "inode/directory" for folders;
// "application/octet-stream" when nothing matches.
std::string MimeTypeOf(const std::u16string& name, bool folder);

struct DesktopApp {
    std::string id; // desktop-file id ("org.example.Editor.desktop")
    std::u16string name;
    std::string exec; // the Exec line
    std::string icon;
    std::string path; // host path of the entry
};
// The applications for a MIME type, the default first; empty when there is none.
std::vector<DesktopApp> AppsForMimeType(const std::string& mimeType);
// Starts an application with files (host paths); the process handle when asked for (caller closes it).
DWORD LaunchApp(const DesktopApp& app, const std::vector<std::string>& hostFiles, const std::string& hostFolder,
                HANDLE* process);

// Icons of the desktop's theme: the host path of a PNG for an icon name near the size; "" when the theme has none.
std::string FindThemeIcon(const std::string& name, int size);
// What FindThemeIcon's answers depend on: the same key, the same answers.
std::string IconThemeKey();
// Whether IconThemeKey() would give `key` now (without building it).
bool IconThemeKeyIs(const std::string& key);

// ---- Names, attributes and menus of items ----

// The name of an absolute list by SHGDN flags; false when it has none of that kind.
bool DisplayName(PCIDLIST_ABSOLUTE pidl, DWORD shgdnFlags, std::u16string& name);
// The SFGAO attributes of a place, among those asked for.
ULONG AttributesOf(const Place& place, ULONG asked);
// The context menu object of one item (IID_IContextMenu, IID_IContextMenu2 or IID_IContextMenu3).
HRESULT CreateContextMenu(PCIDLIST_ABSOLUTE item, const GUID& riid, void** ppv);

// Runs a verb on a place ("" or "open", "explore", "properties", "opencontaining"): a Win32 result.
DWORD ExecuteItem(const Place& place, const std::u16string& verb, const std::u16string& parameters,
                  const std::u16string& directory, HWND owner, HANDLE* process);
// Shows the properties of a place in a message box.
void ShowProperties(const Place& place, HWND owner);

// ---- Changes ----

// A folder the shell has listed: change notifications watch it from now on (while anybody is registered).
void NoteListedFolder(const std::u16string& path);

} // namespace platform::shell
