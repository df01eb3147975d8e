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

} // namespace
