// The window broker: publishing this process's top-level windows and reaching the windows of other processes.

#include "platform/ui/broker.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/ui/broker_internal.h"
#include "platform/ui/ui_internal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform::ui::broker {

namespace {

constexpr uint32_t kMagic = 0x57424B31; // "WBK1"

enum class Op : uint32_t { Post = 1, Send = 2, Show = 3, Foreground = 4, BringToTop = 5 };

struct Request {
    uint32_t magic;
    uint32_t op;
    uint64_t hwnd;
    uint32_t msg;
    uint32_t flags;
    uint64_t wParam;
    int64_t lParam;
    uint32_t timeout;
    int32_t arg;
};

struct Response {
    uint32_t ok;
    uint32_t error;
    int64_t result;
};

DWORD PidOf(HWND hwnd) {
    return static_cast<DWORD>(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hwnd)) >> 32);
}

HWND HwndOf(uint64_t value) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

uint64_t ValueOf(HWND hwnd) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hwnd));
}

// Start time of a process (clock ticks since boot), 0 when the process does not exist or is a zombie.
uint64_t ProcessStartTime(DWORD pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return 0;
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    // Fields after the command name: state is the first (field 3), start time is field 22.
    std::string state;
    rest >> state;
    if (state == "Z" || state == "X")
        return 0;
    for (int i = 4; i < 22; ++i)
        rest >> field;
    uint64_t start = 0;
    rest >> start;
    return start;
}

std::string Escape(const std::u16string& s) {
    const std::string utf8 = Utf16ToUtf8(s);
    std::string out = "=";
    for (unsigned char c : utf8) {
        if (c > 0x20 && c < 0x7F && c != '%') {
            out += static_cast<char>(c);
        } else {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%%%02X", c);
            out += buffer;
        }
    }
    return out;
}

std::u16string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return Utf8ToUtf16(out);
}

struct Published {
    uint64_t startTime = 0;
    std::vector<WindowEntry> windows;
};

bool ParseFile(const std::string& path, DWORD pid, Published& out) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string kind;
        ls >> kind;
        if (kind == "process") {
            DWORD filePid = 0;
            ls >> filePid >> out.startTime;
            if (filePid != pid)
                return false;
        } else if (kind == "window") {
            WindowEntry e;
            uint64_t hwnd = 0, owner = 0, popup = 0;
            std::string cls, title;
            ls >> std::hex >> hwnd >> std::dec >> e.threadId >> std::hex >> e.style >> e.exStyle >> owner >> popup >>
                std::dec >> cls >> title;
            e.hwnd = HwndOf(hwnd);
            e.owner = HwndOf(owner);
            e.lastActivePopup = HwndOf(popup);
            e.processId = pid;
            e.className = Unescape(cls);
            e.title = Unescape(title);
            out.windows.push_back(std::move(e));
        } else if (kind == "prop" && !out.windows.empty()) {
            std::string name;
            uint64_t value = 0;
            ls >> name >> std::hex >> value;
            out.windows.back().properties.emplace_back(Unescape(name), static_cast<ULONG_PTR>(value));
        }
    }
    return out.startTime != 0;
}

std::string FilePath(const std::string& folder, DWORD pid) {
    return folder + "/" + std::to_string(pid) + ".windows";
}

std::string SocketPath(const std::string& folder, DWORD pid) {
    return folder + "/" + std::to_string(pid) + ".sock";
}

// The address of a process's socket: the file in the broker folder, or, when that path is too long for a Unix
// socket address, an abstract name derived from it.
socklen_t SocketAddress(const std::string& folder, DWORD pid, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string path = SocketPath(folder, pid);
    if (path.size() < sizeof(addr.sun_path)) {
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    }
    const std::string name = "winlayer-broker-" + std::to_string(std::hash<std::string>{}(path));
    std::memcpy(addr.sun_path + 1, name.c_str(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

void RemoveProcessEntries(const std::string& folder, DWORD pid) {
    ::unlink(FilePath(folder, pid).c_str());
    ::unlink(SocketPath(folder, pid).c_str());
}

bool ReadAll(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

class Broker {
public:
    static Broker& Get() {
        // Never destroyed: request threads may still run while the process exits. Exit cleanup is done by
        // ExitCleanup below.
        static Broker* b = new Broker;
        return *b;
    }

    std::string Folder() {
        const std::string folder = machine::PathOf("broker");
        ::mkdir(folder.c_str(), 0700);
        return folder;
    }

    void Publish() {
        std::lock_guard lock(m_publishMutex);
        const auto windows = LocalPublishedWindows();
        if (!m_started) {
            if (windows.empty())
                return;
            if (!StartLocked())
                return;
        }
        std::ostringstream out;
        out << "process " << CurrentProcessId() << ' ' << m_startTime << '\n';
        for (const auto& e : windows) {
            out << "window " << std::hex << ValueOf(e.hwnd) << std::dec << ' ' << e.threadId << ' ' << std::hex
                << e.style << ' ' << e.exStyle << ' ' << ValueOf(e.owner) << ' ' << ValueOf(e.lastActivePopup)
                << std::dec << ' ' << Escape(e.className) << ' ' << Escape(e.title) << '\n';
            for (const auto& [name, value] : e.properties)
                out << "prop " << Escape(name) << ' ' << std::hex << static_cast<uint64_t>(value) << std::dec << '\n';
        }
        const std::string path = FilePath(m_folder, CurrentProcessId());
        const std::string tmp = path + ".tmp";
        {
            std::ofstream file(tmp, std::ios::trunc);
            file << out.str();
            file.flush();
            if (!file)
                return;
        }
        ::rename(tmp.c_str(), path.c_str());
    }

    // Another process's entries, after checking that it still lives.
    bool ReadProcess(DWORD pid, Published& out) {
        const std::string folder = Folder();
        if (!ParseFile(FilePath(folder, pid), pid, out))
            return false;
        if (ProcessStartTime(pid) != out.startTime) {
            RemoveProcessEntries(folder, pid);
            return false;
        }
        return true;
    }

    std::vector<WindowEntry> Remote() {
        std::vector<WindowEntry> out;
        const std::string folder = Folder();
        std::vector<DWORD> pids;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (dirent* d = ::readdir(dir)) {
                const std::string name = d->d_name;
                const size_t dot = name.find(".windows");
                if (dot == std::string::npos || dot + 8 != name.size())
                    continue;
                const DWORD pid = static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 10));
                if (pid && pid != CurrentProcessId())
                    pids.push_back(pid);
            }
            ::closedir(dir);
        }
        std::sort(pids.begin(), pids.end());
        for (DWORD pid : pids) {
            Published p;
            if (!ReadProcess(pid, p)) {
                // A file without a live owner (or a stale one of a dead process) is cleaned up.
                Published stale;
                if (!ParseFile(FilePath(folder, pid), pid, stale) || ProcessStartTime(pid) != stale.startTime)
                    RemoveProcessEntries(folder, pid);
                continue;
            }
            for (auto& e : p.windows)
                out.push_back(std::move(e));
        }
        return out;
    }

    // Connects to the process owning `hwnd`; -1 with the last error set when it is gone.
    int Connect(HWND hwnd) {
        const DWORD pid = PidOf(hwnd);
        Published p;
        if (!ReadProcess(pid, p)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            FailErrno();
            return -1;
        }
        sockaddr_un addr;
        const socklen_t len = SocketAddress(Folder(), pid, addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
            ::close(fd);
            // The process lives but does not listen: it exited its window system or is about to die.
            if (errno == ECONNREFUSED || errno == ENOENT)
                RemoveProcessEntries(Folder(), pid);
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        return fd;
    }

    void OnReset() {
        Stop();
        Publish();
    }

    void Stop() {
        std::thread listener;
        {
            std::lock_guard lock(m_publishMutex);
            if (!m_started)
                return;
            m_started = false;
            if (m_wakeWrite >= 0) {
                const char c = 'x';
                (void)!::write(m_wakeWrite, &c, 1);
            }
            listener = std::move(m_listener);
        }
        if (listener.joinable())
            listener.join();
        std::lock_guard lock(m_publishMutex);
        ::close(m_listenFd);
        ::close(m_wakeRead);
        ::close(m_wakeWrite);
        m_listenFd = m_wakeRead = m_wakeWrite = -1;
        RemoveProcessEntries(m_folder, CurrentProcessId());
    }

private:
    bool StartLocked() {
        static const bool registered = [] {
            machine::AddResetListener([] { Broker::Get().OnReset(); });
            return true;
        }();
        (void)registered;
        m_folder = Folder();
        m_startTime = ProcessStartTime(CurrentProcessId());
        const DWORD pid = CurrentProcessId();
        ::unlink(SocketPath(m_folder, pid).c_str());
        m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listenFd < 0)
            return false;
        sockaddr_un addr;
        const socklen_t len = SocketAddress(m_folder, pid, addr);
        if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(m_listenFd, 64) != 0) {
            ::close(m_listenFd);
            m_listenFd = -1;
            return false;
        }
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            ::close(m_listenFd);
            m_listenFd = -1;
            return false;
        }
        m_wakeRead = pipeFds[0];
        m_wakeWrite = pipeFds[1];
        m_started = true;
        m_listener = std::thread([this, listenFd = m_listenFd, wake = m_wakeRead] { Listen(listenFd, wake); });
        return true;
    }

    void Listen(int listenFd, int wake) {
        for (;;) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            // Each request runs on its own thread: a send may block until the window's thread answers.
            std::thread([fd] {
                Serve(fd);
                ::close(fd);
            }).detach();
        }
    }

    static void Serve(int fd) {
        Request rq{};
        if (!ReadAll(fd, &rq, sizeof rq) || rq.magic != kMagic)
            return;
        Response rs{};
        const HWND hwnd = HwndOf(rq.hwnd);
        if (PidOf(hwnd) != CurrentProcessId() || !FindLiveWindow(hwnd)) {
            rs.ok = 0;
            rs.error = ERROR_INVALID_WINDOW_HANDLE;
            WriteAll(fd, &rs, sizeof rs);
            return;
        }
        SetLastError(ERROR_SUCCESS);
        bool ok = false;
        LRESULT result = 0;
        switch (static_cast<Op>(rq.op)) {
        case Op::Post:
            ok = PostMessageW(hwnd, rq.msg, static_cast<WPARAM>(rq.wParam), static_cast<LPARAM>(rq.lParam)) != 0;
            break;
        case Op::Send: {
            DWORD_PTR r = 0;
            ok = SendMessageTimeoutW(hwnd, rq.msg, static_cast<WPARAM>(rq.wParam), static_cast<LPARAM>(rq.lParam),
                                     rq.flags, rq.timeout, &r) != 0;
            result = static_cast<LRESULT>(r);
            break;
        }
        case Op::Show: {
            const int cmd = rq.arg;
            result = RunOnWindowThread(
                hwnd, [hwnd, cmd] { return static_cast<LRESULT>(ShowWindowLocal(hwnd, cmd)); }, ok);
            break;
        }
        case Op::Foreground:
            result = RunOnWindowThread(
                hwnd, [hwnd] { return static_cast<LRESULT>(SetForegroundLocal(hwnd)); }, ok);
            ok = ok && result;
            break;
        case Op::BringToTop:
            result = RunOnWindowThread(
                hwnd, [hwnd] { return static_cast<LRESULT>(BringToTopLocal(hwnd)); }, ok);
            ok = ok && result;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            break;
        }
        rs.ok = ok ? 1 : 0;
        rs.error = ok ? 0 : GetLastError();
        rs.result = result;
        WriteAll(fd, &rs, sizeof rs);
    }

    std::mutex m_publishMutex;
    bool m_started = false;
    std::string m_folder;
    uint64_t m_startTime = 0;
    int m_listenFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::thread m_listener;
};

// Removes this process's entries when it exits normally; a crash leaves them for the readers to clean up.
struct ExitCleanup {
    ~ExitCleanup() { Broker::Get().Stop(); }
} g_exitCleanup;

// One request to another process. The calling thread waits like a cross-thread SendMessageW: it serves messages
// sent to it meanwhile (unless `block`), so two processes sending to each other do not deadlock.
bool Transact(HWND hwnd, const Request& rq, Response& rs, bool block) {
    const int fd = Broker::Get().Connect(hwnd);
    if (fd < 0)
        return false;
    if (!WriteAll(fd, &rq, sizeof rq)) {
        ::close(fd);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    struct Shared {
        std::atomic<bool> done{false};
        bool ok = false;
        Response rs{};
    };
    auto shared = std::make_shared<Shared>();
    const QueuePtr self = CurrentQueue();
    const DWORD selfId = self->threadId;
    std::thread reader([fd, shared, selfId] {
        shared->ok = ReadAll(fd, &shared->rs, sizeof shared->rs);
        shared->done.store(true);
        WakeThread(selfId);
    });
    {
        char what[96];
        std::snprintf(what, sizeof what, "a request to process %u (message %#x)", static_cast<unsigned>(PidOf(hwnd)),
                      rq.msg);
        DeadlockGuard guard(what);
        for (;;) {
            if (shared->done.load())
                break;
            bool serve = false;
            if (!block) {
                std::lock_guard lock(self->mutex);
                serve = !self->incoming.empty();
            }
            if (serve) {
                ServeSentMessages(self);
                continue;
            }
            WaitOptions options;
            options.extraReady = [&] {
                if (shared->done.load())
                    return true;
                if (block)
                    return false;
                std::lock_guard lock(self->mutex);
                return !self->incoming.empty();
            };
            WaitForObjects(0, nullptr, INFINITE, options);
        }
    }
    reader.join();
    ::close(fd);
    if (!shared->ok) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    rs = shared->rs;
    if (!rs.ok) {
        SetLastError(rs.error);
        return false;
    }
    return true;
}

Request MakeRequest(Op op, HWND hwnd) {
    Request rq{};
    rq.magic = kMagic;
    rq.op = static_cast<uint32_t>(op);
    rq.hwnd = ValueOf(hwnd);
    return rq;
}

std::string ForegroundPath() {
    return Broker::Get().Folder() + "/foreground";
}

std::mutex& ForegroundMutex() {
    static auto* m = new std::mutex;
    return *m;
}

} // namespace

std::vector<WindowEntry> RemoteWindows() {
    return Broker::Get().Remote();
}

bool FindRemoteWindow(HWND hwnd, WindowEntry& entry) {
    Published p;
    if (!Broker::Get().ReadProcess(PidOf(hwnd), p))
        return false;
    for (auto& e : p.windows) {
        if (e.hwnd == hwnd) {
            entry = std::move(e);
            return true;
        }
    }
    return false;
}

bool RemotePost(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Request rq = MakeRequest(Op::Post, hwnd);
    rq.msg = msg;
    rq.wParam = wParam;
    rq.lParam = lParam;
    Response rs{};
    return Transact(hwnd, rq, rs, true);
}

bool RemoteSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT smtoFlags, DWORD timeoutMs, LRESULT& result) {
    Request rq = MakeRequest(Op::Send, hwnd);
    rq.msg = msg;
    rq.wParam = wParam;
    rq.lParam = lParam;
    rq.flags = smtoFlags;
    rq.timeout = timeoutMs;
    Response rs{};
    result = 0;
    if (!Transact(hwnd, rq, rs, (smtoFlags & SMTO_BLOCK) != 0))
        return false;
    result = static_cast<LRESULT>(rs.result);
    return true;
}

bool RemoteShowWindow(HWND hwnd, int cmdShow, BOOL& wasVisible) {
    Request rq = MakeRequest(Op::Show, hwnd);
    rq.arg = cmdShow;
    Response rs{};
    if (!Transact(hwnd, rq, rs, false))
        return false;
    wasVisible = rs.result ? TRUE : FALSE;
    return true;
}

bool RemoteSetForeground(HWND hwnd) {
    Response rs{};
    return Transact(hwnd, MakeRequest(Op::Foreground, hwnd), rs, false);
}

bool RemoteBringToTop(HWND hwnd) {
    Response rs{};
    return Transact(hwnd, MakeRequest(Op::BringToTop, hwnd), rs, false);
}

void PublishChanged() {
    Broker::Get().Publish();
}

std::string Folder() {
    return Broker::Get().Folder();
}

void SetSessionForeground(HWND hwnd) {
    std::lock_guard lock(ForegroundMutex());
    const std::string path = ForegroundPath();
    const std::string tmp = path + ".tmp" + std::to_string(CurrentProcessId());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << std::hex << ValueOf(hwnd) << '\n';
    }
    ::rename(tmp.c_str(), path.c_str());
}

HWND SessionForeground() {
    std::lock_guard lock(ForegroundMutex());
    std::ifstream in(ForegroundPath());
    uint64_t value = 0;
    if (!(in >> std::hex >> value))
        return nullptr;
    return HwndOf(value);
}

void ForegroundGone(HWND gone, HWND next) {
    if (SessionForeground() != gone)
        return;
    if (next) {
        SetSessionForeground(next);
        return;
    }
    std::lock_guard lock(ForegroundMutex());
    ::unlink(ForegroundPath().c_str());
}

} // namespace platform::ui::broker
