// The size slider's two-coloured channel, painted through the trackbar's custom draw.
#include "app/SizeSliderCtrl.h"

#include "app/AppTestSupport.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"

namespace {

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kMagenta = RGB(255, 0, 255);

class SizeSliderTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        ASSERT_TRUE(
            m_parent.CreateEx(0, nullptr, u"parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr));
        ASSERT_TRUE(m_slider.Create(WS_CHILD | WS_VISIBLE | TBS_BOTH | TBS_NOTICKS, RECT{0, 0, 216, 30}, &m_parent,
                                    3501));
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateBitmap(216, 30, 1, 32, nullptr);
        m_old = SelectObject(m_dc, m_bitmap);
    }
    void TearDown() override {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
        m_slider.DestroyWindow();
        m_parent.DestroyWindow();
    }
    // The colours along the middle of the channel at the given x positions.
    std::vector<COLORREF> Colours(std::initializer_list<int> xs) {
        m_slider.SendMessage(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dc), 0);
        std::vector<COLORREF> out;
        for (int x : xs)
            out.push_back(GetPixel(m_dc, x, 15));
        return out;
    }

    CWnd m_parent;
    CSizeSliderCtrl m_slider;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
};

TEST_F(SizeSliderTest, ChannelIsBlueUpToTheThumbAndMagentaAfterIt) {
    EXPECT_EQ(m_slider.fillColor, 0xFF0000u);
    EXPECT_EQ(m_slider.restColor, 0xFF00FFu);
    m_slider.SetRange(0, 200, TRUE);
    m_slider.SetPos(100);
    EXPECT_EQ(Colours({20, 90, 130, 200}), (std::vector<COLORREF>{kBlue, kBlue, kMagenta, kMagenta}));
    // The bar fills the channel's height inside its sunken edge, not only the channel's own four pixels.
    m_slider.SendMessage(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dc), 0);
    EXPECT_EQ(GetPixel(m_dc, 50, 10), kBlue);
    EXPECT_EQ(GetPixel(m_dc, 150, 19), kMagenta);
    EXPECT_NE(GetPixel(m_dc, 50, 5), kBlue);

    // Thumb at the maximum: blue to the far end; a range of 0: all magenta.
    m_slider.SetPos(200);
    EXPECT_EQ(Colours({20, 120, 195}), (std::vector<COLORREF>{kBlue, kBlue, kBlue}));
    m_slider.SetRange(0, 0, TRUE);
    EXPECT_EQ(Colours({20, 120, 195}), (std::vector<COLORREF>{kMagenta, kMagenta, kMagenta}));
}

TEST_F(SizeSliderTest, DrawSplitInvalidatesTheWholeControl) {
    m_slider.SetRange(0, 100, TRUE);
    m_slider.SetPos(30);
    ::ValidateRect(m_slider.GetSafeHwnd(), nullptr);
    m_slider.DrawSplit();
    RECT update{};
    ASSERT_TRUE(::GetUpdateRect(m_slider.GetSafeHwnd(), &update, FALSE));
    EXPECT_EQ(update.right - update.left, 216);
    EXPECT_EQ(update.bottom - update.top, 30);
}

} // namespace
