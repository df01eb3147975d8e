// The common controls paint plainly into the device context they are given.
#include "platform/gdi/surface.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/listview.h"
#include "platform/ui/paint.h"
#include "platform/ui/treeview.h"
#include "platform/ui/ui_test_support.h"

#include <vector>

namespace {

using uitest::UiTest;

void FillColor(HDC dc, const RECT& rc) {
    HBRUSH green = CreateSolidBrush(RGB(0, 200, 0));
    FillRect(dc, &rc, green);
    DeleteObject(green);
}

// A memory device context with a white bitmap of the given size.
class Canvas {
public:
    Canvas(int width, int height)
        : m_dc(CreateCompatibleDC(nullptr)), m_bitmap(CreateBitmap(width, height, 1, 32, nullptr)) {
        m_old = SelectObject(m_dc, m_bitmap);
        RECT all{0, 0, width, height};
        FillRect(m_dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    HDC dc() const { return m_dc; }
    COLORREF At(int x, int y) const { return GetPixel(m_dc, x, y); }
    // Whether any pixel of the rectangle has the colour.
    bool Has(const RECT& rc, COLORREF color) const {
        for (int y = rc.top; y < rc.bottom; ++y)
            for (int x = rc.left; x < rc.right; ++x)
                if (At(x, y) == color)
                    return true;
        return false;
    }
    // Whether any pixel of the rectangle is dark (text).
    bool HasInk(const RECT& rc) const {
        for (int y = rc.top; y < rc.bottom; ++y)
            for (int x = rc.left; x < rc.right; ++x) {
                const COLORREF c = At(x, y);
                if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 200)
                    return true;
            }
        return false;
    }

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old;
};

class PaintTest : public UiTest {
protected:
    void SetUp() override {
        InitCommonControls();
        m_handler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_NOTIFY && onNotify)
                return onNotify(reinterpret_cast<NMHDR*>(lParam));
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_parent = uitest::MakeWindow(&m_handler);
    }
    void TearDown() override { DestroyWindow(m_parent); }
    std::function<LRESULT(NMHDR*)> onNotify;
    uitest::Handler m_handler;
    HWND m_parent = nullptr;
};

TEST_F(PaintTest, TreeViewPaintsCheckBoxesLabelsAndTheSelection) {
    HWND tree =
        CreateWindowExW(0, WC_TREEVIEWW, u"",
                        WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                        0, 0, 200, 100, m_parent, reinterpret_cast<HMENU>(1), nullptr, nullptr);
    TVINSERTSTRUCTW ins{};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = const_cast<LPWSTR>(u"Documents");
    HTREEITEM docs = TreeView_InsertItem(tree, &ins);
    ins.hParent = docs;
    ins.item.pszText = const_cast<LPWSTR>(u"letter.txt");
    TreeView_InsertItem(tree, &ins);
    ins.hParent = TVI_ROOT;
    ins.item.pszText = const_cast<LPWSTR>(u"Music");
    HTREEITEM music = TreeView_InsertItem(tree, &ins);
    TreeView_SetCheckState(tree, docs, TRUE);
    TreeView_SelectItem(tree, music);

    Canvas canvas(200, 100);
    SendMessageW(tree, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), 0);
    RECT docsLabel{}, musicLabel{};
    ASSERT_TRUE(TreeView_GetItemRect(tree, docs, &docsLabel, TRUE));
    ASSERT_TRUE(TreeView_GetItemRect(tree, music, &musicLabel, TRUE));
    EXPECT_TRUE(canvas.HasInk(docsLabel));                             // the label's text
    EXPECT_TRUE(canvas.Has(musicLabel, GetSysColor(COLOR_HIGHLIGHT))); // the selection
    EXPECT_FALSE(canvas.Has(docsLabel, GetSysColor(COLOR_HIGHLIGHT)));
    // The check box left of the label, with its tick for the checked item only.
    const RECT docsBox{docsLabel.left - 16, docsLabel.top, docsLabel.left, docsLabel.bottom};
    const RECT musicBox{musicLabel.left - 16, musicLabel.top, musicLabel.left, musicLabel.bottom};
    EXPECT_TRUE(canvas.Has(docsBox, RGB(0x40, 0x40, 0x40)));
    EXPECT_TRUE(canvas.Has(docsBox, RGB(0, 0, 0)));
    EXPECT_FALSE(canvas.Has(musicBox, RGB(0, 0, 0)));
    // The expand button of the item with children.
    EXPECT_TRUE(canvas.HasInk(RECT{0, docsLabel.top, 19, docsLabel.bottom}));
    EXPECT_FALSE(canvas.HasInk(RECT{0, musicLabel.top, 19, musicLabel.bottom}));
    EXPECT_EQ(canvas.At(199, 99), RGB(255, 255, 255));
}

TEST_F(PaintTest, ControlsPaintTheirWindowOnWmPaint) {
    HWND tree = CreateWindowExW(0, WC_TREEVIEWW, u"", WS_CHILD | WS_VISIBLE | TVS_SHOWSELALWAYS, 0, 0, 120, 60,
                                m_parent, reinterpret_cast<HMENU>(1), nullptr, nullptr);
    TVINSERTSTRUCTW ins{};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = const_cast<LPWSTR>(u"Selected");
    HTREEITEM item = TreeView_InsertItem(tree, &ins);
    TreeView_SelectItem(tree, item);
    ASSERT_TRUE(UpdateWindow(tree));
    RECT label{};
    ASSERT_TRUE(TreeView_GetItemRect(tree, item, &label, TRUE));
    HDC dc = GetDC(tree);
    ASSERT_TRUE(dc);
    EXPECT_EQ(GetPixel(dc, label.left + 1, label.top + 1), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(GetPixel(dc, 115, 55), GetSysColor(COLOR_WINDOW));
    ReleaseDC(tree, dc);
}

TEST_F(PaintTest, ListViewPaintsRowsCheckBoxesGridAndSelection) {
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, u"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 240,
                                120, m_parent, reinterpret_cast<HMENU>(2), nullptr, nullptr);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = 100;
    col.pszText = const_cast<LPWSTR>(u"Day");
    ListView_InsertColumn(list, 0, &col);
    col.pszText = const_cast<LPWSTR>(u"Note");
    ListView_InsertColumn(list, 1, &col);
    for (int i = 0; i < 2; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<LPWSTR>(i ? u"Monday" : u"Sunday");
        ListView_InsertItem(list, &item);
        ListView_SetItemText(list, i, 1, u"note");
    }
    ListView_SetCheckState(list, 0, TRUE);
    ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);

    Canvas canvas(240, 120);
    SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), 0);
    RECT row0{}, row1{};
    row0.left = row1.left = LVIR_BOUNDS;
    ASSERT_TRUE(ListView_GetItemRect(list, 0, &row0, LVIR_BOUNDS));
    ASSERT_TRUE(ListView_GetItemRect(list, 1, &row1, LVIR_BOUNDS));
    EXPECT_TRUE(canvas.HasInk(RECT{20, row0.top, 100, row0.bottom - 1}));      // "Sunday"
    EXPECT_TRUE(canvas.HasInk(RECT{100, row0.top, 200, row0.bottom - 1}));     // its sub-item
    EXPECT_TRUE(canvas.Has(RECT{0, row0.top, 16, row0.bottom}, RGB(0, 0, 0))); // checked box
    EXPECT_FALSE(canvas.Has(RECT{0, row1.top, 16, row1.bottom}, RGB(0, 0, 0)));
    EXPECT_TRUE(canvas.Has(RECT{150, row1.top, 200, row1.bottom}, GetSysColor(COLOR_HIGHLIGHT))); // full row
    EXPECT_EQ(canvas.At(50, row0.bottom - 1), GetSysColor(COLOR_3DLIGHT));                        // grid line
    EXPECT_EQ(canvas.At(230, 110), RGB(255, 255, 255));

    // The header paints its captions itself.
    HWND header = ListView_GetHeader(list);
    Canvas top(240, 20);
    SendMessageW(header, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(top.dc()), 0);
    EXPECT_TRUE(top.HasInk(RECT{4, 2, 96, 18}));
    EXPECT_EQ(top.At(230, 10), GetSysColor(COLOR_BTNFACE));
}

TEST_F(PaintTest, TrackbarAsksItsParentBeforeEachPartAndSkipsWhatTheParentDraws) {
    HWND slider = CreateWindowExW(0, TRACKBAR_CLASSW, u"", WS_CHILD | WS_VISIBLE | TBS_NOTICKS, 0, 0, 200, 30, m_parent,
                                  reinterpret_cast<HMENU>(3), nullptr, nullptr);
    SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageW(slider, TBM_SETPOS, TRUE, 50);
    std::vector<std::pair<DWORD, DWORD_PTR>> stages;
    onNotify = [&](NMHDR* h) -> LRESULT {
        if (h->code != NM_CUSTOMDRAW)
            return 0;
        auto* cd = reinterpret_cast<NMCUSTOMDRAW*>(h);
        stages.emplace_back(cd->dwDrawStage, cd->dwItemSpec);
        if (cd->dwDrawStage == CDDS_PREPAINT)
            return CDRF_NOTIFYITEMDRAW;
        if (cd->dwDrawStage == CDDS_ITEMPREPAINT && cd->dwItemSpec == TBCD_CHANNEL) {
            FillColor(cd->hdc, cd->rc); // the two-colour channel of the caller
            return CDRF_SKIPDEFAULT;
        }
        return CDRF_DODEFAULT;
    };
    Canvas canvas(200, 30);
    SendMessageW(slider, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), 0);
    EXPECT_EQ(stages, (std::vector<std::pair<DWORD, DWORD_PTR>>{{CDDS_PREPAINT, 0},
                                                                {CDDS_ITEMPREPAINT, TBCD_TICS},
                                                                {CDDS_ITEMPREPAINT, TBCD_CHANNEL},
                                                                {CDDS_ITEMPREPAINT, TBCD_THUMB}}));
    RECT channel{};
    SendMessageW(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    EXPECT_EQ(canvas.At(channel.left + 2, (channel.top + channel.bottom) / 2), RGB(0, 200, 0));
}

} // namespace
