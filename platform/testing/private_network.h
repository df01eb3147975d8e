// A network of the test's own: a network namespace with only the loopback interface up, and a responder that
// answers datagrams there. Broadcasts of the layer's sockets go to the loopback network's broadcast address, so
// nothing a test sends leaves the namespace.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Moves the calling thread (and the threads it starts later) into a new network namespace with "lo" up, and
// points the layer's broadcast address at 127.255.255.255. False (with the reason in `why`) where the process may
// not make namespaces; the test then skips.
bool EnterPrivateNetwork(std::string& why);

// Answers every UDP datagram sent to `port` (seen on a raw socket, so the responder needs no port of its own and
// the program under test may hold `port`) with what `answer` gives for it, sent from the address `from` (an
// address of 127.0.0.0/8) to the sender's address and port. An empty answer sends nothing. The thread ends within
// a fraction of a second of the responder's destruction.
class DatagramResponder {
public:
    using Answer = std::function<std::vector<std::vector<uint8_t>>(const std::vector<uint8_t>& request)>;
    DatagramResponder(uint16_t port, std::string from, Answer answer);
    ~DatagramResponder();
    DatagramResponder(const DatagramResponder&) = delete;
    DatagramResponder& operator=(const DatagramResponder&) = delete;

    bool Ready() const { return m_raw >= 0 && m_reply >= 0; }
    int Requests() const { return m_requests.load(); }

private:
    void Run();

    uint16_t m_port;
    Answer m_answer;
    int m_raw = -1;
    int m_reply = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

} // namespace testsupport
