#include "platform/testing/private_network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

bool EnterPrivateNetwork(std::string& why) {
    if (unshare(CLONE_NEWNET) != 0) {
        why = std::string("no network namespace of our own: ") + std::strerror(errno);
        return false;
    }
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    if (s >= 0)
        close(s);
    if (!up) {
        why = std::string("the namespace's loopback does not come up: ") + std::strerror(errno);
        return false;
    }
    setenv("WINLAYER_BROADCAST", "127.255.255.255", 1);
    return true;
}

DatagramResponder::DatagramResponder(uint16_t port, std::string from, Answer answer)
    : m_port(port), m_answer(std::move(answer)) {
    m_raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
    m_reply = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &sa.sin_addr);
    if (m_reply >= 0 && bind(m_reply, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        close(m_reply);
        m_reply = -1;
    }
    if (Ready())
        m_thread = std::thread([this] { Run(); });
}

DatagramResponder::~DatagramResponder() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_raw >= 0)
        close(m_raw);
    if (m_reply >= 0)
        close(m_reply);
}

void DatagramResponder::Run() {
    uint8_t packet[65536];
    while (!m_stop) {
        pollfd p{m_raw, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = recv(m_raw, packet, sizeof packet, 0);
        if (n < static_cast<ssize_t>(sizeof(iphdr)))
            continue;
        const auto* ip = reinterpret_cast<const iphdr*>(packet);
        const size_t ipLength = ip->ihl * 4u;
        if (static_cast<size_t>(n) < ipLength + sizeof(udphdr))
            continue;
        const auto* udp = reinterpret_cast<const udphdr*>(packet + ipLength);
        if (ntohs(udp->dest) != m_port)
            continue;
        // The responder's own answers go to the same port; they are not requests.
        sockaddr_in own{};
        socklen_t ownLength = sizeof own;
        getsockname(m_reply, reinterpret_cast<sockaddr*>(&own), &ownLength);
        if (ip->saddr == own.sin_addr.s_addr && udp->source == own.sin_port)
            continue;
        const size_t payload = static_cast<size_t>(n) - ipLength - sizeof(udphdr);
        std::vector<uint8_t> request(packet + ipLength + sizeof(udphdr), packet + ipLength + sizeof(udphdr) + payload);
        // Only a request that went to a broadcast address or to someone else is one: what a server answers
        // arrives at the requester's port too and is seen here as well.
        uint32_t destination = ntohl(ip->daddr);
        if ((destination & 0xFF) != 0xFF)
            continue;
        ++m_requests;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = ip->saddr;
        to.sin_port = udp->source;
        for (const std::vector<uint8_t>& reply : m_answer(request))
            sendto(m_reply, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

} // namespace testsupport
