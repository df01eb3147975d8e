// IContextMenu, IContextMenu2 and IContextMenu3: the shell's context menu of a file or folder
// (IShellFolder::GetUIObjectOf).
//
// Stands in for the shell's item context menu. The same as Windows: QueryContextMenu inserts the item's commands into
// a menu at a position, with ids from idCmdFirst up, and answers how many ids it used; InvokeCommand runs a command
// given by its offset from idCmdFirst (MAKEINTRESOURCE) or by its verb; GetCommandString gives a command's verb or
// help text (GCS_VERBW, GCS_HELPTEXTW and their ANSI forms) and validates it; CMF_DEFAULTONLY inserts only the
// default command and CMF_NODEFAULT marks none as default. HandleMenuMsg takes the menu messages a host forwards
// while the menu is shown.
//
// Where it differs: the commands are what a Linux desktop offers for the item: "Open" with the default application of
// its MIME type (freedesktop desktop entries and mimeapps.list), "Open With" a submenu of the other applications
// registered for the type, "Open Containing Folder", and "Properties" (a message box with the item's name, type,
// location, size and time of change). None of them is drawn by the owner, so HandleMenuMsg handles
// WM_INITMENUPOPUP (nothing to prepare) and declines WM_DRAWITEM and WM_MEASUREITEM (E_FAIL).
#pragma once

#include "platform/base/unknwn.h"

constexpr UINT CMF_NORMAL = 0x0000;
constexpr UINT CMF_DEFAULTONLY = 0x0001;
constexpr UINT CMF_VERBSONLY = 0x0002;
constexpr UINT CMF_EXPLORE = 0x0004;
constexpr UINT CMF_NOVERBS = 0x0008;
constexpr UINT CMF_CANRENAME = 0x0010;
constexpr UINT CMF_NODEFAULT = 0x0020;
constexpr UINT CMF_EXTENDEDVERBS = 0x0100;

constexpr DWORD CMIC_MASK_HOTKEY = 0x0020;
constexpr DWORD CMIC_MASK_ICON = 0x0010;
constexpr DWORD CMIC_MASK_NOASYNC = 0x0100;
constexpr DWORD CMIC_MASK_FLAG_NO_UI = 0x0400;
constexpr DWORD CMIC_MASK_UNICODE = 0x4000;
constexpr DWORD CMIC_MASK_PTINVOKE = 0x20000000;

constexpr UINT GCS_VERBA = 0x0000;
constexpr UINT GCS_HELPTEXTA = 0x0001;
constexpr UINT GCS_VALIDATEA = 0x0002;
constexpr UINT GCS_VERBW = 0x0004;
constexpr UINT GCS_HELPTEXTW = 0x0005;
constexpr UINT GCS_VALIDATEW = 0x0006;
constexpr UINT GCS_UNICODE = 0x0004;

struct CMINVOKECOMMANDINFO {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    DWORD dwHotKey;
    HANDLE hIcon;
};
using LPCMINVOKECOMMANDINFO = CMINVOKECOMMANDINFO*;

struct CMINVOKECOMMANDINFOEX {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    DWORD dwHotKey;
    HANDLE hIcon;
    LPCSTR lpTitle;
    LPCWSTR lpVerbW;
    LPCWSTR lpParametersW;
    LPCWSTR lpDirectoryW;
    LPCWSTR lpTitleW;
    POINT ptInvoke;
};

inline constexpr IID IID_IContextMenu = {0x000214E4, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IContextMenu2 = {0x000214F4, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IContextMenu3 = {0xBCFCE0A0, 0xEC17, 0x11D0, {0x8D, 0x10, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x19}};

struct IContextMenu : IUnknown {
    virtual HRESULT QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags) = 0;
    virtual HRESULT InvokeCommand(CMINVOKECOMMANDINFO* pici) = 0;
    virtual HRESULT GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName, UINT cchMax) = 0;

protected:
    ~IContextMenu() = default;
};
using LPCONTEXTMENU = IContextMenu*;

struct IContextMenu2 : IContextMenu {
    virtual HRESULT HandleMenuMsg(UINT uMsg, WPARAM wParam, LPARAM lParam) = 0;

protected:
    ~IContextMenu2() = default;
};
using LPCONTEXTMENU2 = IContextMenu2*;

struct IContextMenu3 : IContextMenu2 {
    virtual HRESULT HandleMenuMsg2(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) = 0;

protected:
    ~IContextMenu3() = default;
};
