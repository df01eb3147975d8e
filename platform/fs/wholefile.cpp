#include "platform/fs/wholefile.h"

#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/fs/attributes.h"
#include "platform/fs/hostfs.h"
#include "platform/fs/sharelocks.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace platform::fs {

using namespace detail;

namespace {

std::atomic<bool> g_forceNamed{false};
std::atomic<unsigned> g_counter{0};

constexpr char kPrefix[] = ".~write-";
constexpr char kSuffix[] = ".tmp";

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    return (folder == "/" ? "/" : folder + "/") + name;
}

std::string TemporaryName(const std::string& folder) {
    return Join(folder, kPrefix + std::to_string(getpid()) + "-" + std::to_string(g_counter.fetch_add(1)) + kSuffix);
}

// The process id in a temporary name of ours, 0 for any other name.
pid_t OwnerOf(const char* name) {
    const size_t prefix = sizeof kPrefix - 1;
    if (std::strncmp(name, kPrefix, prefix) != 0)
        return 0;
    const char* p = name + prefix;
    long pid = 0;
    const char* digits = p;
    while (*p >= '0' && *p <= '9' && pid < 1'000'000'000)
        pid = pid * 10 + (*p++ - '0');
    if (p == digits || *p++ != '-')
        return 0;
    const char* counter = p;
    while (*p >= '0' && *p <= '9')
        ++p;
    if (p == counter || std::strcmp(p, kSuffix) != 0)
        return 0;
    return static_cast<pid_t>(pid);
}

// Removes the named temporaries that writers of processes that no longer run left in `folder`. Once per folder
// and process: a process's own writers never leave any behind, and a folder's leftovers stay until the next
// process writes there.
void SweepStaleTemporaries(const std::string& folder) {
    static std::mutex mutex;
    static std::unordered_set<std::string> swept;
    {
        std::lock_guard lock(mutex);
        if (swept.size() >= 4096)
            swept.clear();
        if (!swept.insert(folder).second)
            return;
    }
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(dir)) {
        const pid_t owner = OwnerOf(entry->d_name);
        if (owner > 0 && owner != self && kill(owner, 0) != 0 && errno == ESRCH)
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

// Whether unnamed files can be given a name later (O_TMPFILE, and linkat through /proc without the capability
// that names a descriptor directly).
bool CanLinkUnnamed() {
    static const bool usable = access("/proc/self/fd", X_OK) == 0;
    return usable;
}

// Whether linkat can name a descriptor directly (AT_EMPTY_PATH, which needs a capability): unknown until the
// first link, then yes or no for the rest of the process.
enum class DirectLink { Unknown, Yes, No };
std::atomic<DirectLink> g_directLink{DirectLink::Unknown};

bool LinkUnnamed(int fd, const std::string& path) {
    // The direct form saves resolving the descriptor's name under /proc. Without the capability it fails with
    // ENOENT, as it does for a missing folder; the way through /proc tells the two apart.
    if (g_directLink.load(std::memory_order_relaxed) != DirectLink::No) {
        if (linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
            g_directLink.store(DirectLink::Yes, std::memory_order_relaxed);
            return true;
        }
        if (errno != ENOENT)
            return false;
    }
    char self[48];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    g_directLink.store(DirectLink::No, std::memory_order_relaxed);
    return true;
}

// Errors of open(O_TMPFILE) that mean only that the file system makes no unnamed files.
bool NoUnnamedFiles(int err) {
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL || err == ENOSYS;
}

void FlushFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

} // namespace

namespace detail {
void ForceNamedTemporariesForTests(bool force) {
    g_forceNamed = force;
}
} // namespace detail

WholeFile::~WholeFile() {
    Abandon();
}

void WholeFile::Abandon() {
    if (m_fd >= 0 && m_ownsDescriptor)
        close(m_fd);
    m_ownsDescriptor = true;
    if (!m_temporary.empty())
        unlink(m_temporary.c_str());
    m_fd = -1;
    m_unnamed = false;
    m_temporary.clear();
    m_chosenTemporary.clear();
    m_target.clear();
    m_folder.clear();
}

DWORD WholeFile::Begin(LPCWSTR target, LPCWSTR temporary) {
    Abandon();
    auto to = Resolve(target);
    if (!to)
        return GetLastError();
    if (to->host.kind != PathKind::File)
        return ERROR_INVALID_NAME;
    if (to->isRoot)
        return ERROR_ACCESS_DENIED;
    std::string chosen;
    if (temporary) {
        auto named = Resolve(temporary);
        if (!named)
            return GetLastError();
        if (named->host.kind != PathKind::File || named->isRoot)
            return ERROR_INVALID_NAME;
        chosen = named->host.path;
    }
    return Begin(to->host.path, chosen);
}

DWORD WholeFile::Begin(const std::string& target, const std::string& temporary, bool targetMissing,
                       UnnamedFileSupply* supply) {
    Abandon();
    if (target.empty())
        return ERROR_INVALID_PARAMETER;
    const std::string folder = FolderOf(target);
    struct stat existing {};
    const bool exists = !targetMissing && stat(target.c_str(), &existing) == 0;
    if (exists && (S_ISDIR(existing.st_mode) || !(existing.st_mode & S_IWUSR)))
        return ERROR_ACCESS_DENIED;
    if (!exists && !targetMissing && errno != ENOENT)
        return ErrorForPath(errno, target);
    const mode_t mode = exists ? (existing.st_mode & 07777) : 0666;

    int fd = -1;
    bool unnamed = false;
    if (!g_forceNamed.load() && CanLinkUnnamed()) {
        // A file made ahead has a new file's mode; one that replaces another gets the mode of that one.
        if (supply && !exists && temporary.empty())
            fd = supply->Take(folder);
        if (fd < 0)
            fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (fd < 0 && !NoUnnamedFiles(errno))
            return ErrorForPath(errno, target);
        unnamed = fd >= 0;
    }
    std::string named;
    if (!unnamed) {
        SweepStaleTemporaries(folder);
        if (!temporary.empty()) {
            named = temporary;
            fd = open(named.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
        } else {
            do {
                named = TemporaryName(folder);
                fd = open(named.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            } while (fd < 0 && errno == EEXIST);
        }
        if (fd < 0) {
            const DWORD error = errno == EISDIR ? ERROR_ACCESS_DENIED : ErrorForPath(errno, named);
            return error;
        }
    }
    // The umask must not take bits from the file being replaced.
    if (exists && fchmod(fd, mode) != 0) {
        const int err = errno;
        close(fd);
        if (!named.empty())
            unlink(named.c_str());
        return platform::Win32ErrorFromErrno(err);
    }
    m_fd = fd;
    m_unnamed = unnamed;
    m_temporary = named;
    m_chosenTemporary = temporary;
    m_target = target;
    m_folder = folder;
    return ERROR_SUCCESS;
}

DWORD WholeFile::Write(const void* data, size_t size) {
    if (m_fd < 0)
        return ERROR_INVALID_HANDLE;
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = write(m_fd, bytes + done, size - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return platform::Win32ErrorFromErrno(errno);
        if (wrote == 0)
            return ERROR_DISK_FULL;
        done += static_cast<size_t>(wrote);
    }
    return ERROR_SUCCESS;
}

// Gives unnamed content its temporary name beside the target.
DWORD WholeFile::NameTemporary() {
    if (!m_chosenTemporary.empty()) {
        // The caller's name: whatever an earlier, interrupted writer left there is replaced.
        if (unlink(m_chosenTemporary.c_str()) != 0 && errno != ENOENT)
            return errno == EISDIR ? ERROR_ACCESS_DENIED : ErrorForPath(errno, m_chosenTemporary);
        if (!LinkUnnamed(m_fd, m_chosenTemporary))
            return ErrorForPath(errno, m_chosenTemporary);
        m_temporary = m_chosenTemporary;
        return ERROR_SUCCESS;
    }
    while (true) {
        const std::string name = TemporaryName(m_folder);
        if (LinkUnnamed(m_fd, name)) {
            m_temporary = name;
            return ERROR_SUCCESS;
        }
        if (errno != EEXIST)
            return ErrorForPath(errno, name);
    }
}

DWORD WholeFile::PutInPlace(unsigned flags) {
    HostStat replaced;
    const bool exists = StatPath(AT_FDCWD, m_target.c_str(), replaced) && !replaced.dangling;
    if (exists && !(flags & kKeepExisting) &&
        (replaced.IsDirectory() || (replaced.IsRegular() && !(replaced.mode & S_IWUSR))))
        return ERROR_ACCESS_DENIED;
    ShareRequest request;
    request.del = true;
    if (flags & kExclusive)
        request.write = true;
    else
        request.shareRead = request.shareWrite = request.shareDelete = true;
    const DWORD result = WithShareCheck(exists ? m_target : std::string(), request, [&]() -> DWORD {
        int rc;
        if (flags & kKeepExisting) {
            rc = renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE);
            if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
                struct stat st;
                if (lstat(m_target.c_str(), &st) == 0)
                    return ERROR_FILE_EXISTS;
                rc = rename(m_temporary.c_str(), m_target.c_str());
            }
        } else {
            rc = rename(m_temporary.c_str(), m_target.c_str());
        }
        if (rc == 0)
            return ERROR_SUCCESS;
        if (errno == EEXIST)
            return ERROR_FILE_EXISTS;
        if (errno == EISDIR)
            return ERROR_ACCESS_DENIED;
        return ErrorForPath(errno, m_target);
    });
    if (result == ERROR_SUCCESS && exists && replaced.nlink <= 1)
        ForgetStored(replaced);
    return result;
}

DWORD WholeFile::Commit(unsigned flags) {
    if (m_fd < 0)
        return ERROR_INVALID_HANDLE;
    if ((flags & kFlush) && fsync(m_fd) != 0)
        return platform::Win32ErrorFromErrno(errno);
    DWORD result = ERROR_SUCCESS;
    if (m_unnamed && (flags & kKeepExisting) && m_chosenTemporary.empty()) {
        // A new file appears under its name in one step, and only when no file has that name.
        if (!LinkUnnamed(m_fd, m_target))
            result = errno == EEXIST ? ERROR_FILE_EXISTS : ErrorForPath(errno, m_target);
    } else {
        // Content that once had a name cannot lose it again and be linked anew: from here on it is a named
        // temporary, which Abandon removes if the caller gives up.
        if (m_unnamed && (result = NameTemporary()) == ERROR_SUCCESS)
            m_unnamed = false;
        if (result == ERROR_SUCCESS)
            result = PutInPlace(flags);
    }
    if (result != ERROR_SUCCESS)
        return result;
    if (flags & kFlush)
        FlushFolder(m_folder);
    m_temporary.clear(); // it is the target now
    Abandon();
    return ERROR_SUCCESS;
}

UnnamedFileSupply::~UnnamedFileSupply() {
    std::deque<int> left;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        left.swap(m_ready);
    }
    m_wake.notify_all();
    if (m_maker.joinable())
        m_maker.join();
    left.insert(left.end(), m_ready.begin(), m_ready.end());
    Drop(left);
}

bool UnnamedFileSupply::Worthwhile() {
    return !g_forceNamed.load() && CanLinkUnnamed() && GetActiveProcessorCount(ALL_PROCESSOR_GROUPS) > 1;
}

void UnnamedFileSupply::Drop(std::deque<int>& files) {
    for (int fd : files)
        close(fd);
    files.clear();
}

void UnnamedFileSupply::Stock(LPCWSTR folder, size_t count) {
    auto host = folder ? ExactHostPath(folder) : std::nullopt;
    Stock(host ? *host : std::string(), count);
}

void UnnamedFileSupply::Stock(const std::string& folder, size_t count) {
    std::deque<int> dropped;
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        ++m_generation;
        dropped.swap(m_ready);
        m_folder = folder;
        m_toMake = folder.empty() ? 0 : count;
        if (m_toMake > 0 && !m_maker.joinable()) {
            try {
                m_maker = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                m_toMake = 0;
            }
        }
    }
    m_wake.notify_one();
    Drop(dropped);
}

int UnnamedFileSupply::Take(const std::string& folder) {
    bool wake = false;
    int fd = -1;
    {
        std::lock_guard lock(m_mutex);
        if (m_ready.empty() || folder != m_folder)
            return -1;
        fd = m_ready.front();
        m_ready.pop_front();
        wake = m_ready.size() == kLow && m_toMake > 0;
    }
    if (wake)
        m_wake.notify_one();
    return fd;
}

void UnnamedFileSupply::Run() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [&] { return m_stop || (m_toMake > 0 && m_ready.size() <= kLow); });
        if (m_stop)
            return;
        // Made up to the most ahead at one go, without the lock.
        while (!m_stop && m_toMake > 0 && m_ready.size() < kAhead) {
            const std::string folder = m_folder;
            const unsigned generation = m_generation;
            --m_toMake;
            lock.unlock();
            const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
            lock.lock();
            if (fd < 0) {
                // Whatever the reason, writers in this folder make their own files and meet it themselves.
                if (generation == m_generation)
                    m_toMake = 0;
            } else if (generation != m_generation || m_stop) {
                close(fd);
            } else {
                m_ready.push_back(fd);
            }
        }
    }
}

DWORD WriteWholeFile(const std::string& target, std::string_view content, unsigned flags) {
    WholeFile file;
    if (DWORD error = file.Begin(target))
        return error;
    if (DWORD error = file.Write(content))
        return error;
    return file.Commit(flags);
}

} // namespace platform::fs
