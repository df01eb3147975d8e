// The shell's context menu inside a tree's menu: the id range the shell used, routing a window's messages, and the
// help texts in the top-level frame's status line.
#include "engine/DesktopFolder.h"
#include "engine/ItemIDList.h"
#include "engine/ShellContextMenu.h"
#include "engine/ShellFolderPtr.h"

#include "platform/afx/Wnd.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr UINT WM_SETMESSAGESTRING = 0x0362;

class CFrameWnd : public CWnd {
public:
    LRESULT OnMessageString(WPARAM, LPARAM lParam) {
        m_text = reinterpret_cast<LPCTSTR>(lParam);
        ++m_count;
        return 0;
    }
    CString m_text;
    int m_count = 0;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_MESSAGE(WM_SETMESSAGESTRING, OnMessageString)
END_MESSAGE_MAP()

WNDPROC g_seenAtDestroy = nullptr;
LRESULT CALLBACK ChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY)
        g_seenAtDestroy = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

using ShellContextMenuTest = testsupport::ScratchDriveTest;

TEST_F(ShellContextMenuTest, ShellCommandsTakeOnlyTheIdsTheyUseAndHelpReachesTheFrame) {
    m_drive.Write("docs/note.unknown-kind", "n");
    CItemIDList item(m_drive.Path("docs/note.unknown-kind").c_str());
    ASSERT_TRUE(item.IsValid());
    CDesktopFolder desktop;
    std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(item.GetParentCopy(), CItemIDList::Free);
    CShellFolderPtr folder(desktop.Get(), parent.get());
    CShellContextMenu menu;
    ASSERT_EQ(menu.Attach(folder.Get(), item.GetLastItem()), 1);

    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 19999, u"Refresh");
    SetMenuDefaultItem(popup, 0, TRUE);
    ASSERT_EQ(menu.AddCommands(popup, 0, 20000, 21000, CMF_EXPLORE | CMF_NODEFAULT), 1);
    // No application knows the type: Open, Open Containing Folder and Properties.
    EXPECT_EQ(menu.GetFirstId(), 20000u);
    EXPECT_EQ(menu.GetLastId(), 20002u);
    // The owner's default item stays its default.
    EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, 0), 19999u);
    EXPECT_EQ(menu.InvokeCommand(20500), 0);
    EXPECT_EQ(menu.InvokeCommand(19999), 0);
    CString help;
    EXPECT_EQ(menu.GetCommandHelpText(20002, help), 1);
    EXPECT_EQ(help, CString(u"Shows the properties of the selected item."));

    CFrameWnd frame;
    ASSERT_TRUE(frame.CreateEx(0, nullptr, u"Frame", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr));
    WNDCLASSW wc{};
    wc.lpfnWndProc = ChildProc;
    wc.lpszClassName = u"RoutedChild";
    RegisterClassW(&wc);
    HWND child =
        CreateWindowExW(0, u"RoutedChild", u"", WS_CHILD, 0, 0, 10, 10, frame.GetSafeHwnd(), nullptr, nullptr, nullptr);
    const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child, GWLP_WNDPROC));
    menu.RouteWindow(child);
    const auto routed = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child, GWLP_WNDPROC));
    menu.RouteWindow(child); // twice: no chain onto itself
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child, GWLP_WNDPROC)), routed);

    SendMessageW(child, WM_MENUSELECT, MAKEWPARAM(20002, MF_STRING), reinterpret_cast<LPARAM>(popup));
    EXPECT_EQ(frame.m_count, 1);
    EXPECT_EQ(frame.m_text, help);
    SendMessageW(child, WM_MENUSELECT, MAKEWPARAM(19999, MF_STRING), reinterpret_cast<LPARAM>(popup));
    EXPECT_EQ(frame.m_count, 1); // the owner's own item keeps its own help
    SendMessageW(child, WM_MENUSELECT, MAKEWPARAM(0, MF_SEPARATOR), reinterpret_cast<LPARAM>(popup));
    EXPECT_EQ(frame.m_count, 2);
    EXPECT_TRUE(frame.m_text.IsEmpty()); // a separator clears the line
    SendMessageW(child, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(frame.m_count, 2);

    // Destroyed while routed: its own procedure is back before its WM_DESTROY runs.
    DestroyWindow(child);
    EXPECT_EQ(g_seenAtDestroy, original);
    frame.DestroyWindow();
    DestroyMenu(popup);
}

} // namespace
