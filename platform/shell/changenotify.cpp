// Shell change notifications: registrations, the inotify watches of listed folders, the drive table's letters and
// the thread that turns their changes into messages.
#include "platform/shell/changenotify.h"
#include "platform/shell/shell_internal.h"
#include "platform/shell/specialfolders.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/unknwn.h"
#include "platform/fs/paths.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform::shell {
namespace {

// How many folders are watched at most; folders listed beyond that are not watched.
constexpr size_t kMaxWatches = 8192;
// How long a rename's first half waits for its second half before it counts as a deletion.
constexpr int kRenamePairMs = 20;

struct ListDeleter {
    void operator()(ITEMIDLIST* p) const { ILFree(p); }
};
using List = std::unique_ptr<ITEMIDLIST, ListDeleter>;

struct Scope {
    bool everything = false; // the desktop or My Computer
    std::u16string path;     // a file-system folder
    bool recursive = false;
};

struct Registration {
    HWND hwnd = nullptr;
    int sources = 0;
    LONG events = 0;
    UINT message = 0;
    std::vector<Scope> scopes;
};

// One change, with the paths of its items (the second only for renames) and whether they are folders.
struct Change {
    LONG event = 0;
    std::u16string path1, path2;
    bool folder = false;
    int source = SHCNRF_InterruptLevel;
    // Lists given by SHChangeNotify (SHCNF_IDLIST), used as they are.
    List pidl1, pidl2;
};

bool Covers(const Scope& scope, const std::u16string& path) {
    if (scope.everything)
        return true;
    if (path.empty() || scope.path.empty())
        return false;
    if (!IsInside(path, scope.path))
        return false;
    if (scope.recursive)
        return true;
    const size_t slash = path.find_last_of(u'\\');
    std::u16string parent = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
    if (parent.size() == 2)
        parent += u'\\';
    return EqualNoCase(path, scope.path) || EqualNoCase(parent, scope.path) ||
           (scope.path.size() == 3 && EqualNoCase(parent + u'\\', scope.path));
}

List ListOf(const std::u16string& path, bool folder, bool look) {
    if (path.empty())
        return nullptr;
    if (look) {
        if (auto items = ItemsOfPath(path, nullptr))
            return List(MakeList(*items));
    }
    auto items = ItemsOfPathUnchecked(path, folder);
    return items ? List(MakeList(*items)) : nullptr;
}

std::set<WCHAR> CurrentLetters() {
    std::set<WCHAR> letters;
    for (const auto& drive : platform::fs::Drives())
        letters.insert(drive.letter);
    return letters;
}

class Notifier {
public:
    static Notifier& Get() {
        // Never destroyed: its thread serves the process until it ends.
        static Notifier* notifier = new Notifier;
        return *notifier;
    }

    ULONG Register(Registration r) {
        std::unique_lock lock(m_mutex);
        const ULONG id = ++m_nextId;
        for (const Scope& s : r.scopes)
            if (!s.everything && (r.sources & SHCNRF_InterruptLevel))
                WatchLocked(s.path);
        m_registrations.emplace(id, std::move(r));
        StartLocked();
        return id;
    }

    bool Deregister(ULONG id) {
        std::lock_guard lock(m_mutex);
        if (!m_registrations.erase(id))
            return false;
        if (m_registrations.empty())
            DropWatchesLocked();
        return true;
    }

    void NoteFolder(const std::u16string& path) {
        std::lock_guard lock(m_mutex);
        if (m_registrations.empty() || m_inotify < 0)
            return;
        for (const auto& [id, r] : m_registrations) {
            if (!(r.sources & SHCNRF_InterruptLevel))
                continue;
            for (const Scope& s : r.scopes) {
                if (Covers(s, path) || (s.recursive && IsInside(path, s.path))) {
                    WatchLocked(path);
                    return;
                }
            }
        }
    }

    void Post(Change change) {
        std::lock_guard lock(m_mutex);
        if (m_registrations.empty() || m_wake < 0)
            return;
        m_posted.push_back(std::move(change));
        Wake();
    }

    // Sends a change to every registration it concerns, on the calling thread.
    void Deliver(const Change& change) {
        std::vector<std::pair<ULONG, Registration>> targets;
        {
            std::lock_guard lock(m_mutex);
            for (const auto& [id, r] : m_registrations) {
                if (!(r.events & change.event) || !(r.sources & change.source))
                    continue;
                for (const Scope& s : r.scopes) {
                    if (Covers(s, change.path1) || Covers(s, change.path2) ||
                        (s.everything && change.path1.empty() && change.pidl1)) {
                        targets.emplace_back(id, r);
                        break;
                    }
                }
            }
        }
        if (targets.empty())
            return;
        const bool look = change.event & (SHCNE_CREATE | SHCNE_MKDIR | SHCNE_UPDATEITEM | SHCNE_DRIVEADD);
        List one = change.pidl1 ? List(ILClone(change.pidl1.get())) : ListOf(change.path1, change.folder, look);
        List two = change.pidl2 ? List(ILClone(change.pidl2.get())) : ListOf(change.path2, change.folder, true);
        PIDLIST_ABSOLUTE pair[2] = {one.get(), two.get()};
        for (const auto& [id, r] : targets) {
            {
                // A registration that ended meanwhile gets nothing more.
                std::lock_guard lock(m_mutex);
                if (!m_registrations.count(id))
                    continue;
            }
            SendMessageW(r.hwnd, r.message, reinterpret_cast<WPARAM>(pair), change.event);
        }
    }

    void LettersChanged() {
        std::lock_guard lock(m_mutex);
        m_lettersChanged = true;
        Wake();
    }

    void MachineChanged() {
        std::lock_guard lock(m_mutex);
        if (m_inotify < 0)
            return;
        WatchDrivesLocked();
        m_letters = CurrentLetters();
    }

private:
    Notifier() = default;

    void Wake() {
        if (m_wake >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(m_wake, &one, sizeof one);
        }
    }

    void StartLocked() {
        if (m_inotify >= 0)
            return;
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_inotify < 0 || m_wake < 0)
            return;
        WatchDrivesLocked();
        m_letters = CurrentLetters();
        platform::machine::AddResetListener([] { Notifier::Get().MachineChanged(); });
        // Letters of devices (a plugged disk's volumes) come and go without the table's file.
        platform::fs::AddDrivesChangedListener([] { Notifier::Get().LettersChanged(); });
        std::thread([this] { Run(); }).detach();
    }

    void WatchDrivesLocked() {
        if (m_drivesWatch >= 0)
            inotify_rm_watch(m_inotify, m_drivesWatch);
        m_drivesWatch = inotify_add_watch(m_inotify, platform::machine::Folder().c_str(),
                                          IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_ONLYDIR);
    }

    void WatchLocked(const std::u16string& path) {
        if (m_inotify < 0 || path.empty())
            return;
        for (const auto& [wd, paths] : m_watches)
            for (const std::u16string& p : paths)
                if (EqualNoCase(p, path))
                    return;
        if (m_watches.size() >= kMaxWatches)
            return;
        auto host = platform::fs::ToHost(path.c_str());
        if (!host || host->kind != platform::fs::PathKind::File)
            return;
        const int wd = inotify_add_watch(m_inotify, host->path.c_str(),
                                         IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                             IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (wd < 0)
            return;
        m_watches[wd].push_back(path);
    }

    void DropWatchesLocked() {
        for (const auto& [wd, paths] : m_watches)
            inotify_rm_watch(m_inotify, wd);
        m_watches.clear();
    }

    // Forgets the watches of a folder that went away or moved, and of everything below it.
    void ForgetBelowLocked(const std::u16string& path) {
        for (auto it = m_watches.begin(); it != m_watches.end();) {
            std::erase_if(it->second, [&](const std::u16string& p) { return IsInside(p, path); });
            if (it->second.empty()) {
                inotify_rm_watch(m_inotify, it->first);
                it = m_watches.erase(it);
            } else {
                ++it;
            }
        }
    }

    struct Raw {
        int wd;
        uint32_t mask;
        uint32_t cookie;
        std::string name;
    };

    std::vector<Raw> ReadRaw() {
        std::vector<Raw> raws;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = read(m_inotify, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t off = 0; off < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + off);
                raws.push_back(Raw{e->wd, e->mask, e->cookie, e->len ? std::string(e->name) : std::string()});
                off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return raws;
    }

    bool WaitReadable(int ms) {
        pollfd fd{m_inotify, POLLIN, 0};
        return poll(&fd, 1, ms) > 0;
    }

    // Turns raw events into changes (under the lock: the watch table is read and pruned).
    void Translate(std::vector<Raw>& raws, std::vector<Change>& changes) {
        bool drivesChanged = m_lettersChanged;
        m_lettersChanged = false;
        struct Pending {
            uint32_t cookie;
            std::u16string path;
            bool folder;
        };
        std::vector<Pending> pending;
        auto pathsOf = [&](int wd) -> std::vector<std::u16string> {
            auto it = m_watches.find(wd);
            return it == m_watches.end() ? std::vector<std::u16string>() : it->second;
        };
        for (size_t i = 0; i < raws.size(); ++i) {
            const Raw& raw = raws[i];
            if (raw.mask & IN_Q_OVERFLOW) {
                for (const auto& [wd, paths] : m_watches)
                    for (const std::u16string& p : paths) {
                        Change c;
                        c.event = SHCNE_UPDATEDIR;
                        c.path1 = p;
                        c.folder = true;
                        changes.push_back(std::move(c));
                    }
                drivesChanged = true;
                continue;
            }
            if (raw.wd == m_drivesWatch) {
                if (raw.name == "drives")
                    drivesChanged = true;
                continue;
            }
            if (raw.mask & IN_IGNORED) {
                m_watches.erase(raw.wd);
                continue;
            }
            if (raw.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                for (const std::u16string& p : pathsOf(raw.wd))
                    ForgetBelowLocked(p);
                continue;
            }
            const bool folder = (raw.mask & IN_ISDIR) != 0;
            const std::u16string name = Utf8ToUtf16(raw.name);
            for (const std::u16string& dir : pathsOf(raw.wd)) {
                const std::u16string path = JoinPath(dir, name);
                Change c;
                c.folder = folder;
                c.path1 = path;
                if (raw.mask & IN_CREATE) {
                    c.event = folder ? SHCNE_MKDIR : SHCNE_CREATE;
                } else if (raw.mask & IN_DELETE) {
                    c.event = folder ? SHCNE_RMDIR : SHCNE_DELETE;
                    if (folder)
                        ForgetBelowLocked(path);
                } else if (raw.mask & IN_MOVED_FROM) {
                    pending.push_back(Pending{raw.cookie, path, folder});
                    if (folder)
                        ForgetBelowLocked(path);
                    continue;
                } else if (raw.mask & IN_MOVED_TO) {
                    auto match = std::find_if(pending.begin(), pending.end(),
                                              [&](const Pending& p) { return p.cookie == raw.cookie; });
                    if (match != pending.end()) {
                        c.event = folder ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM;
                        c.path1 = match->path;
                        c.path2 = path;
                        pending.erase(match);
                    } else {
                        c.event = folder ? SHCNE_MKDIR : SHCNE_CREATE;
                    }
                } else if (raw.mask & (IN_CLOSE_WRITE | IN_ATTRIB)) {
                    if (folder)
                        continue;
                    c.event = SHCNE_UPDATEITEM;
                } else {
                    continue;
                }
                changes.push_back(std::move(c));
            }
        }
        for (const Pending& p : pending) {
            Change c;
            c.event = p.folder ? SHCNE_RMDIR : SHCNE_DELETE;
            c.path1 = p.path;
            c.folder = p.folder;
            changes.push_back(std::move(c));
        }
        if (drivesChanged) {
            const std::set<WCHAR> now = CurrentLetters();
            for (WCHAR letter : m_letters)
                if (!now.count(letter))
                    changes.push_back(DriveChange(SHCNE_DRIVEREMOVED, letter));
            for (WCHAR letter : now)
                if (!m_letters.count(letter))
                    changes.push_back(DriveChange(SHCNE_DRIVEADD, letter));
            m_letters = now;
        }
    }

    static Change DriveChange(LONG event, WCHAR letter) {
        Change c;
        c.event = event;
        c.path1 = std::u16string(1, letter) + u":\\";
        c.folder = true;
        return c;
    }

    // A rename's first half may end a read; its second half then comes in the next one.
    static bool EndsWithMovedFrom(const std::vector<Raw>& raws) {
        return !raws.empty() && (raws.back().mask & IN_MOVED_FROM);
    }

    void Run() {
        for (;;) {
            pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = read(m_wake, &count, sizeof count);
            }
            std::vector<Raw> raws = ReadRaw();
            while (EndsWithMovedFrom(raws) && WaitReadable(kRenamePairMs)) {
                std::vector<Raw> more = ReadRaw();
                if (more.empty())
                    break;
                raws.insert(raws.end(), more.begin(), more.end());
            }
            std::vector<Change> changes;
            std::deque<Change> posted;
            {
                std::lock_guard lock(m_mutex);
                Translate(raws, changes);
                posted.swap(m_posted);
            }
            for (const Change& c : changes)
                Deliver(c);
            for (const Change& c : posted)
                Deliver(c);
        }
    }

    std::mutex m_mutex;
    std::map<ULONG, Registration> m_registrations;
    ULONG m_nextId = 0;
    int m_inotify = -1;
    int m_wake = -1;
    int m_drivesWatch = -1;
    std::map<int, std::vector<std::u16string>> m_watches;
    std::set<WCHAR> m_letters;
    bool m_lettersChanged = false;
    std::deque<Change> m_posted;
};

bool ScopeOf(PCIDLIST_ABSOLUTE pidl, BOOL recursive, Scope& scope) {
    const Place place = Resolve(pidl);
    if (!place.valid)
        return false;
    scope.recursive = recursive != FALSE;
    if (place.desktop || place.virtualCsidl == CSIDL_DRIVES) {
        scope.everything = true;
        return true;
    }
    scope.path = place.path;
    return !scope.path.empty();
}

std::u16string PathOfItem(UINT type, LPCVOID item, List& pidl) {
    if (!item)
        return {};
    if (type == SHCNF_PATHW)
        return static_cast<LPCWSTR>(item);
    if (type == SHCNF_IDLIST) {
        pidl.reset(ILClone(static_cast<PCIDLIST_ABSOLUTE>(item)));
        const Place place = Resolve(pidl.get());
        return place.valid ? place.path : std::u16string();
    }
    return {};
}

} // namespace

void NoteListedFolder(const std::u16string& path) {
    Notifier::Get().NoteFolder(path);
}

} // namespace platform::shell

using namespace platform::shell;

ULONG SHChangeNotifyRegister(HWND hwnd, int fSources, LONG fEvents, UINT wMsg, int cEntries,
                             const SHChangeNotifyEntry* pshcne) {
    if (fSources & SHCNRF_NewDelivery) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    if (!IsWindow(hwnd) || wMsg == 0 || cEntries <= 0 || !pshcne) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Registration r;
    r.hwnd = hwnd;
    r.sources = fSources;
    r.events = fEvents;
    r.message = wMsg;
    for (int i = 0; i < cEntries; ++i) {
        Scope scope;
        if (!ScopeOf(pshcne[i].pidl, pshcne[i].fRecursive, scope)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        r.scopes.push_back(scope);
    }
    return Notifier::Get().Register(std::move(r));
}

BOOL SHChangeNotifyDeregister(ULONG ulID) {
    return Notifier::Get().Deregister(ulID) ? TRUE : FALSE;
}

void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
    const UINT type = uFlags & SHCNF_TYPE;
    Change c;
    c.event = wEventId;
    c.source = SHCNRF_ShellLevel;
    c.path1 = PathOfItem(type, dwItem1, c.pidl1);
    c.path2 = PathOfItem(type, dwItem2, c.pidl2);
    if (c.path1.empty() && !c.pidl1)
        return;
    c.folder = (wEventId & (SHCNE_MKDIR | SHCNE_RMDIR | SHCNE_RENAMEFOLDER | SHCNE_UPDATEDIR | SHCNE_DRIVEADD |
                            SHCNE_DRIVEREMOVED | SHCNE_MEDIAINSERTED | SHCNE_MEDIAREMOVED)) != 0;
    if ((uFlags & SHCNF_FLUSH) && !((uFlags & SHCNF_FLUSHNOWAIT) == SHCNF_FLUSHNOWAIT)) {
        Notifier::Get().Deliver(c);
        return;
    }
    Notifier::Get().Post(std::move(c));
}
