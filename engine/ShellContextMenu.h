// CShellContextMenu: the shell's context menu of a tree item inside the tree's own pop-up menu.
//
// The owner attaches the item (its folder and last item id), lets the shell add its commands to the pop-up in an id
// range, routes its window through this object while the pop-up is tracked (so that the shell's owner-drawn menus
// and the status-line help texts work), and hands a picked command back to be run. Ids outside the range the shell
// used are the owner's. The window is bound to the object through the window property "ShellContextMenu".
// GUI thread only.
#pragma once

#include "platform/afx/String.h"
#include "platform/shell/contextmenu.h"
#include "platform/shell/shellfolder.h"
#include "platform/ui/window.h"

class CShellContextMenu {
public:
    CShellContextMenu() = default;
    ~CShellContextMenu();
    CShellContextMenu(const CShellContextMenu&) = delete;
    CShellContextMenu& operator=(const CShellContextMenu&) = delete;

    // The context menu of the folder's child; whether one is held now.
    int Attach(IShellFolder* pFolder, LPCITEMIDLIST pidlChild);
    // Lets the shell add its commands at the position: 1 on success (the id range set), else 0.
    int AddCommands(HMENU hMenu, UINT nPosition, UINT nFirstId, UINT nLastId, UINT uFlags);
    // Routes the window's messages through this object (null undoes the routing).
    void RouteWindow(HWND hWnd);
    // Runs a shell command: 1 when it ran; 0 for an id outside the shell's range.
    int InvokeCommand(UINT nId);
    int GetCommandHelpText(UINT nId, CString& strText);

    UINT GetFirstId() const { return m_nFirstId; }
    UINT GetLastId() const { return m_nLastId; }
    BOOL HasMenu() const { return m_pMenu != nullptr; }

    // Offers a message of the routed window; TRUE when handled (with the result).
    BOOL HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

private:
    static LRESULT CALLBACK RoutedProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    IContextMenu* m_pMenu = nullptr;
    UINT m_nFirstId = 0;
    UINT m_nLastId = 0;
    HWND m_hWnd = nullptr;
    WNDPROC m_pfnPrevious = nullptr;
};
