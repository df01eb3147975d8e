// The IP address control: its address as a number and as text, field ranges, and typing.
#include "platform/ui/commctrl.h"
#include "platform/ui/controls.h"
#include "platform/ui/ui_test_support.h"

#include <vector>

namespace {

class IpAddressTest : public uitest::UiTest {
protected:
    IpAddressTest() {
        InitCommonControls();
        m_handler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE)
                ++m_changes;
            if (msg == WM_NOTIFY) {
                auto* nm = reinterpret_cast<NMIPADDRESS*>(lParam);
                if (nm->hdr.code == IPN_FIELDCHANGED)
                    m_fields.push_back({nm->iField, nm->iValue});
            }
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_parent = uitest::MakeWindow(&m_handler, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        m_ip = CreateWindowExW(0, WC_IPADDRESSW, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 120, 20, m_parent,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(1704)), nullptr, nullptr);
    }
    ~IpAddressTest() override { DestroyWindow(m_parent); }

    // Types as the keyboard does, one WM_CHAR per character.
    void Type(const std::u16string& text) const {
        for (char16_t c : text)
            SendMessageW(m_ip, WM_CHAR, c, 0);
    }

    DWORD Address(LRESULT* filled = nullptr) const {
        DWORD address = 0;
        const LRESULT n = SendMessageW(m_ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        if (filled)
            *filled = n;
        return address;
    }
    std::u16string Text() const {
        char16_t buffer[32] = {};
        SendMessageW(m_ip, WM_GETTEXT, 32, reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }

    uitest::Handler m_handler;
    HWND m_parent = nullptr;
    HWND m_ip = nullptr;
    int m_changes = 0;
    std::vector<std::pair<int, int>> m_fields;
};

TEST_F(IpAddressTest, TheAddressIsOneNumberAndADottedTextAndStaysInTheFieldRanges) {
    ASSERT_NE(m_ip, nullptr);
    EXPECT_TRUE(SendMessageW(m_ip, IPM_ISBLANK, 0, 0));
    LRESULT filled = -1;
    EXPECT_EQ(Address(&filled), 0u);
    EXPECT_EQ(filled, 0);
    EXPECT_EQ(Text(), u"...");

    SendMessageW(m_ip, IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 0, 1));
    EXPECT_EQ(Address(&filled), 0xC0A80001u);
    EXPECT_EQ(filled, 4);
    EXPECT_EQ(Text(), u"192.168.0.1");
    EXPECT_FALSE(SendMessageW(m_ip, IPM_ISBLANK, 0, 0));

    // The first field of 1 to 255: a zero there is raised into the range.
    EXPECT_TRUE(SendMessageW(m_ip, IPM_SETRANGE, 0, MAKEIPRANGE(1, 255)));
    EXPECT_FALSE(SendMessageW(m_ip, IPM_SETRANGE, 4, MAKEIPRANGE(1, 255)));
    SendMessageW(m_ip, IPM_SETADDRESS, 0, MAKEIPADDRESS(0, 1, 2, 3));
    EXPECT_EQ(Text(), u"1.1.2.3");
    EXPECT_TRUE(SetWindowTextW(m_ip, u"10.0..7"));
    EXPECT_EQ(Address(&filled), 0x0A000007u);
    EXPECT_EQ(filled, 3);
    EXPECT_EQ(Text(), u"10.0..7");
    SendMessageW(m_ip, IPM_CLEARADDRESS, 0, 0);
    EXPECT_TRUE(SendMessageW(m_ip, IPM_ISBLANK, 0, 0));
}

TEST_F(IpAddressTest, TypedDigitsFillTheFieldsAndMoveOn) {
    SendMessageW(m_ip, IPM_SETFOCUS, 0, 0);
    Type(u"10.1.200");
    EXPECT_EQ(Text(), u"10.1.200.");
    // A third digit moves on by itself; a number above the field's range is cut to it and told.
    Type(u"999");
    EXPECT_EQ(Text(), u"10.1.200.255");
    EXPECT_GT(m_changes, 0);
    ASSERT_FALSE(m_fields.empty());
    EXPECT_EQ(m_fields.back(), (std::pair<int, int>{3, 255}));
    Type(u"\b\b");
    EXPECT_EQ(Text(), u"10.1.200.2");
    // Disabled, it takes nothing.
    EnableWindow(m_ip, FALSE);
    Type(u"\b");
    EXPECT_EQ(Text(), u"10.1.200.2");
}

} // namespace
