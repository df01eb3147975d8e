#include "platform/res/templates.h"

#include "platform/res/resources.h"
#include "platform/res/testdata/test_ids.h"

#include <gtest/gtest.h>

namespace {

TEST(TemplatesTest, DialogTemplateRoundTripsFromTheScript) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_SAMPLE), RT_DIALOG);
    ASSERT_NE(resource, nullptr);
    auto dialog = platform::res::ParseDialogTemplate(LockResource(LoadResource(nullptr, resource)),
                                                     SizeofResource(nullptr, resource));
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->style, 0x80000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x40u);
    EXPECT_EQ(dialog->exStyle, 0x80u);
    EXPECT_EQ(dialog->cx, 200);
    EXPECT_EQ(dialog->cy, 120);
    EXPECT_EQ(dialog->caption, u"Sample");
    EXPECT_EQ(dialog->pointSize, 8);
    EXPECT_EQ(dialog->fontName, u"MS Shell Dlg");
    ASSERT_EQ(dialog->items.size(), 4u);

    const auto& ok = dialog->items[0];
    EXPECT_EQ(ok.id, 1);
    EXPECT_EQ(ok.windowClass.ordinal, 0x80);
    EXPECT_EQ(ok.title.text, u"OK");
    EXPECT_EQ(ok.style, 0x40000000u | 0x10000000u | 0x00010000u | 0x1u);
    EXPECT_EQ(ok.x, 140);

    const auto& edit = dialog->items[1];
    EXPECT_EQ(edit.id, IDC_NAME);
    EXPECT_EQ(edit.windowClass.ordinal, 0x81);
    EXPECT_EQ(edit.style, 0x40000000u | 0x10000000u | 0x00800000u | 0x80u); // NOT WS_TABSTOP took the default off

    const auto& tree = dialog->items[2];
    EXPECT_EQ(tree.windowClass.text, u"SysTreeView32");
    EXPECT_EQ(tree.exStyle, 0x200u);

    const auto& bitmap = dialog->items[3];
    EXPECT_EQ(bitmap.id, 0xFFFF);
    EXPECT_EQ(bitmap.title.ordinal, 605);
    EXPECT_EQ(bitmap.windowClass.ordinal, 0x82);
}

TEST(TemplatesTest, AComboBoxIsOfTheKindTheScriptNames) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_COMBO_SAMPLE), RT_DIALOG);
    ASSERT_NE(resource, nullptr);
    auto dialog = platform::res::ParseDialogTemplate(LockResource(LoadResource(nullptr, resource)),
                                                     SizeofResource(nullptr, resource));
    ASSERT_TRUE(dialog);
    // CBS_SIMPLE 1, CBS_DROPDOWN 2, CBS_DROPDOWNLIST 3; WS_TABSTOP stays from the default.
    const DWORD kinds[] = {1, 2, 3, 1};
    ASSERT_EQ(dialog->items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dialog->items[i].windowClass.ordinal, 0x85);
        EXPECT_EQ(dialog->items[i].style & 3u, kinds[i]);
        EXPECT_EQ(dialog->items[i].style & 0x00010000u, 0x00010000u);
    }
    EXPECT_EQ(dialog->items[1].style & 0x40u, 0x40u); // CBS_AUTOHSCROLL
}

TEST(TemplatesTest, DialogMenusAndImageNamesRoundTrip) {
    struct Case {
        int dialog;
        WORD menuOrdinal;
        const char16_t* menuName;
    };
    const Case cases[] = {
        {IDD_SAMPLE, 0, u""},
        {IDD_MENU_SAMPLE, IDM_SAMPLE, u""},
        {IDD_NAMED_MENU_SAMPLE, 0, u"SAMPLEMENU"}, // names are kept in capitals
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialog);
        HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(c.dialog), RT_DIALOG);
        ASSERT_NE(resource, nullptr);
        auto dialog = platform::res::ParseDialogTemplate(LockResource(LoadResource(nullptr, resource)),
                                                         SizeofResource(nullptr, resource));
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->menu.ordinal, c.menuOrdinal);
        EXPECT_EQ(dialog->menu.text, c.menuName);
        EXPECT_EQ(dialog->menu.IsNone(), c.menuOrdinal == 0 && !*c.menuName);
    }

    // Image statics keep the image's name as written, or its number as an ordinal.
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_MENU_SAMPLE), RT_DIALOG);
    auto dialog = platform::res::ParseDialogTemplate(LockResource(LoadResource(nullptr, resource)),
                                                     SizeofResource(nullptr, resource));
    ASSERT_TRUE(dialog);
    ASSERT_EQ(dialog->items.size(), 4u);
    struct Item {
        WORD id;
        const char16_t* text;
        WORD ordinal;
        DWORD type;
        short cx;
    };
    const Item items[] = {
        {2320, u"#503", 0, 0x3, 0},
        {2321, u"Logo", 0, 0x3, 20},
        {2322, u"", 504, 0x3, 0},
        {2323, u"Picture", 0, 0xE, 20},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(items[i].id);
        const auto& item = dialog->items[i];
        EXPECT_EQ(item.id, items[i].id);
        EXPECT_EQ(item.windowClass.ordinal, 0x82);
        EXPECT_EQ(item.title.text, items[i].text);
        EXPECT_EQ(item.title.ordinal, items[i].ordinal);
        EXPECT_EQ(item.style & 0x1F, items[i].type);
        EXPECT_EQ(item.cx, items[i].cx);
    }
    EXPECT_EQ(dialog->items[3].style & 0x200u, 0x200u); // SS_CENTERIMAGE
}

TEST(TemplatesTest, MenuTemplateKeepsTheTree) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDM_SAMPLE), RT_MENU);
    ASSERT_NE(resource, nullptr);
    auto menu = platform::res::ParseMenuTemplate(LockResource(LoadResource(nullptr, resource)),
                                                 SizeofResource(nullptr, resource));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 2u);
    const auto& file = (*menu)[0];
    EXPECT_EQ(file.text, u"&File");
    EXPECT_EQ(file.flags, 0x10);
    ASSERT_EQ(file.children.size(), 3u);
    EXPECT_EQ(file.children[0].id, ID_FILE_EXIT);
    EXPECT_EQ(file.children[0].text, u"E&xit");
    EXPECT_EQ(file.children[1].id, 0);
    EXPECT_TRUE(file.children[1].text.empty());
    EXPECT_EQ(file.children[2].flags, 0x1);
    EXPECT_EQ((*menu)[1].children.at(0).flags, 0x8);
}

TEST(TemplatesTest, MalformedTemplatesAreRejected) {
    const BYTE truncated[] = {0x40, 0, 0, 0, 0, 0};
    EXPECT_FALSE(platform::res::ParseDialogTemplate(truncated, sizeof(truncated)));
    const BYTE unterminated[] = {0, 0, 0, 0, 0x10, 0, 'A', 0};
    EXPECT_FALSE(platform::res::ParseMenuTemplate(unterminated, sizeof(unterminated)));
    EXPECT_FALSE(platform::res::ParseDialogTemplate(nullptr, 0));
}

} // namespace
