// The framework's socket on real datagram sockets, inside a network namespace of the test's own.
#include "platform/net/AsyncSocket.h"

#include "platform/testing/private_network.h"
#include "platform/ui/message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Delivers this thread's messages until `done` holds; false when 20 seconds pass first.
bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg{};
        bool any = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            any = true;
            DispatchMessageW(&msg);
        }
        if (!any)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Datagram {
    std::vector<uint8_t> bytes;
    std::u16string from;
    UINT port = 0;
};

// Reads one datagram per notice and keeps what it read, with the thread each notice came on.
class RecordingSocket : public CAsyncSocket {
public:
    std::vector<Datagram> received;
    std::vector<std::thread::id> threads;
    int sendNotices = 0;

protected:
    void OnReceive(int error) override {
        EXPECT_EQ(error, 0);
        threads.push_back(std::this_thread::get_id());
        uint8_t buffer[1024];
        CString address;
        UINT port = 0;
        const int n = ReceiveFrom(buffer, sizeof buffer, address, port);
        if (n >= 0)
            received.push_back({std::vector<uint8_t>(buffer, buffer + n), address.GetString(), port});
    }
    void OnSend(int) override { ++sendNotices; }
};

class AsyncSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!testsupport::EnterPrivateNetwork(why))
            FAIL() << why;
        ASSERT_TRUE(AfxSocketInit());
    }
};

TEST(AsyncSocketStartup, SocketsNeedTheLibraryStartedAndStartsAreCounted) {
    while (WSACleanup() == 0) {
    }
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    CAsyncSocket socket;
    EXPECT_FALSE(socket.Create(0, SOCK_DGRAM));
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSANOTINITIALISED);

    WSADATA data{};
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
    ASSERT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    ASSERT_TRUE(AfxSocketInit()); // finds the library started
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    ASSERT_TRUE(AfxSocketInit());
    EXPECT_TRUE(socket.Create(0, SOCK_DGRAM, 0));
}

TEST_F(AsyncSocketTest, ABroadcastReachesTheNetworkAndAnswersArriveAsNoticesOnTheOwnersThread) {
    testsupport::DatagramResponder responder(8097, "127.0.0.9", [](const std::vector<uint8_t>& request) {
        std::vector<uint8_t> answer(request);
        answer.push_back(0xAB);
        return std::vector<std::vector<uint8_t>>{answer};
    });
    ASSERT_TRUE(responder.Ready());

    RecordingSocket socket;
    ASSERT_TRUE(socket.Create(8097, SOCK_DGRAM, FD_READ | FD_WRITE));
    int on = 1;
    ASSERT_TRUE(socket.SetSockOpt(SO_BROADCAST, &on, sizeof on));
    int value = 0, length = sizeof value;
    ASSERT_TRUE(socket.GetSockOpt(SO_BROADCAST, &value, &length));
    EXPECT_EQ(value, 1);
    const uint8_t query[4] = {1, 2, 3, 4};
    ASSERT_EQ(socket.SendTo(query, sizeof query, 8097, u"255.255.255.255"), 4);

    // The socket hears its own broadcast and the responder's answer, in either order.
    auto fromResponder = [&] {
        for (const Datagram& d : socket.received)
            if (d.from == u"127.0.0.9")
                return true;
        return false;
    };
    ASSERT_TRUE(PumpUntil([&] { return fromResponder() && socket.received.size() >= 2 && socket.sendNotices; }));
    for (const Datagram& d : socket.received) {
        if (d.from == u"127.0.0.9")
            EXPECT_EQ(d.bytes, (std::vector<uint8_t>{1, 2, 3, 4, 0xAB}));
        else
            EXPECT_EQ(d.bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
    }
    for (std::thread::id id : socket.threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(responder.Requests(), 1);
}

TEST_F(AsyncSocketTest, EveryQueuedDatagramIsAnnouncedOnceItsPredecessorWasRead) {
    RecordingSocket receiver;
    ASSERT_TRUE(receiver.Create(0, SOCK_DGRAM, FD_READ, u"127.0.0.1"));
    CString address;
    UINT port = 0;
    ASSERT_TRUE(receiver.GetSockName(address, port));
    EXPECT_EQ(std::u16string(address.GetString()), u"127.0.0.1");
    ASSERT_NE(port, 0u);

    CAsyncSocket sender;
    ASSERT_TRUE(sender.Create(0, SOCK_DGRAM, 0));
    for (uint8_t i = 0; i < 5; ++i)
        ASSERT_EQ(sender.SendTo(&i, 1, port, u"127.0.0.1"), 1);
    ASSERT_TRUE(PumpUntil([&] { return receiver.received.size() == 5; }));
    for (uint8_t i = 0; i < 5; ++i)
        EXPECT_EQ(receiver.received[i].bytes, std::vector<uint8_t>{i});
}

TEST_F(AsyncSocketTest, FailuresAnswerTheWinsockReasons) {
    CAsyncSocket first;
    ASSERT_TRUE(first.Create(8097, SOCK_DGRAM, 0));
    CAsyncSocket second;
    EXPECT_FALSE(second.Create(8097, SOCK_DGRAM, 0));
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEADDRINUSE);
    EXPECT_EQ(second.m_hSocket, INVALID_SOCKET);
    EXPECT_FALSE(second.Create(0, SOCK_STREAM));
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAESOCKTNOSUPPORT);
    EXPECT_FALSE(first.Create(0, SOCK_DGRAM));
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEINVAL);

    // Broadcasting needs SO_BROADCAST.
    const uint8_t byte = 7;
    EXPECT_EQ(first.SendTo(&byte, 1, 8097, u"255.255.255.255"), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEACCES);

    // A datagram longer than the buffer fills it and says so.
    CString address;
    UINT port = 0;
    ASSERT_TRUE(first.GetSockName(address, port));
    CAsyncSocket sender;
    ASSERT_TRUE(sender.Create(0, SOCK_DGRAM, 0));
    const char text[] = "longer than four";
    ASSERT_EQ(sender.SendTo(text, 16, port, u"127.0.0.1"), 16);
    char buffer[4] = {};
    int n = 0;
    ASSERT_TRUE(PumpUntil([&] {
        n = first.ReceiveFrom(buffer, sizeof buffer, address, port);
        return n != SOCKET_ERROR || CAsyncSocket::GetLastError() != WSAEWOULDBLOCK;
    }));
    EXPECT_EQ(n, SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buffer, 4), "long");

    first.Close();
    EXPECT_EQ(first.SendTo(&byte, 1, 8097, u"127.0.0.1"), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), WSAENOTSOCK);
}

} // namespace
