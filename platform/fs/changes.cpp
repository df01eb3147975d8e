// ReadDirectoryChangesW on inotify: one watcher thread per directory handle turns inotify events into
// FILE_NOTIFY_INFORMATION records and completes the handle's pending read.

#include "platform/fs/changes.h"

#include "platform/base/errors.h"
#include "platform/base/iocp.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/fileobject.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform::fs {

namespace {

std::atomic<size_t> g_watchLimit{0};

constexpr uint32_t kInotifyMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB |
                                  IN_EXCL_UNLINK | IN_ONLYDIR | IN_DONT_FOLLOW;
// How long a move-out waits for its move-in half before it counts as a removal, in milliseconds.
constexpr int kMovePairMs = 20;
// How often the watcher looks whether its handle has been closed, in milliseconds.
constexpr int kIdlePollMs = 100;

struct Record {
    DWORD action;
    std::u16string name;
};

size_t RecordSize(const Record& record) {
    const size_t size = offsetof(FILE_NOTIFY_INFORMATION, FileName) + record.name.size() * sizeof(WCHAR);
    return (size + 3) & ~size_t{3};
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

bool IsUnder(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

struct PendingRead {
    BYTE* buffer = nullptr;
    DWORD length = 0;
    LPOVERLAPPED overlapped = nullptr;
    CompletionRoute route;
    DWORD used = 0;
    DWORD lastEntry = 0;
};

class DirectoryWatch {
public:
    ~DirectoryWatch() {
        if (m_inotify >= 0)
            close(m_inotify);
    }

    // Everything below is guarded by `mutex`.
    std::mutex mutex;
    std::weak_ptr<detail::FileObject> file;
    std::string root;
    bool subtree = false;
    DWORD filter = 0;
    DWORD capacity = 0;
    std::optional<PendingRead> pending;
    std::deque<Record> queued;
    size_t queuedBytes = 0;
    bool overflow = false;
    DWORD error = ERROR_SUCCESS;

    // Opens inotify and watches the tree. Returns ERROR_SUCCESS or the error of the first folder that could not
    // be watched.
    DWORD Start() {
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0)
            return Win32ErrorFromErrno(errno);
        return WatchTree("", nullptr);
    }

    int Inotify() const { return m_inotify; }
    bool MovePending() const { return m_movedFrom.has_value(); }

    // Reads and handles every inotify event available now.
    void DrainEvents() {
        alignas(inotify_event) char buf[64 * 1024];
        for (;;) {
            const ssize_t n = read(m_inotify, buf, sizeof buf);
            if (n <= 0)
                return;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
                Handle(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    // A move out of the tree whose move-in half never came.
    void SettleMove() {
        if (!m_movedFrom)
            return;
        const MovedFrom moved = *m_movedFrom;
        m_movedFrom.reset();
        Emit(FILE_ACTION_REMOVED, moved.path, moved.isDir);
        ParentModified(moved.path);
        if (moved.isDir)
            Unwatch(moved.path);
    }

    // Fills a read from the kept changes, or keeps it pending. Returns true when it was completed.
    bool Serve(PendingRead read) {
        pending = read;
        Finish();
        return !pending;
    }

    // Completes the pending read when it holds records or when changes were lost.
    void Finish() {
        if (!pending)
            return;
        if (error != ERROR_SUCCESS) {
            Complete(error, 0);
            return;
        }
        if (overflow) {
            overflow = false;
            Complete(ERROR_SUCCESS, 0);
            return;
        }
        while (!queued.empty() && Append(queued.front())) {
            queuedBytes -= RecordSize(queued.front());
            queued.pop_front();
        }
        if (!queued.empty() && pending->used == 0) {
            // Not even one record fits the caller's buffer: the changes are lost as on Windows.
            queued.clear();
            queuedBytes = 0;
            Complete(ERROR_SUCCESS, 0);
            return;
        }
        if (pending->used > 0)
            Complete(ERROR_SUCCESS, pending->used);
    }

    void Complete(DWORD status, DWORD bytes) {
        PendingRead read = *pending;
        pending.reset();
        CompleteOverlappedIo(read.route, read.overlapped, status, bytes);
    }

    // Looks at the whole tree again after a failed watch; the changes in between count as lost.
    DWORD Rewatch() {
        const DWORD result = WatchTree("", nullptr);
        if (result == ERROR_SUCCESS) {
            error = ERROR_SUCCESS;
            overflow = true;
            queued.clear();
            queuedBytes = 0;
        }
        return result;
    }

private:
    struct MovedFrom {
        uint32_t cookie;
        std::string path;
        bool isDir;
    };

    int m_inotify = -1;
    std::map<int, std::string> m_dirs; // watch descriptor -> folder relative to the root ("" for the root)
    std::optional<MovedFrom> m_movedFrom;

    // Watches `rel` and, for a subtree watch, every folder below it. Entries found below a folder that was
    // created or moved in are reported through `found` (they may have appeared before the watch was set).
    DWORD WatchTree(const std::string& rel, std::vector<std::pair<std::string, bool>>* found) {
        const std::string path = rel.empty() ? root : root + "/" + rel;
        const int wd = inotify_add_watch(m_inotify, path.c_str(), kInotifyMask);
        if (wd < 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                return ERROR_SUCCESS; // gone again before we got to it; its removal is reported
            return errno == ENOSPC ? ERROR_NOT_ENOUGH_QUOTA : Win32ErrorFromErrno(errno);
        }
        const size_t limit = g_watchLimit.load();
        if (!m_dirs.count(wd) && limit && m_dirs.size() >= limit) {
            inotify_rm_watch(m_inotify, wd);
            return ERROR_NOT_ENOUGH_QUOTA;
        }
        m_dirs[wd] = rel;
        if (!subtree)
            return ERROR_SUCCESS;
        DIR* dir = opendir(path.c_str());
        if (!dir)
            return ERROR_SUCCESS;
        std::vector<std::pair<std::string, bool>> entries;
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st;
                isDir = lstat((path + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            }
            entries.emplace_back(name, isDir);
        }
        closedir(dir);
        DWORD result = ERROR_SUCCESS;
        for (const auto& [name, isDir] : entries) {
            const std::string child = Join(rel, name);
            if (found)
                found->emplace_back(child, isDir);
            if (isDir) {
                const DWORD r = WatchTree(child, found);
                if (r != ERROR_SUCCESS && result == ERROR_SUCCESS)
                    result = r;
            }
        }
        return result;
    }

    void Unwatch(const std::string& folder) {
        for (auto it = m_dirs.begin(); it != m_dirs.end();) {
            if (IsUnder(it->second, folder)) {
                inotify_rm_watch(m_inotify, it->first);
                it = m_dirs.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Renamed(const std::string& from, const std::string& to) {
        for (auto& [wd, rel] : m_dirs) {
            if (IsUnder(rel, from))
                rel = to + rel.substr(from.size());
        }
    }

    // A folder appeared (created or moved in): watch it and report what it already holds.
    void Appeared(const std::string& rel) {
        if (!subtree)
            return;
        std::vector<std::pair<std::string, bool>> found;
        const DWORD r = WatchTree(rel, &found);
        for (const auto& [path, isDir] : found)
            Emit(FILE_ACTION_ADDED, path, isDir);
        if (r != ERROR_SUCCESS && error == ERROR_SUCCESS)
            error = r;
    }

    void Handle(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            SettleMove();
            Lost();
            // Folders created while events were lost are watched now.
            if (const DWORD r = WatchTree("", nullptr); r != ERROR_SUCCESS && error == ERROR_SUCCESS)
                error = r;
            return;
        }
        if (event.mask & IN_IGNORED) {
            m_dirs.erase(event.wd);
            return;
        }
        // The two halves of a rename come one right after the other; anything else in between means the entry
        // left the tree, and its folders stop being watched before their own events are looked at.
        if (m_movedFrom && !((event.mask & IN_MOVED_TO) && event.cookie == m_movedFrom->cookie))
            SettleMove();
        auto it = m_dirs.find(event.wd);
        if (it == m_dirs.end() || event.len == 0)
            return;
        const std::string path = Join(it->second, event.name);
        const bool isDir = (event.mask & IN_ISDIR) != 0;
        if (event.mask & IN_CREATE) {
            Emit(FILE_ACTION_ADDED, path, isDir);
            ParentModified(path);
            if (isDir)
                Appeared(path);
        } else if (event.mask & IN_DELETE) {
            Emit(FILE_ACTION_REMOVED, path, isDir);
            ParentModified(path);
        } else if (event.mask & IN_MODIFY) {
            if (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE))
                Emit(FILE_ACTION_MODIFIED, path, isDir);
        } else if (event.mask & IN_ATTRIB) {
            if (filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY))
                Emit(FILE_ACTION_MODIFIED, path, isDir);
        } else if (event.mask & IN_MOVED_FROM) {
            m_movedFrom = MovedFrom{event.cookie, path, isDir};
        } else if (event.mask & IN_MOVED_TO) {
            if (m_movedFrom) {
                const MovedFrom moved = *m_movedFrom;
                m_movedFrom.reset();
                Emit(FILE_ACTION_RENAMED_OLD_NAME, moved.path, isDir);
                Emit(FILE_ACTION_RENAMED_NEW_NAME, path, isDir);
                ParentModified(moved.path);
                if (Parent(moved.path) != Parent(path))
                    ParentModified(path);
                if (isDir)
                    Renamed(moved.path, path);
            } else {
                Emit(FILE_ACTION_ADDED, path, isDir);
                ParentModified(path);
                if (isDir)
                    Appeared(path);
            }
        }
    }

    static std::string Parent(const std::string& path) {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

    // The folder that holds `path` changed its last-write time; the watched folder itself is not reported.
    void ParentModified(const std::string& path) {
        const std::string parent = Parent(path);
        if (!parent.empty() && (filter & FILE_NOTIFY_CHANGE_LAST_WRITE))
            Deliver(Record{FILE_ACTION_MODIFIED, Windows(parent)});
    }

    static std::u16string Windows(const std::string& rel) {
        std::u16string name = Utf8ToUtf16(rel);
        for (auto& c : name) {
            if (c == u'/')
                c = u'\\';
        }
        return name;
    }

    void Emit(DWORD action, const std::string& path, bool isDir) {
        if (action != FILE_ACTION_MODIFIED &&
            !(filter & (isDir ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME)))
            return;
        Deliver(Record{action, Windows(path)});
    }

    void Lost() {
        overflow = true;
        queued.clear();
        queuedBytes = 0;
    }

    void Deliver(Record record) {
        if (overflow)
            return;
        if (pending && queued.empty()) {
            if (Append(record))
                return;
            if (pending->used > 0)
                Complete(ERROR_SUCCESS, pending->used);
        }
        const size_t size = RecordSize(record);
        if (queuedBytes + size > capacity) {
            Lost();
            return;
        }
        queuedBytes += size;
        queued.push_back(std::move(record));
    }

    // Adds a record to the pending read's buffer when it fits.
    bool Append(const Record& record) {
        PendingRead& read = *pending;
        const size_t size = RecordSize(record);
        if (read.used + size > read.length)
            return false;
        if (read.used > 0) {
            const DWORD next = read.used - read.lastEntry;
            std::memcpy(read.buffer + read.lastEntry + offsetof(FILE_NOTIFY_INFORMATION, NextEntryOffset), &next,
                        sizeof next);
        }
        BYTE* at = read.buffer + read.used;
        std::memset(at, 0, size);
        const DWORD zero = 0;
        const DWORD nameBytes = static_cast<DWORD>(record.name.size() * sizeof(WCHAR));
        std::memcpy(at + offsetof(FILE_NOTIFY_INFORMATION, NextEntryOffset), &zero, sizeof zero);
        std::memcpy(at + offsetof(FILE_NOTIFY_INFORMATION, Action), &record.action, sizeof record.action);
        std::memcpy(at + offsetof(FILE_NOTIFY_INFORMATION, FileNameLength), &nameBytes, sizeof nameBytes);
        std::memcpy(at + offsetof(FILE_NOTIFY_INFORMATION, FileName), record.name.data(), nameBytes);
        read.lastEntry = read.used;
        read.used += static_cast<DWORD>(size);
        return true;
    }
};

struct Watches {
    std::mutex mutex;
    std::map<std::weak_ptr<const KernelObject>, std::shared_ptr<DirectoryWatch>, std::owner_less<>> map;
};

Watches& GetWatches() {
    static auto* watches = new Watches;
    return *watches;
}

std::shared_ptr<DirectoryWatch> FindWatch(const std::shared_ptr<KernelObject>& object) {
    Watches& watches = GetWatches();
    std::lock_guard lock(watches.mutex);
    auto it = watches.map.find(std::weak_ptr<const KernelObject>(object));
    return it == watches.map.end() ? nullptr : it->second;
}

void WatcherThread(std::shared_ptr<DirectoryWatch> watch, std::weak_ptr<const KernelObject> key) {
    for (;;) {
        int timeout = kIdlePollMs;
        {
            std::lock_guard lock(watch->mutex);
            if (watch->MovePending())
                timeout = kMovePairMs;
        }
        pollfd fd{watch->Inotify(), POLLIN, 0};
        const int ready = poll(&fd, 1, timeout);
        std::lock_guard lock(watch->mutex);
        if (watch->file.expired()) {
            // The handle is closed: a read still pending is dropped (its OVERLAPPED may already be freed).
            watch->pending.reset();
            break;
        }
        if (ready > 0)
            watch->DrainEvents();
        else if (ready == 0)
            watch->SettleMove();
        watch->Finish();
    }
    Watches& watches = GetWatches();
    std::lock_guard lock(watches.mutex);
    watches.map.erase(key);
}

// Starts watching a directory handle on its first read.
std::shared_ptr<DirectoryWatch> StartWatch(const std::shared_ptr<detail::FileObject>& file, bool subtree, DWORD filter,
                                           DWORD capacity, DWORD& error) {
    Watches& watches = GetWatches();
    std::lock_guard lock(watches.mutex);
    std::weak_ptr<const KernelObject> key = std::static_pointer_cast<const KernelObject>(file);
    if (auto it = watches.map.find(key); it != watches.map.end())
        return it->second;
    auto watch = std::make_shared<DirectoryWatch>();
    watch->file = file;
    watch->root = file->HostPath();
    watch->subtree = subtree;
    watch->filter = filter;
    watch->capacity = std::max(capacity, kKeptChangesBytes);
    {
        std::lock_guard watchLock(watch->mutex);
        error = watch->Start();
    }
    if (error != ERROR_SUCCESS)
        return nullptr;
    watches.map[key] = watch;
    std::thread(&WatcherThread, watch, key).detach();
    return watch;
}

BOOL ReadChanges(HANDLE directory, LPVOID buffer, DWORD bufferLength, BOOL watchSubtree, DWORD notifyFilter,
                 LPOVERLAPPED overlapped) {
    auto file = std::dynamic_pointer_cast<detail::FileObject>(LookupHandle(directory));
    if (!file) {
        SetLastErrorInvalidHandle();
        return FALSE;
    }
    if (!file->IsDirectory() || notifyFilter == 0 || (!buffer && bufferLength)) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<DirectoryWatch> watch = FindWatch(file);
    if (!watch) {
        DWORD error = ERROR_SUCCESS;
        watch = StartWatch(file, watchSubtree != FALSE, notifyFilter, bufferLength, error);
        if (!watch) {
            Fail(error);
            return FALSE;
        }
    }
    std::lock_guard lock(watch->mutex);
    if (watch->pending) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (watch->error != ERROR_SUCCESS) {
        if (const DWORD r = watch->Rewatch(); r != ERROR_SUCCESS) {
            Fail(r);
            return FALSE;
        }
    }
    watch->filter = notifyFilter;
    PendingRead read;
    read.buffer = static_cast<BYTE*>(buffer);
    read.length = bufferLength;
    read.overlapped = overlapped;
    read.route = CompletionRouteOf(*file);
    overlapped->Internal = ERROR_IO_PENDING;
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent)
        ResetEvent(reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped->hEvent) & ~uintptr_t{1}));
    watch->Serve(read);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace

void SetDirectoryWatchLimitForTesting(size_t limit) {
    g_watchLimit = limit;
}

} // namespace platform::fs

BOOL ReadDirectoryChangesW(HANDLE directory, LPVOID buffer, DWORD bufferLength, BOOL watchSubtree, DWORD notifyFilter,
                           LPDWORD bytesReturned, LPOVERLAPPED overlapped,
                           LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    using namespace platform;
    if (completionRoutine) {
        Fail(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (overlapped) {
        if (bytesReturned)
            *bytesReturned = 0;
        return fs::ReadChanges(directory, buffer, bufferLength, watchSubtree, notifyFilter, overlapped);
    }
    // A synchronous read waits for its own completion, which goes to no port.
    if (!bytesReturned) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const OwnedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return FALSE;
    OVERLAPPED own{};
    own.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event.get()) | 1);
    if (!fs::ReadChanges(directory, buffer, bufferLength, watchSubtree, notifyFilter, &own))
        return FALSE;
    WaitForSingleObject(event.get(), INFINITE);
    *bytesReturned = static_cast<DWORD>(own.InternalHigh);
    if (own.Internal != ERROR_SUCCESS) {
        Fail(static_cast<DWORD>(own.Internal));
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    using namespace platform;
    KernelObjectPtr object = LookupHandle(file);
    if (!object) {
        SetLastErrorInvalidHandle();
        return FALSE;
    }
    std::shared_ptr<fs::DirectoryWatch> watch = fs::FindWatch(object);
    if (watch) {
        std::lock_guard lock(watch->mutex);
        if (watch->pending && (!overlapped || watch->pending->overlapped == overlapped)) {
            watch->Complete(ERROR_OPERATION_ABORTED, 0);
            return TRUE;
        }
    }
    Fail(ERROR_NOT_FOUND);
    return FALSE;
}
