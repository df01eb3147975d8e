// Finding names in the exact or another case, with listings of folders kept up to date from change
// notifications.

#include "platform/fs/paths.h"

#include "platform/base/strings.h"
#include "platform/fs/paths_internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace platform::fs {

std::string JoinHost(const std::string& folder, const std::string& name) {
    if (folder == "/")
        return "/" + name;
    return folder + "/" + name;
}

} // namespace platform::fs

namespace platform::fs {
namespace {

std::u16string Folded(std::u16string s) {
    for (WCHAR& c : s)
        c = platform::FoldUpper(c);
    return s;
}

// Listings of folders by folded name, so that looking up many missing names in one folder (a counting pass over
// a destination, a copy into it) reads it once.
//
// A listing is kept up to date from the kernel's change notifications of its folder: every name created, moved
// or deleted there, by this process or any other, is queued before the call that made the change returns, and
// the queue is read before each use of a listing. Where notifications cannot be had, a listing is kept only
// while the folder's times do not change, and not at all for a folder changed within the last moments, whose
// times may not yet tell a later change apart.
struct Listing {
    std::string folder;
    dev_t dev = 0;
    ino_t ino = 0;
    int watch = -1; // notification watch, -1 when the listing is checked by the folder's times
    struct timespec mtime = {};
    struct timespec ctime = {};
    // Folded name -> the names in the folder that fold to it; the smallest in byte order answers.
    std::unordered_map<std::u16string, std::set<std::string>> byFolded;

    void Add(const char* name) { byFolded[Folded(platform::Utf8ToUtf16(name))].insert(name); }
    void Remove(const char* name) {
        auto it = byFolded.find(Folded(platform::Utf8ToUtf16(name)));
        if (it == byFolded.end())
            return;
        it->second.erase(name);
        if (it->second.empty())
            byFolded.erase(it);
    }
    std::optional<std::string> Find(const std::u16string& folded) const {
        auto it = byFolded.find(folded);
        if (it == byFolded.end())
            return std::nullopt;
        return *it->second.begin();
    }
};

constexpr size_t kCachedListings = 16;
constexpr int64_t kSettledNs = 200'000'000;
constexpr uint32_t kWatchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct ListingCache {
    std::mutex mutex;
    std::list<Listing> listings; // most recently used first
    int notifier = -1;           // inotify descriptor; -1 before the first use or when unavailable
    bool notifierTried = false;

    // Call with the mutex held.
    void Drop(std::list<Listing>::iterator it) {
        if (it->watch >= 0 && notifier >= 0)
            inotify_rm_watch(notifier, it->watch);
        listings.erase(it);
    }
    void DropAll() {
        while (!listings.empty())
            Drop(listings.begin());
    }
    int Notifier() {
        if (!notifierTried) {
            notifierTried = true;
            notifier = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        }
        return notifier;
    }
    // Applies the queued notifications to the listings.
    void CatchUp() {
        if (notifier < 0)
            return;
        alignas(struct inotify_event) char buffer[16384];
        while (true) {
            ssize_t n = read(notifier, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return; // nothing more (EAGAIN)
            // A read that left room for another event took everything that was queued when it was made.
            const bool drained = n + static_cast<ssize_t>(sizeof(struct inotify_event) + NAME_MAX + 1) <=
                                 static_cast<ssize_t>(sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const struct inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
                if (e->mask & IN_Q_OVERFLOW) {
                    DropAll(); // changes were lost: nothing cached can be trusted
                    continue;
                }
                auto it =
                    std::find_if(listings.begin(), listings.end(), [&](const Listing& l) { return l.watch == e->wd; });
                if (it == listings.end())
                    continue;
                if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                    if (e->mask & IN_IGNORED)
                        it->watch = -1; // the kernel has dropped the watch already
                    Drop(it);
                    continue;
                }
                if (e->len == 0)
                    continue;
                if (e->mask & (IN_CREATE | IN_MOVED_TO))
                    it->Add(e->name);
                else if (e->mask & (IN_DELETE | IN_MOVED_FROM))
                    it->Remove(e->name);
            }
            if (drained)
                return;
        }
    }
};

ListingCache& TheListingCache() {
    static ListingCache cache;
    return cache;
}

// A child made by fork shares the notification queue with its parent; it starts afresh instead.
void LockListingsForFork() {
    TheListingCache().mutex.lock();
}
void UnlockListingsAfterFork() {
    TheListingCache().mutex.unlock();
}
void ResetListingsInChild() {
    ListingCache& cache = TheListingCache();
    if (cache.notifier >= 0)
        close(cache.notifier);
    cache.notifier = -1;
    cache.notifierTried = false;
    cache.listings.clear();
    cache.mutex.unlock();
}
[[maybe_unused]] const bool g_listingsForkSafe =
    (pthread_atfork(&LockListingsForFork, &UnlockListingsAfterFork, &ResetListingsInChild), true);

bool Same(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool ReadListing(const std::string& folder, Listing& listing) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    listing.folder = folder;
    while (struct dirent* e = readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        listing.Add(n);
    }
    closedir(dir);
    return true;
}

// Looks for `name` ignoring case in `folder`, a folder whose stat is `st`.
std::optional<std::string> FindNoCase(const std::string& folder, const struct stat& st, const std::u16string& name) {
    const std::u16string key = Folded(name);
    ListingCache& cache = TheListingCache();
    std::lock_guard lock(cache.mutex);
    cache.CatchUp();
    auto& listings = cache.listings;
    for (auto it = listings.begin(); it != listings.end(); ++it) {
        if (it->dev != st.st_dev || it->ino != st.st_ino)
            continue;
        if (it->watch < 0 && !(it->folder == folder && Same(it->mtime, st.st_mtim) && Same(it->ctime, st.st_ctim)))
            continue;
        listings.splice(listings.begin(), listings, it);
        return it->Find(key);
    }
    // Read afresh. The watch goes on first, so that a change made while the folder is read is applied after.
    Listing listing;
    listing.dev = st.st_dev;
    listing.ino = st.st_ino;
    listing.mtime = st.st_mtim;
    listing.ctime = st.st_ctim;
    if (int notifier = cache.Notifier(); notifier >= 0)
        listing.watch = inotify_add_watch(notifier, folder.c_str(), kWatchedEvents);
    // The watch belongs to the inode at this path now; a folder replaced since the stat is not cached.
    struct stat now;
    const bool same = stat(folder.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
    if (listing.watch >= 0 && !same) {
        if (std::none_of(listings.begin(), listings.end(), [&](const Listing& l) { return l.watch == listing.watch; }))
            inotify_rm_watch(cache.notifier, listing.watch);
        listing.watch = -1;
    }
    if (!ReadListing(folder, listing)) {
        if (listing.watch >= 0 &&
            std::none_of(listings.begin(), listings.end(), [&](const Listing& l) { return l.watch == listing.watch; }))
            inotify_rm_watch(cache.notifier, listing.watch);
        return std::nullopt;
    }
    std::optional<std::string> result = listing.Find(key);
    bool keep = same;
    if (listing.watch < 0) {
        struct timespec clock;
        clock_gettime(CLOCK_REALTIME, &clock);
        const int64_t age = (static_cast<int64_t>(clock.tv_sec) - st.st_ctim.tv_sec) * 1'000'000'000 +
                            (clock.tv_nsec - st.st_ctim.tv_nsec);
        keep = keep && age > kSettledNs;
    }
    if (keep) {
        listings.push_front(std::move(listing));
        if (listings.size() > kCachedListings)
            cache.Drop(std::prev(listings.end()));
    }
    return result;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool FolderStat(const std::string& path, struct stat& st) {
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace
} // namespace platform::fs

namespace platform::fs {

// `missing` tells whether the last name was seen not to exist (neither in the exact case nor in another);
// `found` gets the stat of the whole path when it exists as written.
std::string ResolveCase(const std::string& root, const std::vector<std::u16string>& comps, bool& missing,
                        std::optional<detail::HostStat>& found) {
    missing = false;
    found.reset();
    if (comps.empty())
        return root;
    std::vector<std::string> names;
    names.reserve(comps.size());
    for (const auto& c : comps)
        names.push_back(platform::Utf16ToUtf8(c));
    auto join = [&](size_t count) {
        std::string p = root;
        for (size_t i = 0; i < count; ++i)
            p = JoinHost(p, names[i]);
        return p;
    };
    std::string exact = join(names.size());
    // The existence check of the whole path is the stat its caller wants anyway.
    if (detail::HostStat st; detail::StatPath(AT_FDCWD, exact.c_str(), st)) {
        found = st;
        return exact;
    }
    const bool absent = errno == ENOENT;
    // Most misses are new names in an existing folder: only the last component needs a look.
    std::string parent = join(names.size() - 1);
    struct stat folder;
    if (FolderStat(parent, folder)) {
        if (auto found = FindNoCase(parent, folder, comps.back()))
            return JoinHost(parent, *found);
        missing = absent;
        return exact;
    }
    std::string current = root;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string candidate = JoinHost(current, names[i]);
        if (!Exists(candidate) && FolderStat(current, folder)) {
            if (auto found = FindNoCase(current, folder, comps[i])) {
                current = JoinHost(current, *found);
                continue;
            }
        }
        current = candidate;
    }
    return current;
}

} // namespace platform::fs
