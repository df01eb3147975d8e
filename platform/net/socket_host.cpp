// BSD sockets for the layer's Winsock. This file alone includes the host's socket headers.
#include "platform/net/socket_host.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::net::host {
namespace {

// Winsock's numbers, repeated here because winsock.h cannot be included beside the host's headers.
constexpr int kWsStream = 1;
constexpr int kWsDgram = 2;
constexpr int kWsSolSocket = 0xFFFF;
constexpr int kWsBroadcast = 0x0020;
constexpr int kWsReuseAddr = 0x0004;
constexpr int kWsSndBuf = 0x1001;
constexpr int kWsRcvBuf = 0x1002;

constexpr int kWsaEInval = 10022;
constexpr int kWsaEMsgSize = 10040;
constexpr int kWsaESockTNoSupport = 10044;
constexpr int kWsaENoProtoOpt = 10042;
constexpr int kWsaHostNotFound = 11001;

bool ToHostOption(int level, int option, int& hostLevel, int& hostOption) {
    if (level != kWsSolSocket)
        return false;
    hostLevel = SOL_SOCKET;
    switch (option) {
    case kWsBroadcast:
        hostOption = SO_BROADCAST;
        return true;
    case kWsReuseAddr:
        hostOption = SO_REUSEADDR;
        return true;
    case kWsSndBuf:
        hostOption = SO_SNDBUF;
        return true;
    case kWsRcvBuf:
        hostOption = SO_RCVBUF;
        return true;
    default:
        return false;
    }
}

int Resolve(const std::string& text, uint32_t& address) {
    if (ParseDotted(text, address))
        return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || !found)
        return kWsaHostNotFound;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}

} // namespace

std::string BroadcastSetting() {
    const char* value = std::getenv("WINLAYER_BROADCAST");
    uint32_t parsed = 0;
    if (value && ParseDotted(value, parsed))
        return value;
    return "255.255.255.255";
}

int WsaErrorFromErrno(int err) {
    switch (err) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case ENOTSOCK:
        return 10038;
    case EMSGSIZE:
        return 10040;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case ENOTCONN:
        return 10057;
    case ECONNREFUSED:
        return 10061;
    case EHOSTUNREACH:
        return 10065;
    default:
        return 10022;
    }
}

bool ParseDotted(const std::string& text, uint32_t& networkOrder) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    networkOrder = a.s_addr;
    return true;
}

std::string Dotted(uint32_t networkOrder) {
    char buf[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

int OpenSocket(int windowsType, int& fd) {
    int type = 0;
    if (windowsType == kWsDgram)
        type = SOCK_DGRAM;
    else if (windowsType == kWsStream)
        type = SOCK_STREAM;
    else
        return kWsaESockTNoSupport;
    fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? WsaErrorFromErrno(errno) : 0;
}

int Bind(int fd, const std::string& address, unsigned port) {
    if (port > 0xFFFF)
        return kWsaEInval;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.empty())
        if (int error = Resolve(address, sa.sin_addr.s_addr))
            return error;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return WsaErrorFromErrno(errno);
    return 0;
}

int SetOption(int fd, int windowsLevel, int windowsOption, const void* value, int length) {
    int level = 0, option = 0;
    if (!ToHostOption(windowsLevel, windowsOption, level, option))
        return kWsaENoProtoOpt;
    if (!value || length < static_cast<int>(sizeof(int)))
        return 10014;
    int v = 0;
    std::memcpy(&v, value, sizeof v);
    if (setsockopt(fd, level, option, &v, sizeof v) != 0)
        return WsaErrorFromErrno(errno);
    return 0;
}

int GetOption(int fd, int windowsLevel, int windowsOption, void* value, int& length) {
    int level = 0, option = 0;
    if (!ToHostOption(windowsLevel, windowsOption, level, option))
        return kWsaENoProtoOpt;
    if (!value || length < static_cast<int>(sizeof(int)))
        return 10014;
    int v = 0;
    socklen_t size = sizeof v;
    if (getsockopt(fd, level, option, &v, &size) != 0)
        return WsaErrorFromErrno(errno);
    // Linux reports buffer sizes doubled for its own bookkeeping; Winsock reports what was set.
    if (option == SO_SNDBUF || option == SO_RCVBUF)
        v /= 2;
    if (option == SO_BROADCAST || option == SO_REUSEADDR)
        v = v ? 1 : 0;
    std::memcpy(value, &v, sizeof v);
    length = sizeof v;
    return 0;
}

int SendTo(int fd, const void* data, size_t size, const std::string& address, unsigned port, size_t& sent) {
    sent = 0;
    if (port > 0xFFFF)
        return kWsaEInval;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (int error = Resolve(address, sa.sin_addr.s_addr))
        return error;
    if (sa.sin_addr.s_addr == htonl(INADDR_BROADCAST))
        ParseDotted(BroadcastSetting(), sa.sin_addr.s_addr);
    const ssize_t n = sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (n < 0)
        return WsaErrorFromErrno(errno);
    sent = static_cast<size_t>(n);
    return 0;
}

int ReceiveFrom(int fd, void* buffer, size_t size, size_t& received, std::string& address, unsigned& port) {
    received = 0;
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    msghdr msg{};
    iovec io{buffer, size};
    msg.msg_name = &sa;
    msg.msg_namelen = length;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    const ssize_t n = recvmsg(fd, &msg, 0);
    if (n < 0)
        return WsaErrorFromErrno(errno);
    received = static_cast<size_t>(n);
    address = Dotted(sa.sin_addr.s_addr);
    port = ntohs(sa.sin_port);
    return (msg.msg_flags & MSG_TRUNC) ? kWsaEMsgSize : 0;
}

int LocalName(int fd, std::string& address, unsigned& port) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return WsaErrorFromErrno(errno);
    address = Dotted(sa.sin_addr.s_addr);
    port = ntohs(sa.sin_port);
    return 0;
}

void CloseSocket(int fd) {
    if (fd >= 0)
        close(fd);
}

} // namespace platform::net::host
