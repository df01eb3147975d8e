// The umbrella header alone is enough for a framework program: every class and the layer's Win32 names it relies on
// come with it, without clashes.
#include "platform/afx/afx.h"

#include "platform/base/machine.h"

#include <gtest/gtest.h>

namespace {

TEST(AfxHeaderTest, OneHeaderBringsTheWholeFramework) {
    platform::machine::ScopedTestMachine machine;
    CRect rect(0, 0, 40, 20);
    CPoint point(3, 4);
    EXPECT_TRUE(rect.PtInRect(point));
    EXPECT_TRUE(CSize(rect.Width(), rect.Height()) == CSize(40, 20));
    CString text;
    text.Format(u"%d-%s", 7, u"x");
    EXPECT_TRUE(text == u"7-x");

    CWnd panel;
    ASSERT_TRUE(panel.CreateEx(0, nullptr, u"Panel", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr));
    CButton check;
    ASSERT_TRUE(check.Create(u"Check", WS_CHILD | BS_AUTOCHECKBOX, rect, &panel, 10));
    panel.CheckDlgButton(10, BST_CHECKED);
    EXPECT_EQ(check.GetCheck(), BST_CHECKED);
    CTreeCtrl tree;
    ASSERT_TRUE(tree.Create(WS_CHILD | TVS_HASLINES, CRect(0, 30, 100, 90), &panel, 11));
    EXPECT_NE(tree.InsertItem(u"root"), nullptr);
    CMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    EXPECT_TRUE(menu.AppendMenu(MF_STRING, 5, u"Item"));
    CFileDialog dialog(TRUE, u"log");
    EXPECT_EQ(dialog.m_ofn.lStructSize, sizeof(OPENFILENAMEW));
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
    panel.DestroyWindow();
}

// A window that paints its client area red through CPaintDC.
class CRedWnd : public CWnd {
protected:
    void OnPaint() {
        CPaintDC dc(this);
        CRect client;
        GetClientRect(&client);
        dc.FillSolidRect(&client, RGB(255, 0, 0));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRedWnd, CWnd)
ON_WM_PAINT()
END_MESSAGE_MAP()

// A control that colours itself when it has a brush, and a parent that colours what its controls leave.
class CColouredCtrl : public CWnd {
public:
    HBRUSH m_own = nullptr;
    CPoint m_mouse{-1, -1};

protected:
    HBRUSH CtlColor(CDC*, UINT) { return m_own; }
    void OnMouseMove(UINT, CPoint point) { m_mouse = point; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CColouredCtrl, CWnd)
ON_WM_CTLCOLOR_REFLECT()
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

class CColourParent : public CWnd {
public:
    UINT m_kind = 99;

protected:
    HBRUSH OnCtlColor(CDC* pDC, CWnd*, UINT nCtlColor) {
        m_kind = nCtlColor;
        pDC->SetTextColor(RGB(1, 2, 3));
        return static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CColourParent, CWnd)
ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

TEST(AfxHeaderTest, ColourMessagesGoToTheControlFirstAndMouseEntriesUnpackThePoint) {
    platform::machine::ScopedTestMachine machine;
    CColourParent parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Parent", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr));
    CColouredCtrl control;
    ASSERT_TRUE(control.Create(nullptr, u"", WS_CHILD, CRect(0, 0, 50, 20), &parent, 7));
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    // No brush of its own: the parent answers, told which kind of control asks.
    LRESULT brush = parent.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.m_hDC),
                                       reinterpret_cast<LPARAM>(control.m_hWnd));
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(GRAY_BRUSH));
    EXPECT_EQ(parent.m_kind, static_cast<UINT>(CTLCOLOR_STATIC));
    EXPECT_EQ(dc.GetTextColor(), RGB(1, 2, 3));
    // A brush of its own keeps the parent out.
    parent.m_kind = 99;
    control.m_own = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    brush = parent.SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc.m_hDC),
                               reinterpret_cast<LPARAM>(control.m_hWnd));
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(parent.m_kind, 99u);

    control.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(-3, 12));
    EXPECT_EQ(control.m_mouse, CPoint(-3, 12));
    parent.DestroyWindow();
}

TEST(AfxHeaderTest, PaintClientAndWindowDcsDrawOnTheWindow) {
    platform::machine::ScopedTestMachine machine;
    CRedWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, u"Red", WS_OVERLAPPEDWINDOW, 0, 0, 120, 80, nullptr, nullptr));
    wnd.ShowWindow(SW_SHOW);
    wnd.UpdateWindow();
    {
        CClientDC client(&wnd);
        ASSERT_NE(client.m_hDC, nullptr);
        EXPECT_EQ(client.GetPixel(5, 5), RGB(255, 0, 0));
        // The client DC starts at the client area's corner; the window DC at the frame's.
        CWindowDC window(&wnd);
        ASSERT_NE(window.m_hDC, nullptr);
        CRect frame;
        wnd.GetWindowRect(&frame);
        CPoint corner(0, 0);
        wnd.ClientToScreen(&corner);
        EXPECT_EQ(window.GetPixel(corner.x - frame.left, corner.y - frame.top), RGB(255, 0, 0));
        EXPECT_NE(window.GetPixel(0, 0), RGB(255, 0, 0));
    }
    // Painting validated the window; the DCs were handed back.
    CRect update;
    EXPECT_FALSE(::GetUpdateRect(wnd.m_hWnd, &update, FALSE));
    CClientDC none(nullptr);
    EXPECT_EQ(none.m_hDC, nullptr);
    wnd.DestroyWindow();
}

} // namespace
