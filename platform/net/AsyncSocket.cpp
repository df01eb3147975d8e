// The framework's asynchronous socket. One watcher thread per process polls the selected sockets and posts
// WM_SOCKET_NOTIFY to the hidden socket window of the thread that selected them; that window calls the socket's
// handler. An event that was announced is not polled again until the socket re-enables it (a receive for
// FD_READ, a send that would have blocked for FD_WRITE), so the queue never fills with notices of one datagram.
#include "platform/net/AsyncSocket.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/net/socket_host.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

IMPLEMENT_DYNAMIC(CAsyncSocket, CObject)

namespace {

class SocketWatcher {
public:
    static SocketWatcher& Instance() {
        static SocketWatcher* watcher = new SocketWatcher; // lives as long as the process: its thread never joins
        return *watcher;
    }

    void Select(int fd, HWND window, long events) {
        std::unique_lock lock(m_mutex);
        if (events == 0) {
            m_entries.erase(fd);
        } else {
            Entry& e = m_entries[fd];
            e.window = window;
            e.events = events;
            e.readArmed = true;
            e.writeArmed = true;
        }
        Wake();
    }

    // Takes the socket out; once this returns the watcher no longer polls its descriptor, which may be closed.
    void Remove(int fd) {
        std::unique_lock lock(m_mutex);
        if (m_entries.erase(fd) == 0)
            return;
        Wake();
        WaitForPass(lock);
    }

    void Rearm(int fd, long event) {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(fd);
        if (it == m_entries.end())
            return;
        bool changed = false;
        if ((event & FD_READ) && !it->second.readArmed)
            changed = it->second.readArmed = true;
        if ((event & FD_WRITE) && !it->second.writeArmed)
            changed = it->second.writeArmed = true;
        if (changed)
            Wake();
    }

private:
    struct Entry {
        HWND window = nullptr;
        long events = 0;
        bool readArmed = true;
        bool writeArmed = true;
    };

    SocketWatcher() {
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        std::thread([this] { Run(); }).detach();
    }

    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
    }

    // Waits (with the lock held on entry) until the watcher has finished the pass it is in, so that it polls no
    // descriptor taken out before this call. Its next pass looks at the entries as they are now.
    void WaitForPass(std::unique_lock<std::mutex>& lock) {
        if (std::this_thread::get_id() == m_thread)
            return;
        const uint64_t target = m_passStarted;
        m_passDone.wait(lock, [&] { return m_passFinished >= target; });
    }

    void Run() {
        {
            std::lock_guard lock(m_mutex);
            m_thread = std::this_thread::get_id();
        }
        std::vector<pollfd> fds;
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                ++m_passStarted;
                fds.assign(1, pollfd{m_wake, POLLIN, 0});
                for (const auto& [fd, e] : m_entries) {
                    short wanted = 0;
                    if ((e.events & FD_READ) && e.readArmed)
                        wanted |= POLLIN;
                    if ((e.events & FD_WRITE) && e.writeArmed)
                        wanted |= POLLOUT;
                    if (wanted)
                        fds.push_back(pollfd{fd, wanted, 0});
                }
            }
            poll(fds.data(), fds.size(), -1);
            if (fds[0].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t n = read(m_wake, &count, sizeof count);
            }
            std::lock_guard lock(m_mutex);
            for (size_t i = 1; i < fds.size(); ++i) {
                auto it = m_entries.find(fds[i].fd);
                if (it == m_entries.end() || !fds[i].revents)
                    continue;
                Entry& e = it->second;
                const WPARAM socket = static_cast<WPARAM>(fds[i].fd);
                if ((fds[i].revents & (POLLIN | POLLERR | POLLHUP)) && (e.events & FD_READ) && e.readArmed) {
                    e.readArmed = false;
                    PostMessageW(e.window, WM_SOCKET_NOTIFY, socket, WSAMAKESELECTREPLY(FD_READ, 0));
                }
                if ((fds[i].revents & (POLLOUT | POLLERR)) && (e.events & FD_WRITE) && e.writeArmed) {
                    e.writeArmed = false;
                    PostMessageW(e.window, WM_SOCKET_NOTIFY, socket, WSAMAKESELECTREPLY(FD_WRITE, 0));
                }
            }
            ++m_passFinished;
            m_passDone.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_passDone;
    std::map<int, Entry> m_entries;
    uint64_t m_passStarted = 0;
    uint64_t m_passFinished = 0;
    int m_wake = -1;
    std::thread::id m_thread;
};

// The sockets that selected events, by handle, as the hidden windows find them.
std::mutex g_socketsMutex;
std::map<SOCKET, CAsyncSocket*> g_sockets;
thread_local HWND t_socketWindow = nullptr;

constexpr const char16_t* kSocketWindowClass = u"WinLayerSocketWindow";

} // namespace

struct CAsyncSocketDispatch {
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg != WM_SOCKET_NOTIFY)
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        CAsyncSocket* socket = nullptr;
        {
            std::lock_guard lock(g_socketsMutex);
            auto it = g_sockets.find(static_cast<SOCKET>(wParam));
            if (it != g_sockets.end())
                socket = it->second;
        }
        if (socket)
            socket->Dispatch(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
        return 0;
    }
};

namespace {

HWND SocketWindow() {
    if (t_socketWindow && IsWindow(t_socketWindow))
        return t_socketWindow;
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &CAsyncSocketDispatch::WindowProc;
        wc.lpszClassName = kSocketWindowClass;
        RegisterClassW(&wc);
    });
    t_socketWindow =
        CreateWindowExW(0, kSocketWindowClass, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return t_socketWindow;
}

int FdOf(SOCKET s) {
    return static_cast<int>(s);
}

BOOL Failed(int error) {
    WSASetLastError(error);
    return FALSE;
}

} // namespace

BOOL AfxSocketInit(WSADATA* data) {
    // The framework starts the library once for the program; later calls find it started.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    WSADATA local{};
    if (platform::net::SocketsStarted()) {
        if (data)
            *data = WSADATA{MAKEWORD(1, 1), MAKEWORD(2, 2), "WinSock 2.0", "Running", 0, 0, nullptr};
        return TRUE;
    }
    return WSAStartup(MAKEWORD(1, 1), data ? data : &local) == 0;
}

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    if (m_hSocket != INVALID_SOCKET)
        CAsyncSocket::Close();
}

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, LPCTSTR lpszSocketAddress) {
    if (!platform::net::SocketsStarted())
        return Failed(WSANOTINITIALISED);
    if (m_hSocket != INVALID_SOCKET)
        return Failed(WSAEINVAL);
    if (nSocketType != SOCK_DGRAM)
        return Failed(WSAESOCKTNOSUPPORT);
    int fd = -1;
    if (int error = platform::net::host::OpenSocket(nSocketType, fd))
        return Failed(error);
    const std::string address = lpszSocketAddress ? platform::Utf16ToUtf8(lpszSocketAddress) : std::string();
    if (int error = platform::net::host::Bind(fd, address, nSocketPort)) {
        platform::net::host::CloseSocket(fd);
        return Failed(error);
    }
    m_hSocket = static_cast<SOCKET>(fd);
    if (!AsyncSelect(lEvent)) {
        const int error = WSAGetLastError();
        Close();
        return Failed(error);
    }
    return TRUE;
}

BOOL CAsyncSocket::AsyncSelect(long lEvent) {
    if (m_hSocket == INVALID_SOCKET)
        return Failed(WSAENOTSOCK);
    HWND window = nullptr;
    if (lEvent) {
        window = SocketWindow();
        if (!window)
            return Failed(WSAENOBUFS);
        std::lock_guard lock(g_socketsMutex);
        g_sockets[m_hSocket] = this;
    } else {
        std::lock_guard lock(g_socketsMutex);
        g_sockets.erase(m_hSocket);
    }
    SocketWatcher::Instance().Select(FdOf(m_hSocket), window, lEvent);
    return TRUE;
}

BOOL CAsyncSocket::SetSockOpt(int nOptionName, const void* lpOptionValue, int nOptionLen, int nLevel) {
    if (m_hSocket == INVALID_SOCKET)
        return Failed(WSAENOTSOCK);
    if (int error = platform::net::host::SetOption(FdOf(m_hSocket), nLevel, nOptionName, lpOptionValue, nOptionLen))
        return Failed(error);
    return TRUE;
}

BOOL CAsyncSocket::GetSockOpt(int nOptionName, void* lpOptionValue, int* lpOptionLen, int nLevel) {
    if (m_hSocket == INVALID_SOCKET)
        return Failed(WSAENOTSOCK);
    if (!lpOptionLen)
        return Failed(WSAEFAULT);
    if (int error = platform::net::host::GetOption(FdOf(m_hSocket), nLevel, nOptionName, lpOptionValue, *lpOptionLen))
        return Failed(error);
    return TRUE;
}

BOOL CAsyncSocket::GetSockName(CString& rSocketAddress, UINT& rSocketPort) {
    if (m_hSocket == INVALID_SOCKET)
        return Failed(WSAENOTSOCK);
    std::string address;
    unsigned port = 0;
    if (int error = platform::net::host::LocalName(FdOf(m_hSocket), address, port))
        return Failed(error);
    rSocketAddress = CString(platform::Utf8ToUtf16(address));
    rSocketPort = port;
    return TRUE;
}

int CAsyncSocket::SendTo(const void* lpBuf, int nBufLen, UINT nHostPort, LPCTSTR lpszHostAddress, int nFlags) {
    if (m_hSocket == INVALID_SOCKET)
        return Failed(WSAENOTSOCK), SOCKET_ERROR;
    if (nFlags != 0 || nBufLen < 0 || (!lpBuf && nBufLen > 0))
        return Failed(WSAEINVAL), SOCKET_ERROR;
    // No address sends to the broadcast address, as the framework does.
    const std::string address = lpszHostAddress ? platform::Utf16ToUtf8(lpszHostAddress) : "255.255.255.255";
    size_t sent = 0;
    const int error =
        platform::net::host::SendTo(FdOf(m_hSocket), lpBuf, static_cast<size_t>(nBufLen), address, nHostPort, sent);
    if (error) {
        if (error == WSAEWOULDBLOCK)
            SocketWatcher::Instance().Rearm(FdOf(m_hSocket), FD_WRITE);
        return Failed(error), SOCKET_ERROR;
    }
    return static_cast<int>(sent);
}

int CAsyncSocket::ReceiveFrom(void* lpBuf, int nBufLen, CString& rSocketAddress, UINT& rSocketPort, int nFlags) {
    if (m_hSocket == INVALID_SOCKET)
        return Failed(WSAENOTSOCK), SOCKET_ERROR;
    if (nFlags != 0 || nBufLen < 0 || (!lpBuf && nBufLen > 0))
        return Failed(WSAEINVAL), SOCKET_ERROR;
    size_t received = 0;
    std::string address;
    unsigned port = 0;
    const int error =
        platform::net::host::ReceiveFrom(FdOf(m_hSocket), lpBuf, static_cast<size_t>(nBufLen), received, address, port);
    // A receive enables the next FD_READ, whatever it found.
    SocketWatcher::Instance().Rearm(FdOf(m_hSocket), FD_READ);
    if (error != 0 && error != WSAEMSGSIZE)
        return Failed(error), SOCKET_ERROR;
    rSocketAddress = CString(platform::Utf8ToUtf16(address));
    rSocketPort = port;
    if (error)
        return Failed(error), SOCKET_ERROR;
    return static_cast<int>(received);
}

void CAsyncSocket::Close() {
    if (m_hSocket == INVALID_SOCKET)
        return;
    const int fd = FdOf(m_hSocket);
    SocketWatcher::Instance().Remove(fd);
    {
        std::lock_guard lock(g_socketsMutex);
        auto it = g_sockets.find(m_hSocket);
        if (it != g_sockets.end() && it->second == this)
            g_sockets.erase(it);
    }
    platform::net::host::CloseSocket(fd);
    m_hSocket = INVALID_SOCKET;
}

void CAsyncSocket::Dispatch(long event, int error) {
    switch (event) {
    case FD_READ:
        OnReceive(error);
        break;
    case FD_WRITE:
        OnSend(error);
        break;
    case FD_OOB:
        OnOutOfBandData(error);
        break;
    case FD_ACCEPT:
        OnAccept(error);
        break;
    case FD_CONNECT:
        OnConnect(error);
        break;
    case FD_CLOSE:
        OnClose(error);
        break;
    default:
        break;
    }
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
