#include "platform/net/winsock.h"

#include "platform/base/errors.h"
#include "platform/net/socket_host.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<int> g_startups{0};

} // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    const int major = LOBYTE(versionRequested), minor = HIBYTE(versionRequested);
    if (!data)
        return WSAEFAULT;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    // The highest version offered is 2.2; a request for more gets 2.2, as Winsock answers.
    const bool above = major > 2 || (major == 2 && minor > 2);
    data->wVersion = above ? MAKEWORD(2, 2) : versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0;
    data->iMaxUdpDg = 0;
    ++g_startups;
    return 0;
}

int WSACleanup() {
    int count = g_startups.load();
    while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) {
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int error) {
    SetLastError(static_cast<DWORD>(error));
}

namespace platform::net {

bool SocketsStarted() {
    return g_startups.load() > 0;
}

std::string BroadcastAddress() {
    return host::BroadcastSetting();
}

} // namespace platform::net
