// Special folders: SHGetSpecialFolderLocation, SHGetFolderLocation, SHGetFolderPathW, SHGetSpecialFolderPathW.
//
// Stands in for the shell's special folders. The same as Windows: each CSIDL names a folder of the user or of the
// shell; the file-system ones have a path, the shell's own (My Computer, the Control Panel) only an item id list;
// CSIDL_FLAG_CREATE makes a missing file-system folder; SHGetFolderPathW writes at most MAX_PATH characters.
//
// Where it differs: the user's folders are the desktop's own, under the drive that holds the home folder (C: by
// default): the desktop and documents folders are the XDG user folders (user-dirs.dirs, else "Desktop" and
// "Documents" in the home folder), the profile is the home folder, application data the XDG configuration folder,
// local application data the XDG data folder, fonts the XDG data folder's "fonts", and Favorites the folder
// "Favorites" in the home folder. A folder whose host place has no drive letter has no path (E_FAIL). The shell
// shows these folders under the names Windows gives them ("Desktop", "My Documents", "Favorites", "Fonts").
// A file-system folder that does not exist gives its path with S_FALSE from SHGetFolderPathW and
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) from the item id list functions, unless CSIDL_FLAG_CREATE makes it.
#pragma once

#include "platform/shell/idlist.h"

constexpr int CSIDL_DESKTOP = 0x0000;
constexpr int CSIDL_CONTROLS = 0x0003;
constexpr int CSIDL_PERSONAL = 0x0005;
constexpr int CSIDL_FAVORITES = 0x0006;
constexpr int CSIDL_MYDOCUMENTS = CSIDL_PERSONAL;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;
constexpr int CSIDL_DRIVES = 0x0011;
constexpr int CSIDL_FONTS = 0x0014;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int CSIDL_PROFILE = 0x0028;
constexpr int CSIDL_FLAG_CREATE = 0x8000;
constexpr int CSIDL_FLAG_DONT_VERIFY = 0x4000;
constexpr int CSIDL_FLAG_MASK = 0xFF00;

constexpr DWORD SHGFP_TYPE_CURRENT = 0;
constexpr DWORD SHGFP_TYPE_DEFAULT = 1;

HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, PIDLIST_ABSOLUTE* ppidl);
HRESULT SHGetFolderLocation(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, PIDLIST_ABSOLUTE* ppidl);
// pszPath holds MAX_PATH characters.
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
BOOL SHGetSpecialFolderPathW(HWND hwnd, LPWSTR pszPath, int csidl, BOOL fCreate);
