// Winsock: the socket library's initialisation, its constants and its error codes.
//
// Stands in for the parts of Winsock that the framework's asynchronous socket uses. The same as Windows: the
// numbers of the constants and of the WSA error codes are Windows' own, WSAStartup must come before any socket
// (WSANOTINITIALISED otherwise) and is counted, and WSAGetLastError is the thread's last error.
//
// Where it differs: sockets are the host's BSD sockets (IPv4 only). A datagram sent to the limited broadcast
// address 255.255.255.255 goes to the layer's broadcast address instead: the environment variable
// WINLAYER_BROADCAST (a dotted IPv4 address), by default 255.255.255.255 itself. Tests point it at the
// loopback network's broadcast (127.255.255.255) inside a network namespace of their own.
#pragma once

#include "platform/base/types.h"

#include <string>

using SOCKET = UINT_PTR;
constexpr SOCKET INVALID_SOCKET = static_cast<SOCKET>(~0ull);
constexpr int SOCKET_ERROR = -1;

constexpr int AF_INET_WS = 2;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_SOCK_DGRAM = 2;
constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_SO_BROADCAST = 0x0020;
constexpr int WS_SO_REUSEADDR = 0x0004;
constexpr int WS_SO_RCVBUF = 0x1002;
constexpr int WS_SO_SNDBUF = 0x1001;

// The Windows names, for code written against Winsock. They are spelled out here rather than taken from the
// host's headers, which the system's code never includes.
#define AF_INET AF_INET_WS
#define SOCK_STREAM WS_SOCK_STREAM
#define SOCK_DGRAM WS_SOCK_DGRAM
#define SOL_SOCKET WS_SOL_SOCKET
#define SO_BROADCAST WS_SO_BROADCAST
#define SO_REUSEADDR WS_SO_REUSEADDR
#define SO_RCVBUF WS_SO_RCVBUF
#define SO_SNDBUF WS_SO_SNDBUF

// Network events of WSAAsyncSelect and the framework's socket.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;
#define WSAGETSELECTEVENT(lParam) LOWORD(lParam)
#define WSAGETSELECTERROR(lParam) HIWORD(lParam)
#define WSAMAKESELECTREPLY(event, error) MAKELONG(event, error)

constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

// Fails with WSAVERNOTSUPPORTED below version 1.1 and WSAEFAULT for a null record; answers version 2.2 at most.
int WSAStartup(WORD versionRequested, LPWSADATA data);
// Fails with WSANOTINITIALISED when there is no WSAStartup left to balance.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

namespace platform::net {

// Whether WSAStartup is in force in this process (the framework's socket checks it as Winsock does).
bool SocketsStarted();
// The address a datagram to 255.255.255.255 really goes to (see the header's comment).
std::string BroadcastAddress();

} // namespace platform::net
