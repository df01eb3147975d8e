#include "platform/system/processes.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/system/command_line.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr DWORD kErrorBadExeFormat = 193;
constexpr DWORD kModuleReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

int PidfdOpen(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}
int PidfdSignal(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// The life of one host process as this process sees it. Shared by every handle that names the process.
// `exited` and `exitCode` change under the wait lock, so that waits see them atomically.
struct ProcessState {
    ProcessState(pid_t processId, bool isChild, int fd) : pid(processId), child(isChild), pidfd(fd) {}
    ~ProcessState();
    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

    void OnExit();

    const pid_t pid;
    const bool child;   // started here: reaped here, its exit status known
    const int pidfd;    // -1 for this process itself
    uint64_t watch = 0; // registration with the watcher
    std::atomic<int64_t> terminatedWith{-1};
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
    std::vector<std::weak_ptr<platform::KernelObject>> objects; // to wake when the process ends
};

// One thread for the whole process waits on every watched process's pidfd and records its end.
class Watcher {
public:
    static Watcher& Get() {
        static auto* watcher = new Watcher; // never destroyed: its thread runs for the life of the process
        return *watcher;
    }

    // Children are kept alive until they end so that they are always reaped; others only while handles exist.
    bool Add(const std::shared_ptr<ProcessState>& state) {
        if (m_epoll < 0)
            return false;
        std::lock_guard lock(m_mutex);
        const uint64_t id = m_next++;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = id;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, state->pidfd, &event) != 0)
            return false;
        state->watch = id;
        Entry entry;
        entry.weak = state;
        if (state->child)
            entry.strong = state;
        m_entries.emplace(id, std::move(entry));
        return true;
    }

    void Remove(uint64_t id, int pidfd) {
        std::lock_guard lock(m_mutex);
        if (m_entries.erase(id))
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, pidfd, nullptr);
    }

private:
    struct Entry {
        std::weak_ptr<ProcessState> weak;
        std::shared_ptr<ProcessState> strong;
    };

    Watcher() {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll >= 0)
            std::thread([this] { Run(); }).detach();
    }

    void Run() {
        epoll_event events[16];
        while (true) {
            const int count = epoll_wait(m_epoll, events, 16, -1);
            if (count < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            std::vector<std::shared_ptr<ProcessState>> ended;
            {
                std::lock_guard lock(m_mutex);
                for (int i = 0; i < count; ++i) {
                    auto found = m_entries.find(events[i].data.u64);
                    if (found == m_entries.end())
                        continue;
                    auto state = found->second.strong ? found->second.strong : found->second.weak.lock();
                    if (state)
                        epoll_ctl(m_epoll, EPOLL_CTL_DEL, state->pidfd, nullptr);
                    m_entries.erase(found);
                    if (state)
                        ended.push_back(std::move(state));
                }
            }
            // Outside the lock: dropping the last reference unregisters (a no-op by now) and closes the pidfd.
            for (auto& state : ended)
                state->OnExit();
        }
    }

    int m_epoll = -1;
    std::mutex m_mutex;
    std::map<uint64_t, Entry> m_entries;
    uint64_t m_next = 1;
};

ProcessState::~ProcessState() {
    if (watch)
        Watcher::Get().Remove(watch, pidfd);
    if (pidfd >= 0)
        close(pidfd);
}

// The status of a zombie that another process has not reaped yet, as /proc still shows it.
std::optional<DWORD> ZombieExitCode(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return std::nullopt;
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // Fields after the name start at number 3; the exit status is number 52.
    for (int number = 3; fields >> field; ++number) {
        if (number == 52) {
            const int status = std::atoi(field.c_str());
            if (WIFEXITED(status))
                return static_cast<DWORD>(WEXITSTATUS(status));
            if (WIFSIGNALED(status))
                return static_cast<DWORD>(128 + WTERMSIG(status));
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void ProcessState::OnExit() {
    const int64_t terminated = terminatedWith.load();
    DWORD code = 0;
    if (child) {
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) != 0 && errno == EINTR) {
        }
        if (info.si_code == CLD_EXITED)
            code = static_cast<DWORD>(info.si_status);
        else if (terminated >= 0)
            code = static_cast<DWORD>(terminated);
        else
            code = static_cast<DWORD>(128 + info.si_status);
    } else if (terminated >= 0) {
        code = static_cast<DWORD>(terminated);
    } else {
        code = ZombieExitCode(pid).value_or(0);
    }
    std::vector<std::shared_ptr<platform::KernelObject>> toWake;
    platform::WaitLock lock;
    exited = true;
    exitCode = code;
    for (auto& weak : objects) {
        if (auto object = weak.lock())
            toWake.push_back(std::move(object));
    }
    for (auto& object : toWake)
        object->WakeWaiters();
    // `toWake` is released after the lock: it is declared before it.
}

// A process handle: signalled when the process has ended.
class ProcessObject : public platform::KernelObject {
public:
    ProcessObject(std::shared_ptr<ProcessState> state, DWORD access) : m_state(std::move(state)), m_access(access) {}
    const char* TypeName() const override { return "Process"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return m_state->exited; }

    const std::shared_ptr<ProcessState>& State() const { return m_state; }
    DWORD Access() const { return m_access; }

private:
    std::shared_ptr<ProcessState> m_state;
    DWORD m_access;
};

// The main-thread handle of a started process: it ends with the process.
class MainThreadObject : public platform::KernelObject {
public:
    explicit MainThreadObject(std::shared_ptr<ProcessState> state) : m_state(std::move(state)) {}
    const char* TypeName() const override { return "Thread"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return m_state->exited; }

private:
    std::shared_ptr<ProcessState> m_state;
};

void Attach(const std::shared_ptr<ProcessState>& state, const std::shared_ptr<platform::KernelObject>& object) {
    platform::WaitLock lock;
    // Handles come and go while the process runs (a process test opens every process each time): drop the
    // objects that are gone so that the list stays as long as the handles that exist.
    std::erase_if(state->objects, [](const auto& weak) { return weak.expired(); });
    state->objects.push_back(object);
}

// Processes started here, so that opening one again shares what is known about it.
struct Children {
    std::mutex mutex;
    std::map<pid_t, std::weak_ptr<ProcessState>> byPid;
};
Children& GetChildren() {
    static auto* children = new Children;
    return *children;
}

const std::shared_ptr<ProcessObject>& SelfObject() {
    static auto* self = new std::shared_ptr<ProcessObject>(
        std::make_shared<ProcessObject>(std::make_shared<ProcessState>(getpid(), false, -1), PROCESS_ALL_ACCESS));
    return *self;
}

// The process a handle names (the pseudo-handle of GetCurrentProcess included), checked for `access`.
std::shared_ptr<ProcessObject> ProcessOf(HANDLE handle, DWORD access) {
    std::shared_ptr<ProcessObject> object;
    if (reinterpret_cast<intptr_t>(handle) == platform::kCurrentProcessPseudoHandle)
        object = SelfObject();
    else
        object = platform::LookupHandleAs<ProcessObject>(handle);
    if (!object)
        return nullptr;
    if ((object->Access() & access) != access) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return object;
}

bool Exited(const ProcessState& state) {
    platform::WaitLock lock;
    return state.exited;
}

std::string ProcPath(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::optional<std::string> ProgramPath(pid_t pid) {
    char target[PATH_MAX];
    const ssize_t length = readlink(ProcPath(pid, "exe").c_str(), target, sizeof target - 1);
    if (length <= 0)
        return std::nullopt;
    std::string path(target, static_cast<size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.resize(path.size() - kDeleted.size());
    return path;
}

struct Module {
    uintptr_t base;
    std::string path;
};

// The files mapped executable into a process, each at its lowest address; the program first.
DWORD ListModules(pid_t pid, std::vector<Module>& modules) {
    std::ifstream maps(ProcPath(pid, "maps"));
    if (!maps)
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PARTIAL_COPY;
    std::map<std::string, uintptr_t> lowest;
    std::map<std::string, bool> executable;
    std::vector<std::string> order;
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode;
        std::getline(fields >> std::ws, path);
        if (path.empty() || path[0] != '/')
            continue;
        const uintptr_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        if (!lowest.count(path)) {
            lowest[path] = start;
            order.push_back(path);
        }
        if (permissions.find('x') != std::string::npos)
            executable[path] = true;
    }
    const auto program = ProgramPath(pid);
    if (!program || !lowest.count(*program))
        return ERROR_PARTIAL_COPY;
    modules.clear();
    modules.push_back({lowest[*program], *program});
    for (const auto& path : order) {
        if (path != *program && executable[path])
            modules.push_back({lowest[path], path});
    }
    return ERROR_SUCCESS;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

BOOL EnumProcesses(DWORD* processIds, DWORD size, DWORD* bytesReturned) {
    if (!bytesReturned || (!processIds && size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DIR* proc = opendir("/proc");
    if (!proc) {
        platform::FailErrno();
        return FALSE;
    }
    std::vector<DWORD> ids;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(entry->d_name, &end, 10);
        if (*end == '\0' && end != entry->d_name)
            ids.push_back(static_cast<DWORD>(id));
    }
    closedir(proc);
    std::sort(ids.begin(), ids.end());
    const size_t room = std::min<size_t>(ids.size(), size / sizeof(DWORD));
    std::copy(ids.begin(), ids.begin() + static_cast<ptrdiff_t>(room), processIds);
    *bytesReturned = static_cast<DWORD>(room * sizeof(DWORD));
    return TRUE;
}

HANDLE OpenProcess(DWORD desiredAccess, BOOL, DWORD processId) {
    const auto pid = static_cast<pid_t>(processId);
    struct stat info {};
    if (processId == 0 || processId > INT_MAX || stat(ProcPath(pid, "").c_str(), &info) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // /proc also answers for thread ids; only a thread-group leader is a process.
    {
        std::ifstream status(ProcPath(pid, "status"));
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Tgid:", 0) == 0) {
                if (std::atol(line.c_str() + 5) != pid) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return nullptr;
                }
                break;
            }
        }
    }
    const DWORD access = desiredAccess == MAXIMUM_ALLOWED ? PROCESS_ALL_ACCESS : desiredAccess;
    if (info.st_uid != geteuid() && geteuid() != 0 && (access & ~(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }

    std::shared_ptr<ProcessState> state;
    if (pid == getpid()) {
        state = SelfObject()->State();
    } else {
        Children& children = GetChildren();
        std::lock_guard lock(children.mutex);
        auto found = children.byPid.find(pid);
        if (found != children.byPid.end())
            state = found->second.lock();
        if (state && Exited(*state))
            state.reset();
    }
    if (!state) {
        const int pidfd = PidfdOpen(pid);
        if (pidfd < 0) {
            SetLastError(errno == ESRCH ? ERROR_INVALID_PARAMETER : platform::Win32ErrorFromErrno(errno));
            return nullptr;
        }
        state = std::make_shared<ProcessState>(pid, false, pidfd);
        if (!Watcher::Get().Add(state)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    auto object = std::make_shared<ProcessObject>(state, access);
    Attach(state, object);
    return platform::InsertHandle(object);
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed) {
    if (!needed || (!modules && size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto object = ProcessOf(process, kModuleReadAccess);
    if (!object)
        return FALSE;
    std::vector<Module> list;
    if (DWORD error = Exited(*object->State()) ? ERROR_PARTIAL_COPY : ListModules(object->State()->pid, list)) {
        SetLastError(error);
        return FALSE;
    }
    const size_t room = std::min<size_t>(list.size(), size / sizeof(HMODULE));
    for (size_t i = 0; i < room; ++i)
        modules[i] = reinterpret_cast<HMODULE>(list[i].base);
    *needed = static_cast<DWORD>(list.size() * sizeof(HMODULE));
    return TRUE;
}

DWORD GetModuleBaseNameW(HANDLE process, HMODULE module, LPWSTR baseName, DWORD size) {
    if (!baseName || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    auto object = ProcessOf(process, kModuleReadAccess);
    if (!object)
        return 0;
    const pid_t pid = object->State()->pid;
    std::string name;
    if (!module) {
        if (auto program = ProgramPath(pid)) {
            name = BaseName(*program);
        } else {
            // A process whose program cannot be read any more (it is ending) still has its name in comm.
            std::ifstream comm(ProcPath(pid, "comm"));
            if (!std::getline(comm, name) || name.empty()) {
                SetLastError(ERROR_PARTIAL_COPY);
                return 0;
            }
        }
    } else {
        std::vector<Module> list;
        if (DWORD error = ListModules(pid, list)) {
            SetLastError(error);
            return 0;
        }
        const auto base = reinterpret_cast<uintptr_t>(module);
        auto found = std::find_if(list.begin(), list.end(), [&](const Module& m) { return m.base == base; });
        if (found == list.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        name = BaseName(found->path);
    }
    return static_cast<DWORD>(platform::CopyTruncated(baseName, size, platform::Utf8ToUtf16(name)));
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    auto object = ProcessOf(process, PROCESS_TERMINATE);
    if (!object)
        return FALSE;
    const auto& state = object->State();
    if (state->pid == getpid())
        std::_Exit(static_cast<int>(exitCode));
    if (Exited(*state)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int64_t none = -1;
    state->terminatedWith.compare_exchange_strong(none, static_cast<int64_t>(exitCode));
    if (PidfdSignal(state->pidfd, SIGKILL) != 0 && errno != ESRCH) {
        platform::FailErrno();
        return FALSE;
    }
    return TRUE;
}

DWORD GetProcessId(HANDLE process) {
    const auto object = ProcessOf(process, 0);
    return object ? static_cast<DWORD>(object->State()->pid) : 0;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto object = ProcessOf(process, 0);
    if (!object)
        return FALSE;
    if (!(object->Access() & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    platform::WaitLock lock;
    *exitCode = object->State()->exitCode;
    return TRUE;
}

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool HasExtension(std::u16string_view name) {
    const size_t slash = name.find_last_of(u"\\/");
    const size_t dot = name.rfind(u'.');
    return dot != std::u16string_view::npos && (slash == std::u16string_view::npos || dot > slash);
}

// The spellings a program name is tried in: as given, with ".exe" when it has no extension, without a ".exe".
std::vector<std::u16string> Spellings(std::u16string_view name) {
    std::vector<std::u16string> spellings{std::u16string(name)};
    if (!HasExtension(name))
        spellings.push_back(std::u16string(name) + u".exe");
    else if (name.size() > 4 && platform::EqualsNoCase(name.substr(name.size() - 4), u".exe"))
        spellings.emplace_back(name.substr(0, name.size() - 4));
    return spellings;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Finds the host file of a program named by a Windows path or, without a folder, by its name: beside this program,
// in the current directory, then along the host's PATH.
std::optional<std::string> FindProgram(std::u16string_view name) {
    if (name.empty())
        return std::nullopt;
    const bool hasFolder = name.find_first_of(u"\\/:") != std::u16string_view::npos;
    for (const auto& spelling : Spellings(name)) {
        if (hasFolder) {
            auto host = platform::fs::ToHost(spelling.c_str());
            if (host && host->kind == platform::fs::PathKind::File && IsExecutableFile(host->path))
                return host->path;
            continue;
        }
        const std::string file = platform::Utf16ToUtf8(spelling);
        std::vector<std::string> folders{Folder(platform::ModuleHostPath(nullptr))};
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd))
            folders.emplace_back(cwd);
        if (const char* path = std::getenv("PATH")) {
            std::string_view rest(path);
            while (!rest.empty()) {
                const size_t colon = rest.find(':');
                if (colon != 0)
                    folders.emplace_back(rest.substr(0, colon));
                if (colon == std::string_view::npos)
                    break;
                rest.remove_prefix(colon + 1);
            }
        }
        for (const auto& folder : folders) {
            if (IsExecutableFile(folder + "/" + file))
                return folder + "/" + file;
        }
    }
    return std::nullopt;
}

// The program of a command line without an application name: a quoted first token, or the shortest run of
// blank-separated tokens that names an existing program ("C:\Program Files\x.exe" unquoted).
std::optional<std::string> ProgramOfCommandLine(std::u16string_view commandLine) {
    size_t i = commandLine.find_first_not_of(u" \t");
    if (i == std::u16string_view::npos)
        return std::nullopt;
    if (commandLine[i] == u'"') {
        const size_t close = commandLine.find(u'"', i + 1);
        return FindProgram(commandLine.substr(i + 1, close == std::u16string_view::npos ? close : close - i - 1));
    }
    size_t end = i;
    while (end < commandLine.size()) {
        end = commandLine.find_first_of(u" \t", end);
        if (end == std::u16string_view::npos)
            end = commandLine.size();
        if (auto found = FindProgram(commandLine.substr(i, end - i)))
            return found;
        end = commandLine.find_first_not_of(u" \t", end);
        if (end == std::u16string_view::npos)
            break;
    }
    return std::nullopt;
}

constexpr const char* kCommandLineVariable = "WINLAYER_CMDLINE";
constexpr const char* kMachineVariable = "WINLAYER_MACHINE";

std::vector<std::string> ChildEnvironment(LPVOID block, bool unicode, const std::u16string& commandLine) {
    std::vector<std::string> entries;
    if (!block) {
        for (char** entry = environ; entry && *entry; ++entry)
            entries.emplace_back(*entry);
    } else if (unicode) {
        for (auto* text = static_cast<const char16_t*>(block); *text;
             text += std::char_traits<char16_t>::length(text) + 1)
            entries.push_back(platform::Utf16ToUtf8(text));
    } else {
        for (auto* text = static_cast<const char*>(block); *text; text += std::strlen(text) + 1)
            entries.emplace_back(text);
    }
    auto named = [](const std::string& entry, const char* name) {
        const size_t length = std::strlen(name);
        return entry.size() > length && entry.compare(0, length, name) == 0 && entry[length] == '=';
    };
    // The child belongs to the same machine whatever environment it is given.
    if (const char* machine = std::getenv(kMachineVariable);
        machine &&
        std::none_of(entries.begin(), entries.end(), [&](const std::string& e) { return named(e, kMachineVariable); }))
        entries.push_back(std::string(kMachineVariable) + "=" + machine);
    std::erase_if(entries, [&](const std::string& e) { return named(e, kCommandLineVariable); });
    entries.push_back(std::string(kCommandLineVariable) + "=" + platform::Utf16ToUtf8(commandLine));
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A file descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

DWORD ErrorOfExec(int err) {
    switch (err) {
    case ENOEXEC:
        return kErrorBadExeFormat;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    default:
        return platform::Win32ErrorFromErrno(err);
    }
}

} // namespace

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                    DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
    constexpr DWORD kSuspendedOrDebugged = 0x4 /* CREATE_SUSPENDED */ | DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS;
    constexpr DWORD kAccepted = DETACHED_PROCESS | CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | IDLE_PRIORITY_CLASS |
                                HIGH_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                                BELOW_NORMAL_PRIORITY_CLASS | ABOVE_NORMAL_PRIORITY_CLASS | CREATE_NO_WINDOW |
                                0x01000000 /* CREATE_BREAKAWAY_FROM_JOB */ | 0x04000000 /* CREATE_DEFAULT_ERROR_MODE */;
    if ((!applicationName && !commandLine) || !startupInfo || !processInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (creationFlags & kSuspendedOrDebugged) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (creationFlags & ~kAccepted) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // The command line the child sees: the caller's, or the quoted application name.
    const std::u16string text =
        commandLine ? std::u16string(commandLine) : u"\"" + std::u16string(applicationName) + u"\"";
    const auto program = applicationName ? FindProgram(applicationName) : ProgramOfCommandLine(text);
    if (!program) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string directory;
    if (currentDirectory) {
        auto host = platform::fs::ToHost(currentDirectory);
        struct stat info {};
        if (!host || host->kind != platform::fs::PathKind::File || stat(host->path.c_str(), &info) != 0 ||
            !S_ISDIR(info.st_mode)) {
            SetLastError(ERROR_DIRECTORY);
            return FALSE;
        }
        directory = host->path;
    }

    std::vector<std::string> arguments;
    for (const auto& argument : platform::system::SplitCommandLine(text))
        arguments.push_back(platform::Utf16ToUtf8(argument));
    if (arguments.empty())
        arguments.push_back(*program);
    std::vector<std::string> variables =
        ChildEnvironment(environment, (creationFlags & CREATE_UNICODE_ENVIRONMENT) != 0, text);
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(variables);

    // The standard streams: the given file handles, or the null device for a handle that names no file.
    int streams[3] = {0, 1, 2};
    Descriptor nullDevice;
    if (startupInfo->dwFlags & STARTF_USESTDHANDLES) {
        const HANDLE handles[3] = {startupInfo->hStdInput, startupInfo->hStdOutput, startupInfo->hStdError};
        for (int i = 0; i < 3; ++i) {
            streams[i] = handles[i] ? platform::fs::HostDescriptor(handles[i]) : -1;
            if (streams[i] < 0) {
                if (nullDevice.Get() < 0)
                    nullDevice.Reset(open("/dev/null", O_RDWR | O_CLOEXEC));
                streams[i] = nullDevice.Get();
            }
        }
    }

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        platform::FailErrno();
        return FALSE;
    }
    Descriptor readEnd(pipeFds[0]);
    Descriptor writeEnd(pipeFds[1]);
    const bool newGroup = (creationFlags & (CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS)) != 0;

    const pid_t pid = fork();
    if (pid < 0) {
        platform::FailErrno();
        return FALSE;
    }
    if (pid == 0) {
        // The child: only async-signal-safe calls until exec.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (newGroup)
            setpgid(0, 0);
        int moved[3];
        for (int i = 0; i < 3; ++i)
            moved[i] = fcntl(streams[i], F_DUPFD_CLOEXEC, 3);
        for (int i = 0; i < 3; ++i) {
            if (moved[i] >= 0)
                dup2(moved[i], i);
        }
        // No other descriptor of this process reaches the program.
        syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
        int err = 0;
        if (!directory.empty() && chdir(directory.c_str()) != 0)
            err = errno;
        if (!err) {
            execve(program->c_str(), argv.data(), envp.data());
            err = errno;
        }
        while (write(pipeFds[1], &err, sizeof err) < 0 && errno == EINTR) {
        }
        _exit(127);
    }

    writeEnd.Reset();
    int childError = 0;
    ssize_t got;
    while ((got = read(readEnd.Get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    if (got == sizeof childError) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        SetLastError(ErrorOfExec(childError));
        return FALSE;
    }

    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
        // Cannot watch it: do not leave a process behind that nobody can wait for.
        const int err = errno;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        platform::FailErrno(err);
        return FALSE;
    }
    auto state = std::make_shared<ProcessState>(pid, true, pidfd);
    {
        Children& children = GetChildren();
        std::lock_guard lock(children.mutex);
        std::erase_if(children.byPid, [](const auto& entry) { return entry.second.expired(); });
        children.byPid[pid] = state;
    }
    auto processObject = std::make_shared<ProcessObject>(state, PROCESS_ALL_ACCESS);
    auto threadObject = std::make_shared<MainThreadObject>(state);
    Attach(state, processObject);
    Attach(state, threadObject);
    Watcher::Get().Add(state);

    processInformation->hProcess = platform::InsertHandle(processObject);
    processInformation->hThread = platform::InsertHandle(threadObject);
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}
