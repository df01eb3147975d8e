// SHGetFileInfoW and the system image lists.
//
// Stands in for the shell's file information. The same as Windows: SHGetFileInfoW tells, for a path or (with
// SHGFI_PIDL) an absolute item id list, its icon (SHGFI_ICON: a new icon the caller destroys; SHGFI_SYSICONINDEX: the
// index in the system image list, whose handle is the result), its display name, its type name and its SFGAO
// attributes; SHGFI_SMALLICON picks the 16 x 16 list, else the 32 x 32 one; SHGFI_OPENICON the open form of a folder;
// SHGFI_USEFILEATTRIBUTES takes the given attributes and does not look at the disk. The system image lists belong to
// the shell: the same index means the same picture in both, and nobody destroys them. The result is 0 on failure.
//
// Where it differs: pictures come from the desktop's icon theme (the freedesktop icon names: "folder",
// "folder-open", "drive-harddisk", "computer", the file's MIME type icon, ...), taken from PNG files of the
// configured theme (gtk-3.0 settings.ini), its parents, Adwaita and hicolor; where the theme has none, the layer
// draws its own. The type name is the MIME type's ("File folder" for folders).
#pragma once

#include "platform/shell/idlist.h"

struct SHFILEINFOW {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    WCHAR szDisplayName[MAX_PATH];
    WCHAR szTypeName[80];
};

constexpr UINT SHGFI_LARGEICON = 0x000000;
constexpr UINT SHGFI_SMALLICON = 0x000001;
constexpr UINT SHGFI_OPENICON = 0x000002;
constexpr UINT SHGFI_SHELLICONSIZE = 0x000004;
constexpr UINT SHGFI_PIDL = 0x000008;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x000010;
constexpr UINT SHGFI_ADDOVERLAYS = 0x000020;
constexpr UINT SHGFI_OVERLAYINDEX = 0x000040;
constexpr UINT SHGFI_ICON = 0x000100;
constexpr UINT SHGFI_DISPLAYNAME = 0x000200;
constexpr UINT SHGFI_TYPENAME = 0x000400;
constexpr UINT SHGFI_ATTRIBUTES = 0x000800;
constexpr UINT SHGFI_ICONLOCATION = 0x001000;
constexpr UINT SHGFI_EXETYPE = 0x002000;
constexpr UINT SHGFI_SYSICONINDEX = 0x004000;
constexpr UINT SHGFI_LINKOVERLAY = 0x008000;
constexpr UINT SHGFI_SELECTED = 0x010000;
constexpr UINT SHGFI_ATTR_SPECIFIED = 0x020000;

DWORD_PTR SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo, UINT uFlags);
