#include "app/ChartCtrl.h"

#include "app/AppTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/message.h"
#include "platform/ui/paint.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kChartId = 3315;

// The chart's parent: keeps every click notice it gets.
class CChartParent : public CWnd {
public:
    std::vector<NMCHARTCTRL> notices;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
        const auto* notice = reinterpret_cast<const NMCHARTCTRL*>(lParam);
        if (wParam == kChartId && notice->hdr.code == NMCHARTCTRL_CLICK) {
            notices.push_back(*notice);
            return TRUE;
        }
        return CWnd::OnNotify(wParam, lParam, pResult);
    }
};

class ChartTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        ASSERT_TRUE(
            m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr));
    }
    void TearDown() override {
        m_chart.reset();
        m_parent.DestroyWindow();
    }

    // A chart window made from its class name as a dialog template makes it, then subclassed by the object.
    void MakeChart(int width, int height, int type, int palette) {
        m_chart = std::make_unique<CChartCtrl>();
        HWND hwnd = CreateWindowExW(0, CChartCtrl::kClassName, u"Disk", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10,
                                    width, height, m_parent.GetSafeHwnd(),
                                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kChartId)), AfxGetInstanceHandle(),
                                    nullptr);
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(m_chart->SubclassDlgItem(kChartId, &m_parent));
        m_chart->SetChartType(type);
        m_chart->SetPalette(palette);
        m_chart->SetBkColor(kWhite);
    }
    COLORREF Pixel(int x, int y) {
        m_chart->Invalidate(FALSE);
        m_chart->UpdateWindow();
        HDC dc = GetDC(m_chart->GetSafeHwnd());
        const COLORREF color = GetPixel(dc, x, y);
        ReleaseDC(m_chart->GetSafeHwnd(), dc);
        return color;
    }
    void Click(int x, int y) {
        m_chart->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    }
    void KeepPicture(const char* name) {
        const std::u16string path = u"T:\\" + platform::Utf8ToUtf16(name);
        ASSERT_TRUE(platform::ui::SaveWindowPng(m_chart->GetSafeHwnd(), path));
        if (const char* keep = std::getenv("APP_TEST_KEEP_PNG")) {
            EXPECT_EQ(std::system(("cp " + m_drive.Root() + "/" + name + " " + keep).c_str()), 0);
        }
    }

    CChartParent m_parent;
    std::unique_ptr<CChartCtrl> m_chart;
};

TEST_F(ChartTest, ClassIsRegisteredForDialogTemplates) {
    CChartCtrl chart;
    CChartCtrl second; // registers again, harmlessly
    WNDCLASSW wc{};
    ASSERT_TRUE(GetClassInfoW(AfxGetInstanceHandle(), CChartCtrl::kClassName, &wc));
    EXPECT_EQ(wc.style, CS_GLOBALCLASS);
    EXPECT_EQ(wc.hbrBackground, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(chart.GetChartType(), CChartCtrl::kDiskUsage);
    EXPECT_EQ(chart.GetDepth(), 10);
    EXPECT_EQ(chart.GetSelected(), -1);
}

TEST_F(ChartTest, PalettesAndValues) {
    CChartCtrl chart;
    EXPECT_EQ(chart.GetColorCount(), 0);
    struct {
        int scheme;
        int count;
        COLORREF first;
        COLORREF last;
    } const schemes[] = {{1, 6, 0x666666, 0xAAAAAA}, {2, 12, 0x00CC00, 0xFFFF00}, {3, 6, 0xFF0000, 0xFFFF00}};
    for (const auto& s : schemes) {
        SCOPED_TRACE(s.scheme);
        EXPECT_TRUE(chart.SetPalette(s.scheme));
        ASSERT_EQ(chart.GetColorCount(), s.count);
        EXPECT_EQ(chart.GetColor(0), s.first);
        EXPECT_EQ(chart.GetColor(s.count - 1), s.last);
    }
    // An unknown scheme keeps the palette; scheme 0 empties it.
    EXPECT_FALSE(chart.SetPalette(7));
    EXPECT_EQ(chart.GetColorCount(), 6);
    EXPECT_TRUE(chart.AddBrush(new CBrush(RGB(1, 2, 3))));
    EXPECT_EQ(chart.GetColor(6), RGB(1, 2, 3));
    EXPECT_TRUE(chart.SetPalette(0));
    EXPECT_EQ(chart.GetColorCount(), 0);

    // The disk-usage form takes zero values; the others refuse values that are not above zero.
    EXPECT_TRUE(chart.AddValue(0, u"Free", FALSE));
    chart.SetChartType(CChartCtrl::kBar);
    EXPECT_FALSE(chart.AddValue(0, u"x"));
    EXPECT_FALSE(chart.AddValue(-3, u"x"));
    EXPECT_EQ(chart.GetItemCount(), 1);
    EXPECT_TRUE(chart.AddValue(347, u"a"));
    EXPECT_TRUE(chart.AddValue(53, u"b"));
    EXPECT_EQ(chart.GetTotal(), 400.0);
    EXPECT_EQ(chart.GetMaxValue(), 347.0);

    // By index: out of range refused; the total follows, the largest value rises with a set.
    EXPECT_FALSE(chart.SetValue(3, 1, u"x"));
    EXPECT_FALSE(chart.SetValue(-1, 1, u"x"));
    EXPECT_FALSE(chart.RemoveValue(3));
    EXPECT_TRUE(chart.SetValue(2, 500, u"c"));
    EXPECT_EQ(chart.GetTotal(), 847.0);
    EXPECT_EQ(chart.GetMaxValue(), 500.0);
    EXPECT_EQ(chart.GetItem(2)->label, CString(u"c"));
    EXPECT_TRUE(chart.RemoveValue(2));
    EXPECT_EQ(chart.GetTotal(), 347.0);
    EXPECT_EQ(chart.GetMaxValue(), 347.0);

    // Emptied, the chart forgets its largest value too: a refill with small values gets a small scale.
    chart.RemoveAll();
    EXPECT_EQ(chart.GetItemCount(), 0);
    EXPECT_EQ(chart.GetTotal(), 0.0);
    EXPECT_EQ(chart.GetMaxValue(), 0.0);
    EXPECT_TRUE(chart.AddValue(3, u"small"));
    EXPECT_EQ(CChartCtrl::ScaleFor(chart.GetMaxValue()), 4.0);
}

TEST_F(ChartTest, BarScale) {
    const struct {
        double max;
        double scale;
    } cases[] = {{347, 400}, {400, 500}, {0.5, 1}, {0, 1}, {1, 2}, {9.4, 10}, {999, 1000}, {1000, 2000}, {25, 30}};
    for (const auto& c : cases)
        EXPECT_EQ(CChartCtrl::ScaleFor(c.max), c.scale) << c.max;
}

TEST_F(ChartTest, DiskUsagePieShowsUsedAndFreeWithShadedWall) {
    MakeChart(200, 120, CChartCtrl::kDiskUsage, 3);
    m_chart->RemoveAll();
    ASSERT_TRUE(m_chart->AddValue(75, u"Used", FALSE));
    ASSERT_TRUE(m_chart->AddValue(25, u"Free", FALSE));
    // Centre (100, 60), radii 90 and 49, wall 10 deep. "Used" runs from 0 to 270 degrees, "Free" from 270 to 360.
    const double pi = std::acos(-1.0);
    auto top = [&](double degrees, double part) {
        return POINT{100 + static_cast<int>(std::cos(degrees * pi / 180) * 90 * part),
                     60 - static_cast<int>(std::sin(degrees * pi / 180) * 49 * part)};
    };
    auto wall = [&](double degrees) {
        const POINT p = top(degrees, 1.0);
        return POINT{p.x, p.y + 5};
    };
    constexpr COLORREF used = 0xFF0000;
    constexpr COLORREF free = 0xFF00FF;
    for (double degrees : {45.0, 135.0, 200.0, 250.0}) {
        const POINT p = top(degrees, 0.5);
        EXPECT_EQ(Pixel(p.x, p.y), used) << degrees;
    }
    for (double degrees : {290.0, 315.0, 340.0}) {
        const POINT p = top(degrees, 0.5);
        EXPECT_EQ(Pixel(p.x, p.y), free) << degrees;
    }
    // The wall under each slice in half its colour; the slice's face above it keeps its own colour.
    for (double degrees : {200.0, 225.0, 260.0}) {
        const POINT p = wall(degrees);
        EXPECT_EQ(Pixel(p.x, p.y), 0x7F0000u) << degrees;
    }
    for (double degrees : {285.0, 315.0, 350.0}) {
        const POINT p = wall(degrees);
        EXPECT_EQ(Pixel(p.x, p.y), 0x7F007Fu) << degrees;
    }
    // Outside the disk: the background; no title is drawn in this form.
    EXPECT_EQ(Pixel(2, 2), kWhite);
    EXPECT_EQ(Pixel(100, 2), kWhite);
    EXPECT_EQ(Pixel(197, 117), kWhite);
    KeepPicture("chart_disk.png");

    // A click selects nothing on this form, and says so.
    Click(100, 60);
    ASSERT_EQ(m_parent.notices.size(), 1u);
    EXPECT_EQ(m_parent.notices[0].index, -1);
    EXPECT_EQ(m_parent.notices[0].label[0], 0);
    EXPECT_EQ(m_parent.notices[0].value, 0.0);
    EXPECT_EQ(m_parent.notices[0].hdr.idFrom, static_cast<UINT_PTR>(kChartId));
}

TEST_F(ChartTest, EmptyDiskUsagePieShowsAFullDisk) {
    MakeChart(200, 120, CChartCtrl::kDiskUsage, 3);
    // No items: the background only.
    EXPECT_EQ(Pixel(100, 40), kWhite);
    // Only zero values: the chart shows a full disk.
    ASSERT_TRUE(m_chart->AddValue(0, u"Used", FALSE));
    ASSERT_TRUE(m_chart->AddValue(0, u"Free", FALSE));
    EXPECT_EQ(Pixel(100, 40), 0xFF0000u);
    EXPECT_EQ(Pixel(60, 80), 0xFF0000u);
    ASSERT_EQ(m_chart->GetItemCount(), 2);
    EXPECT_EQ(m_chart->GetItem(0)->value, 100.0);
    EXPECT_EQ(m_chart->GetItem(1)->value, 0.0);
    // A palette of one colour draws nothing but the background.
    m_chart->SetPalette(0);
    m_chart->AddColor(0x00FF00);
    EXPECT_EQ(Pixel(100, 40), kWhite);
}

TEST_F(ChartTest, BarsAreHitWhereTheyAreDrawn) {
    MakeChart(240, 200, CChartCtrl::kBar, 3);
    ASSERT_TRUE(m_chart->AddValue(300, u"Used"));
    ASSERT_TRUE(m_chart->AddValue(100, u"Free"));
    // Plot rectangle (40, 30)-(220, 180), bars in (40, 40)-(220, 180): 90 px each, scale 400, 140 px high.
    const int bar0Top = 180 - 140 * 300 / 400; // 75
    const int bar1Top = 180 - 140 * 100 / 400; // 145
    EXPECT_EQ(Pixel(60, bar0Top), 0u);           // the outline
    EXPECT_EQ(Pixel(60, bar0Top + 3), 0xFF0000u); // the bar's colour
    EXPECT_EQ(Pixel(150, bar1Top + 3), 0xFF00FFu);
    EXPECT_NE(Pixel(150, bar1Top - 20), 0xFF00FFu);
    KeepPicture("chart_bars.png");

    Click(60, bar0Top + 10);
    Click(150, bar1Top + 2);
    Click(150, bar1Top - 5); // above the drawn bar
    Click(10, 10);
    ASSERT_EQ(m_parent.notices.size(), 4u);
    EXPECT_EQ(m_parent.notices[0].index, 0);
    EXPECT_EQ(std::u16string(m_parent.notices[0].label), u"Used");
    EXPECT_EQ(m_parent.notices[0].value, 300.0);
    EXPECT_EQ(m_parent.notices[1].index, 1);
    EXPECT_EQ(m_parent.notices[1].value, 100.0);
    EXPECT_EQ(m_parent.notices[2].index, -1);
    EXPECT_EQ(m_parent.notices[3].index, -1);
    EXPECT_EQ(m_chart->GetSelected(), -1);
    Click(150, bar1Top + 2);
    EXPECT_EQ(m_chart->GetSelected(), 1);
    // Adding a value clears the selection.
    m_chart->AddValue(5, u"more", FALSE);
    EXPECT_EQ(m_chart->GetSelected(), -1);
}

TEST_F(ChartTest, PieSlicesAreFilledAndHit) {
    MakeChart(300, 240, CChartCtrl::kPie, 3);
    ASSERT_TRUE(m_chart->AddValue(1, u"a"));
    ASSERT_TRUE(m_chart->AddValue(1, u"b"));
    ASSERT_TRUE(m_chart->AddValue(2, u"c"));
    // Radius min(150 - 50, 120 - 40) = 80, centre (150, 135). Slices: a 0-90, b 90-180, c 180-360 degrees.
    EXPECT_EQ(Pixel(150 + 30, 135 - 30), 0xFF0000u);
    EXPECT_EQ(Pixel(150 - 30, 135 - 30), 0xFF00FFu);
    EXPECT_EQ(Pixel(150, 135 + 40), 0x0000FFu);
    KeepPicture("chart_pie.png");

    const struct {
        POINT pt;
        int index;
    } clicks[] = {{{180, 105}, 0}, {{120, 105}, 1}, {{150, 175}, 2}, {{150, 135}, -1}, {{290, 135}, -1}};
    for (const auto& c : clicks)
        EXPECT_EQ(m_chart->HitTest(c.pt), c.index) << c.pt.x << "," << c.pt.y;
}

TEST_F(ChartTest, ClickNoticeLabelAlwaysEndsWithANull) {
    MakeChart(240, 200, CChartCtrl::kBar, 3);
    const std::u16string longLabel(70, u'L');
    ASSERT_TRUE(m_chart->AddValue(10, longLabel.c_str()));
    Click(100, 150);
    ASSERT_EQ(m_parent.notices.size(), 1u);
    const NMCHARTCTRL& notice = m_parent.notices[0];
    EXPECT_EQ(notice.index, 0);
    EXPECT_EQ(notice.label[59], 0);
    EXPECT_EQ(std::u16string(notice.label), std::u16string(59, u'L'));
}

} // namespace
