// The owner-drawn menu: records in step with the menu's items through every operation, loading from a resource,
// mnemonics, measuring and drawing in both styles.
#include "app/BCMenu.h"
#include "app/MenuToolBar.h"
#include "app/PictureButton.h"

#include "app/AppTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/gdi/wingdi.h"
#include "platform/registry/registry.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

#include <memory>
#include <string>

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

class BCMenuTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        BCMenu::ResetClassState();
        BCMenu::SetDrawMode(0);
        BCMenu::SetSelectDisabled(TRUE, FALSE);
        BCMenu::SetXp3dImages(TRUE);
    }
    void TearDown() override {
        BCMenu::ResetClassState();
        if (m_resources) {
            AfxSetResourceHandle(m_previous);
            FreeLibrary(m_resources);
        }
    }
    void UseProgramResources() {
        m_previous = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
    }

    // Every item of a level has the record at its position as its data, with its command.
    static void ExpectInStep(BCMenu& menu) {
        const int count = static_cast<int>(::GetMenuItemCount(menu.m_hMenu));
        ASSERT_EQ(menu.GetRecordCount(), count);
        for (int i = 0; i < count; ++i) {
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_DATA | MIIM_ID | MIIM_SUBMENU;
            ASSERT_TRUE(::GetMenuItemInfoW(menu.m_hMenu, static_cast<UINT>(i), TRUE, &info));
            MenuItemData* record = menu.GetRecord(i);
            EXPECT_EQ(info.dwItemData, reinterpret_cast<ULONG_PTR>(record)) << "position " << i;
            const UINT_PTR id = info.hSubMenu ? reinterpret_cast<UINT_PTR>(info.hSubMenu) : info.wID;
            EXPECT_EQ(record->commandId, id) << "position " << i;
        }
    }

    // A 16 x 15 image list with one red image.
    static std::unique_ptr<CImageList> RedImages() {
        auto list = std::make_unique<CImageList>();
        list->Create(16, 15, ILC_COLORDDB | ILC_MASK, 1, 1);
        CBitmap bitmap;
        bitmap.CreateBitmap(16, 15, 1, 32, nullptr);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        const RECT all{0, 0, 16, 15};
        HBRUSH red = CreateSolidBrush(kRed);
        FillRect(dc, &all, red);
        DeleteObject(red);
        SelectObject(dc, old);
        DeleteDC(dc);
        list->Add(&bitmap, RGB(0, 255, 0));
        return list;
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previous = nullptr;
};

TEST_F(BCMenuTest, RecordsStayInStepWithTheItemsByPositionAndByCommand) {
    BCMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    ASSERT_TRUE(menu.AppendItem(u"&Open\tCtrl+O", MF_STRING, 101));
    ASSERT_TRUE(menu.AppendItem(u"ignored", MF_STRING, 0)); // a separator whatever its text
    ASSERT_TRUE(menu.AppendItem(u"&Save", MF_STRING, 102));
    EXPECT_EQ(menu.GetRecord(1)->flags, MF_SEPARATOR | MF_OWNERDRAW);
    EXPECT_NE(::GetMenuState(menu.m_hMenu, 1, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    BCMenu* sub = menu.AppendPopup(u"&More");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(BCMenu::IsOurMenu(sub->m_hMenu));
    ASSERT_TRUE(sub->AppendItem(u"&Print", MF_STRING, 103));
    ASSERT_TRUE(sub->AppendItem(u"Sa&ve again", MF_STRING, 102));
    // By position and by command, before an existing item.
    ASSERT_TRUE(menu.InsertItem(0, u"&New", MF_STRING | MF_BYPOSITION, 100));
    ASSERT_TRUE(menu.InsertItem(103, u"Pre&view", MF_STRING, 104));
    EXPECT_FALSE(menu.InsertItem(999, u"x", MF_STRING, 105));
    ExpectInStep(menu);
    ExpectInStep(*sub);
    int position = -1;
    EXPECT_EQ(menu.FindCommand(104, position), sub);
    EXPECT_EQ(position, 0);
    CString text;
    ASSERT_TRUE(menu.GetItemText(103, text, MF_BYCOMMAND));
    EXPECT_EQ(text, CString(u"&Print"));
    EXPECT_FALSE(menu.GetItemText(17, text, MF_BYPOSITION));
    ASSERT_TRUE(menu.SetItemText(1, u"&Open file\tCtrl+O"));
    EXPECT_EQ(menu.FindRecordByCommand(101)->GetText(), CString(u"&Open file\tCtrl+O"));

    // A command in two places is modified in both; one that is nowhere changes nothing.
    ASSERT_TRUE(menu.ModifyItem(u"&Store", 102));
    EXPECT_EQ(menu.GetRecord(3)->GetText(), CString(u"&Store"));
    EXPECT_EQ(sub->GetRecord(2)->GetText(), CString(u"&Store"));
    const int before = menu.GetRecordCount();
    EXPECT_FALSE(menu.ModifyItem(u"ghost", 999));
    EXPECT_EQ(menu.GetRecordCount(), before);
    ExpectInStep(menu);
    ExpectInStep(*sub);

    // Removal by command in the sub-menu, by position, and by text with the separator before it.
    ASSERT_TRUE(menu.DeleteMenu(104, MF_BYCOMMAND));
    ExpectInStep(*sub);
    EXPECT_EQ(menu.RemoveByText(u"nothing like it"), -1);
    EXPECT_EQ(menu.RemoveByText(u"&Store", 1), 3);
    ExpectInStep(menu);
    EXPECT_EQ(menu.GetRecordCount(), 3); // New, Open, More
    ASSERT_TRUE(menu.RemoveMenu(0, MF_BYPOSITION));
    ExpectInStep(menu);
    EXPECT_EQ(menu.FindRecordIndexByText(u"&Open file\tCtrl+O"), 0);
}

TEST_F(BCMenuTest, RemovingAPopupLeavesItToTheCallerDeletingDestroysIt) {
    BCMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    BCMenu* kept = menu.AppendPopup(u"Kept");
    ASSERT_TRUE(kept->AppendItem(u"Inside", MF_STRING, 201));
    BCMenu* gone = menu.AppendPopup(u"Gone");
    ASSERT_TRUE(gone->AppendItem(u"Inside too", MF_STRING, 202));
    const HMENU hKept = kept->m_hMenu;
    const HMENU hGone = gone->m_hMenu;

    ASSERT_TRUE(menu.RemoveMenu(0, MF_BYPOSITION));
    ExpectInStep(menu);
    EXPECT_TRUE(::IsMenu(hKept));
    EXPECT_EQ(::GetMenuItemCount(hKept), 1);
    EXPECT_EQ(CMenu::FromHandlePermanent(hKept), kept);
    ExpectInStep(*kept);
    // The caller may put it in again.
    ASSERT_TRUE(menu.AppendItem(u"Kept again", MF_POPUP, reinterpret_cast<UINT_PTR>(hKept)));
    ExpectInStep(menu);

    ASSERT_TRUE(menu.DeleteMenu(0, MF_BYPOSITION));
    EXPECT_FALSE(::IsMenu(hGone));
    EXPECT_FALSE(BCMenu::IsOurMenu(hGone));
    ExpectInStep(menu);
}

TEST_F(BCMenuTest, ALoadedMenuIsPlainAtTheTopAndOwnerDrawnBelow) {
    UseProgramResources();
    BCMenu menu;
    ASSERT_TRUE(menu.LoadMenuResource(32000));
    EXPECT_TRUE(menu.IsLoadedFromResource());
    ASSERT_EQ(::GetMenuItemCount(menu.m_hMenu), 1);
    MENUITEMINFOW top{};
    top.cbSize = sizeof top;
    top.fMask = MIIM_FTYPE;
    ASSERT_TRUE(::GetMenuItemInfoW(menu.m_hMenu, 0, TRUE, &top));
    EXPECT_EQ(top.fType & MFT_OWNERDRAW, 0u);
    auto* tray = dynamic_cast<BCMenu*>(menu.GetSubMenu(0));
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(BCMenu::IsOurMenu(tray));
    ExpectInStep(*tray);
    const int count = static_cast<int>(::GetMenuItemCount(tray->m_hMenu));
    ASSERT_EQ(count, 9);
    for (int i = 0; i < count; ++i)
        EXPECT_NE(::GetMenuState(tray->m_hMenu, static_cast<UINT>(i), MF_BYPOSITION) & MF_OWNERDRAW, 0u) << i;
    EXPECT_EQ(tray->GetRecord(8)->GetText(), CString(u"Exit"));
    EXPECT_EQ(menu.FindSubMenuOfRecord(u"Tray"), tray);
    EXPECT_FALSE(menu.LoadMenuResource(4242));

    // A mnemonic finds its item, whatever the case; other characters and menus find nothing.
    BCMenu letters;
    letters.CreatePopupMenu();
    letters.AppendItem(u"&Alpha", MF_STRING, 1);
    letters.AppendItem(u"Be&ta", MF_STRING, 2);
    EXPECT_EQ(BCMenu::MenuChar(u't', MF_POPUP, &letters), MAKELONG(1, MNC_EXECUTE));
    EXPECT_EQ(BCMenu::MenuChar(u'A', MF_POPUP, &letters), MAKELONG(0, MNC_EXECUTE));
    EXPECT_EQ(BCMenu::MenuChar(u'z', MF_POPUP, &letters), 0);
    EXPECT_EQ(BCMenu::MenuChar(u't', 0, &letters), 0);
    // Items added behind the object's back are taken in before the search.
    ::AppendMenuW(letters.m_hMenu, MF_STRING, 3, u"&Gamma");
    EXPECT_EQ(BCMenu::MenuChar(u'g', MF_POPUP, &letters), MAKELONG(2, MNC_EXECUTE));
    ExpectInStep(letters);
}

TEST_F(BCMenuTest, PlatformsThemesAndColours) {
    const struct {
        BOOL win9x;
        DWORD major, minor;
        int code;
    } versions[] = {{TRUE, 3, 0, 0},  {TRUE, 4, 0, 2},  {TRUE, 4, 10, 3}, {TRUE, 4, 90, 4}, {FALSE, 4, 0, 5},
                    {FALSE, 5, 0, 6}, {FALSE, 5, 1, 7}, {FALSE, 6, 0, 7}, {FALSE, 10, 0, 7}};
    for (const auto& v : versions)
        EXPECT_EQ(BCMenu::PlatformOf(v.win9x, v.major, v.minor), v.code) << v.major << "." << v.minor;

    // The theme's name, however long and whether or not it ends with a null.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Plus!\\Themes\\Current", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string value = u"C:\\" + std::u16string(200, u'x') + u"\\windows classic.THEME";
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                             static_cast<DWORD>(value.size() * 2)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(BCMenu::IsClassicTheme());
    EXPECT_FALSE(BCMenu::IsThemedXp());

    EXPECT_EQ(BCMenu::Lighten(RGB(10, 20, 30), 0), RGB(10, 20, 30));
    EXPECT_EQ(BCMenu::Lighten(RGB(10, 20, 30), 1.5), RGB(10, 20, 30));
    EXPECT_EQ(BCMenu::Lighten(RGB(0, 0, 0), 1), RGB(255, 255, 255));
    EXPECT_EQ(BCMenu::Lighten(RGB(0, 100, 255), 0.5), RGB(127, 177, 255));
    EXPECT_EQ(BCMenu::Darken(RGB(200, 100, 0), 0.5), RGB(100, 50, 0));
}

class BCMenuDrawTest : public BCMenuTest {
protected:
    void SetUp() override {
        BCMenuTest::SetUp();
        ASSERT_TRUE(m_menu.CreatePopupMenu());
        m_dc = CreateCompatibleDC(nullptr);
        m_canvas = CreateBitmap(200, 30, 1, 32, nullptr);
        m_old = SelectObject(m_dc, m_canvas);
    }
    void TearDown() override {
        SelectObject(m_dc, m_old);
        DeleteObject(m_canvas);
        DeleteDC(m_dc);
        BCMenuTest::TearDown();
    }
    void Draw(int position, UINT state) {
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_MENU;
        dis.itemID = ::GetMenuItemID(m_menu.m_hMenu, position);
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = state;
        dis.hDC = m_dc;
        dis.rcItem = RECT{0, 0, 200, 22};
        dis.itemData = reinterpret_cast<ULONG_PTR>(m_menu.GetRecord(position));
        m_menu.DrawItem(&dis);
    }
    COLORREF Pixel(int x, int y) const { return GetPixel(m_dc, x, y); }

    BCMenu m_menu;
    HDC m_dc = nullptr;
    HBITMAP m_canvas = nullptr;
    HGDIOBJ m_old = nullptr;
};

TEST_F(BCMenuDrawTest, MeasuringSeparatorsAndItems) {
    m_menu.AppendItem(u"", MF_STRING, 0);
    m_menu.AppendItem(u"&Open", MF_STRING, 1);
    MEASUREITEMSTRUCT mis{};
    mis.CtlType = ODT_MENU;
    mis.itemData = reinterpret_cast<ULONG_PTR>(m_menu.GetRecord(0));
    m_menu.MeasureItem(&mis);
    EXPECT_EQ(mis.itemWidth, 0u);
    EXPECT_EQ(mis.itemHeight, static_cast<UINT>(std::max(GetSystemMetrics(SM_CYMENU) / 2, (15 + 4) / 2)));
    mis.itemData = reinterpret_cast<ULONG_PTR>(m_menu.GetRecord(1));
    m_menu.MeasureItem(&mis);
    EXPECT_GT(mis.itemWidth, 2u * 16u + 1u);
    EXPECT_EQ(mis.itemHeight, static_cast<UINT>(std::max(GetSystemMetrics(SM_CYMENU), 15 + 4)));
    // The XP style makes room for its image column.
    const UINT classicWidth = mis.itemWidth;
    BCMenu::SetDrawMode(1);
    m_menu.MeasureItem(&mis);
    EXPECT_EQ(mis.itemWidth, classicWidth - (2 * 16 + 1) + (16 + 7 + 8));
}

TEST_F(BCMenuDrawTest, ClassicStyleDrawsChecksImagesHighlightsAndSeparators) {
    BCMenu::SetDrawMode(0);
    auto images = RedImages();
    m_menu.AppendItem(u"&Checked", MF_STRING, 1);
    m_menu.AppendItem(u"", MF_STRING, 0);
    m_menu.AppendItem(u"&Picture", MF_STRING, 2, images.get(), 0);
    m_menu.AppendItem(u"&Grey", MF_STRING, 3);
    const COLORREF menuColour = GetSysColor(COLOR_MENU);
    const COLORREF menuText = GetSysColor(COLOR_MENUTEXT);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);

    // A checked item without image: the tick in a light box beside the text (dy = (22 - 15 - 4) / 2 = 1).
    Draw(0, ODS_CHECKED);
    const int boxLeft = 1, boxTop = 1 + 2;
    EXPECT_EQ(Pixel(boxLeft + 4, boxTop + 4 + 2), menuText);  // the tick's first stroke
    EXPECT_EQ(Pixel(boxLeft + 10, boxTop + 4 + 0), menuText); // its last
    EXPECT_EQ(Pixel(boxLeft + 12, boxTop + 2), BCMenu::Lighten(menuColour, 0.6));
    EXPECT_EQ(Pixel(190, 11), menuColour);
    // Selected: the highlight bar right of the check box.
    Draw(0, ODS_CHECKED | ODS_SELECTED);
    EXPECT_EQ(Pixel(190, 11), highlight);
    EXPECT_NE(Pixel(2, 20), highlight);

    // The separator: an etched line at half height on the menu colour.
    Draw(1, 0);
    EXPECT_EQ(Pixel(100, 5), menuColour);
    EXPECT_NE(Pixel(100, 11), menuColour);

    // The image at (2, dy + 2), raised while selected.
    Draw(2, 0);
    EXPECT_EQ(Pixel(2 + 5, 3 + 5), kRed);
    Draw(2, ODS_SELECTED);
    EXPECT_EQ(Pixel(2 + 5, 3 + 5), kRed);
    EXPECT_EQ(Pixel(0, 1), GetSysColor(COLOR_BTNHIGHLIGHT)); // the raised edge's top-left

    // Grayed and highlighted (disabled items may show the highlight here): text in the menu colour.
    Draw(3, ODS_GRAYED | ODS_SELECTED);
    EXPECT_EQ(Pixel(190, 11), highlight);
    int textPixels = 0;
    for (int x = 25; x < 90; ++x)
        for (int y = 4; y < 18; ++y)
            textPixels += Pixel(x, y) != highlight;
    EXPECT_GT(textPixels, 10);
}

TEST_F(BCMenuDrawTest, XpStyleDrawsTheImageColumnAndACentredCheckBox) {
    BCMenu::SetDrawMode(1);
    BCMenu::SetXp3dImages(FALSE);
    auto images = RedImages();
    m_menu.AppendItem(u"&Checked", MF_STRING, 1);
    m_menu.AppendItem(u"&Picture", MF_STRING, 2, images.get(), 0);
    m_menu.AppendItem(u"&Grey", MF_STRING, 3);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF margin =
        BCMenu::IsThemedXp() ? GetSysColor(COLOR_BTNFACE) : BCMenu::Lighten(GetSysColor(COLOR_BTNFACE), 0.25);
    // Column 16 + 4 = 20 wide; the check box 16 x 16 centred: dx = 2, dy = 3.
    Draw(0, ODS_CHECKED);
    EXPECT_EQ(Pixel(2, 3), highlight);                               // the box's frame
    EXPECT_EQ(Pixel(3, 4), BCMenu::Lighten(highlight, 0.85));        // its inside
    EXPECT_EQ(Pixel(2 + 5, 3 + 4 + 2), GetSysColor(COLOR_MENUTEXT)); // the tick
    EXPECT_EQ(Pixel(1, 20), margin);
    EXPECT_EQ(Pixel(150, 11), GetSysColor(COLOR_WINDOW));

    // The image in the column (dx = 2, dy = 4), on the light highlight when selected.
    Draw(1, 0);
    EXPECT_EQ(Pixel(2 + 5, 4 + 5), kRed);
    Draw(1, ODS_SELECTED);
    EXPECT_EQ(Pixel(2 + 5, 4 + 5), kRed);
    const COLORREF light = BCMenu::Lighten(highlight, BCMenu::IsThemedXp() ? 0.7 : 0.85);
    EXPECT_EQ(Pixel(150, 11), light);
    EXPECT_EQ(Pixel(150, 0), highlight);

    // Grayed: never highlighted here, the text grey.
    Draw(2, ODS_GRAYED | ODS_SELECTED);
    EXPECT_EQ(Pixel(150, 11), GetSysColor(COLOR_WINDOW));
}

} // namespace

// Images from a toolbar resource (9300: a separator, then buttons 9311 to 9313 over a strip of red, green and blue
// squares on the button face) for the menu 9301 ("Tools": Red 9311, Green 9312, Blue 9313, Plain 9314).
class BCMenuToolbarTest : public BCMenuTest {
protected:
    void SetUp() override {
        BCMenuTest::SetUp();
        ASSERT_TRUE(m_menu.LoadMenuResource(9301));
        m_tools = dynamic_cast<BCMenu*>(m_menu.GetSubMenu(0));
        ASSERT_NE(m_tools, nullptr);
    }

    // The colour at the centre of an image of a list.
    static COLORREF CentreOf(CImageList& list, int index) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = 16;
        info.bmiHeader.biHeight = -15;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, canvas);
        const RECT all{0, 0, 16, 15};
        FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
        ImageList_Draw(list.GetSafeHandle(), index, dc, 0, 0, ILD_TRANSPARENT);
        const COLORREF colour = GetPixel(dc, 7, 6);
        SelectObject(dc, old);
        DeleteObject(canvas);
        DeleteDC(dc);
        return colour;
    }
    COLORREF SharedColourOf(int position) {
        const MenuItemData* record = m_tools->GetRecord(position);
        if (!record || record->sharedImageIndex < 0)
            return CLR_INVALID;
        return CentreOf(BCMenu::SharedImages(), record->sharedImageIndex);
    }

    BCMenu m_menu;
    BCMenu* m_tools = nullptr;
};

TEST_F(BCMenuToolbarTest, AToolbarResourceGivesEachCommandItsButtonsImage) {
    EXPECT_FALSE(m_menu.LoadToolbarImages(9399u));
    ASSERT_TRUE(m_menu.LoadToolbarImages(9300u));
    // The bar begins with a separator; each command still gets its own button's image.
    EXPECT_EQ(SharedColourOf(0), RGB(255, 0, 0));
    EXPECT_EQ(SharedColourOf(1), RGB(0, 255, 0));
    EXPECT_EQ(SharedColourOf(2), RGB(0, 0, 255));
    EXPECT_EQ(m_tools->GetRecord(3)->sharedImageIndex, -1);
    ExpectInStep(*m_tools);
    EXPECT_EQ(BCMenu::SharedImageIds(), (std::vector<UINT>{9311, 9312, 9313}));

    // A resource id names the toolbar and its bitmap: the command's button gives the image.
    ASSERT_TRUE(m_menu.ModifyItem(u"Blue, now green", 9313, 9300));
    EXPECT_EQ(SharedColourOf(2), RGB(0, 0, 255));
    ASSERT_TRUE(m_menu.ModifyItem(nullptr, 9314, 9300)); // no button: the bar's first image
    EXPECT_EQ(SharedColourOf(3), RGB(255, 0, 0));
    ExpectInStep(*m_tools);
    // A bitmap by text becomes the record's own image.
    ASSERT_TRUE(m_menu.ModifyItemByText(nullptr, u"&Plain", 9300));
    EXPECT_EQ(m_tools->GetRecord(3)->imageSource, 9300);
    EXPECT_EQ(m_tools->GetRecord(3)->ownImageIndex, 0);
    EXPECT_TRUE(m_menu.ModifyItemByText(nullptr, u"&Plain", 9399));
    EXPECT_EQ(m_tools->GetRecord(3)->imageSource, -1);
    EXPECT_EQ(m_tools->GetRecord(3)->ownImages, nullptr);
}

TEST_F(BCMenuToolbarTest, InTheXpStyleEverySharedImageComesWithItsFadedAndShadowCopies) {
    BCMenu::SetDrawMode(1);
    ASSERT_TRUE(m_menu.LoadToolbarImages(9300u));
    EXPECT_EQ(BCMenu::SharedImageIds(), (std::vector<UINT>{9311, 9311, 9311, 9312, 9312, 9312, 9313, 9313, 9313}));
    const int red = m_tools->GetRecord(0)->sharedImageIndex;
    EXPECT_TRUE(BCMenu::HasImageTriple(red));
    EXPECT_EQ(CentreOf(BCMenu::SharedImages(), red), RGB(255, 0, 0));
    EXPECT_EQ(CentreOf(BCMenu::SharedImages(), red + 1), BCMenu::Lighten(RGB(255, 0, 0), 0.3));
    // Loading again replaces the three in place.
    ASSERT_TRUE(m_menu.LoadToolbarImages(9300u));
    EXPECT_EQ(BCMenu::SharedImageIds().size(), 9u);
    EXPECT_EQ(m_tools->GetRecord(0)->sharedImageIndex, red);
}

TEST_F(BCMenuToolbarTest, AToolBarsButtonsGiveTheirCommandsTheWholeStrip) {
    CWnd host;
    ASSERT_TRUE(host.CreateEx(0, nullptr, u"host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr));
    CMenuToolBar bar;
    ASSERT_TRUE(bar.Create(&host));
    EXPECT_FALSE(bar.LoadToolBarResource(9399));
    ASSERT_TRUE(bar.LoadToolBarResource(9300));
    int cx = 0, cy = 0;
    bar.GetImageSize(cx, cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 15);
    EXPECT_EQ(bar.GetButtonSize().cx, 23);
    EXPECT_EQ(bar.GetButtonSize().cy, 22);
    EXPECT_EQ(bar.GetCount(), 4);

    EXPECT_TRUE(m_menu.LoadToolbarImages(&bar, 9300));
    for (int position = 0; position < 3; ++position) {
        const MenuItemData* record = m_tools->GetRecord(position);
        EXPECT_EQ(record->imageSource, 9300);
        EXPECT_EQ(record->ownImageIndex, position);
        ASSERT_NE(record->ownImages, nullptr);
        const COLORREF colours[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
        EXPECT_EQ(CentreOf(*record->ownImages, position), colours[position]);
    }
    EXPECT_EQ(m_tools->GetRecord(3)->imageSource, -1);
    ExpectInStep(*m_tools);
    host.DestroyWindow();
}

TEST_F(BCMenuToolbarTest, APictureButtonsMenuTakesItsImagesFromAToolbar) {
    CWnd host;
    ASSERT_TRUE(host.CreateEx(0, nullptr, u"host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr));
    CPictureButton button;
    ASSERT_TRUE(button.Create(u"Tools", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 0, 80, 30), &host, 100));
    EXPECT_EQ(button.SetPopupMenu(9301, &host, 0, 9399), CPictureButton::BTNST_INVALIDRESOURCE);
    EXPECT_EQ(button.GetPopupMenu(), nullptr);
    ASSERT_EQ(button.SetPopupMenu(9301, &host, 0, 9300, 16, 15, RGB(192, 192, 192)), 0u);
    ASSERT_NE(button.GetPopupMenu(), nullptr);
    auto* tools = dynamic_cast<BCMenu*>(button.GetPopupMenu()->GetSubMenu(0));
    ASSERT_NE(tools, nullptr);
    EXPECT_GE(tools->GetRecord(1)->sharedImageIndex, 0);
    host.DestroyWindow();
}
