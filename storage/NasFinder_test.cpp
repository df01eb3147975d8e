// Network storage discovery against a server written here, in a network namespace of the test's own.
#include "storage/NasFinder.h"

#include "shared/DiskTestSupport.h"

#include "platform/testing/private_network.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_NAS_FOUND = WM_USER + 5000;

std::vector<std::unique_ptr<NAS_SERVER_ENTRY>>* g_found = nullptr;

LRESULT CALLBACK CollectProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NAS_FOUND) {
        EXPECT_EQ(wParam, 0u);
        g_found->emplace_back(reinterpret_cast<NAS_SERVER_ENTRY*>(lParam));
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A reply: the 16-byte header, then the items as type, length and text.
std::vector<uint8_t> Reply(const std::string& first, const std::string& second) {
    std::vector<uint8_t> reply(16, 0x5A);
    for (const std::string* text : {&first, &second}) {
        reply.push_back(1);
        reply.push_back(static_cast<uint8_t>(text->size()));
        reply.insert(reply.end(), text->begin(), text->end());
    }
    return reply;
}

class NasFinderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!testsupport::EnterPrivateNetwork(why))
            FAIL() << why;
        g_found = &m_found;
        WNDCLASSW wc{};
        wc.lpfnWndProc = CollectProc;
        wc.lpszClassName = u"NasFinderTestWindow";
        RegisterClassW(&wc);
        m_window =
            CreateWindowExW(0, u"NasFinderTestWindow", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(m_window, nullptr);
    }
    void TearDown() override {
        if (m_window)
            DestroyWindow(m_window);
        g_found = nullptr;
    }

    bool Found(const char16_t* name) const {
        for (const auto& entry : m_found)
            if (std::u16string(entry->strName.GetString()) == name)
                return true;
        return false;
    }

    HWND m_window = nullptr;
    std::vector<std::unique_ptr<NAS_SERVER_ENTRY>> m_found;
};

TEST_F(NasFinderTest, ServersThatAnswerAreListedAndMalformedAnswersAreDropped) {
    std::vector<uint8_t> query;
    const std::string longName(200, 'N');
    testsupport::DatagramResponder responder(8097, "127.0.0.7", [&](const std::vector<uint8_t>& request) {
        query = request;
        std::vector<uint8_t> lengthPastEnd = Reply("Ghost", "x");
        lengthPastEnd[16 + 1] = 60; // the first text claims more than arrived
        std::vector<uint8_t> secondPastEnd = Reply("Ghost2", "abc");
        secondPastEnd.pop_back();
        std::vector<uint8_t> longReply(16, 0);
        longReply.push_back(1);
        longReply.push_back(200);
        longReply.insert(longReply.end(), longName.begin(), longName.end());
        longReply.push_back(1);
        longReply.push_back(2);
        longReply.push_back('o');
        longReply.push_back('k');
        return std::vector<std::vector<uint8_t>>{
            std::vector<uint8_t>(10, 1), // shorter than the header
            std::vector<uint8_t>(16, 0), // the header alone: no texts
            Reply("NoInfo", ""),         // one text missing
            lengthPastEnd,
            secondPastEnd,                      // lengths past the end
            std::vector<uint8_t>(17, 0),        // an item cut after its type
            Reply("Storage-1", "Firmware 1.0"), // a server
            Reply("Storage-1", "Firmware 1.0"), // the same again: posted again, the dialog filters
            longReply,                          // a first text of 200 bytes, kept to 127
            Reply("Last", "sentinel"),
        };
    });
    ASSERT_TRUE(responder.Ready());

    CNasFinder finder;
    ASSERT_EQ(finder.StartFind(m_window, WM_NAS_FOUND), 0);
    // Datagrams on the loopback keep their order: once the last one is here, every other one was read.
    ASSERT_TRUE(storagetest::PumpUntil([&] { return Found(u"Last"); }, std::chrono::seconds(20)));

    const std::vector<uint8_t> expectedQuery = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(query, expectedQuery);
    ASSERT_EQ(m_found.size(), 4u);
    for (int i : {0, 1}) {
        EXPECT_EQ(std::u16string(m_found[i]->strAddress.GetString()), u"127.0.0.7");
        EXPECT_EQ(std::u16string(m_found[i]->strName.GetString()), u"Storage-1");
        EXPECT_EQ(std::u16string(m_found[i]->strInfo.GetString()), u"Firmware 1.0");
    }
    EXPECT_EQ(m_found[2]->strName.GetLength(), 127);
    EXPECT_EQ(std::u16string(m_found[2]->strInfo.GetString()), u"ok");
    EXPECT_EQ(responder.Requests(), 1);
}

TEST_F(NasFinderTest, ANewSearchSendsTheQueryAgainOnAFreshSocketAndStopEndsIt) {
    testsupport::DatagramResponder responder(8097, "127.0.0.8", [](const std::vector<uint8_t>&) {
        return std::vector<std::vector<uint8_t>>{Reply("Box", "1")};
    });
    ASSERT_TRUE(responder.Ready());
    CNasFinder finder;
    ASSERT_EQ(finder.StartFind(m_window, WM_NAS_FOUND), 0);
    ASSERT_TRUE(storagetest::PumpUntil([&] { return m_found.size() == 1; }, std::chrono::seconds(20)));
    // The port is taken again by the next search: the old socket was closed first.
    ASSERT_EQ(finder.StartFind(m_window, WM_NAS_FOUND), 0);
    ASSERT_TRUE(storagetest::PumpUntil([&] { return m_found.size() == 2; }, std::chrono::seconds(20)));
    EXPECT_EQ(responder.Requests(), 2);
    finder.StopFind();
    // With the search stopped the port is free for another socket.
    CAsyncSocket other;
    EXPECT_TRUE(other.Create(8097, SOCK_DGRAM, 0));
}

TEST_F(NasFinderTest, ASearchWhoseSocketCannotBeMadeAnswersMinusOne) {
    ASSERT_TRUE(AfxSocketInit());
    CAsyncSocket holder;
    ASSERT_TRUE(holder.Create(8097, SOCK_DGRAM, 0));
    CNasFinder finder;
    EXPECT_EQ(finder.StartFind(m_window, WM_NAS_FOUND), -1);
}

} // namespace
