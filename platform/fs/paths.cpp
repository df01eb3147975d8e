#include "platform/fs/paths.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/hostfs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <pwd.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace platform::fs {

namespace {

constexpr size_t kMaxPathLength = 32767;

// ---- The drive and share tables -------------------------------------------------------------------------------

// Values in the table files escape the characters that structure a line.
std::string Escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '%' || c == ';' || c == '\n' || c == '\r' || c == '=') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const char hex[3] = {s[i + 1], s[i + 2], 0};
            char* end = nullptr;
            long v = std::strtol(hex, &end, 16);
            if (end == hex + 2) {
                out += static_cast<char>(v);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::string TrimHostRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return TrimHostRoot(home);
    if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return TrimHostRoot(pw->pw_dir);
    return "/";
}

DWORD DefaultSerial(WCHAR letter, const std::string& root) {
    // FNV-1a over the letter and the host folder: stable across runs and machines with the same layout.
    uint32_t h = 2166136261u;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 16777619u;
    };
    mix(static_cast<unsigned char>(letter));
    for (char c : root)
        mix(static_cast<unsigned char>(c));
    return h;
}

const char* KindName(DriveKind kind) {
    switch (kind) {
    case DriveKind::Removable:
        return "removable";
    case DriveKind::Fixed:
        return "fixed";
    case DriveKind::Remote:
        return "remote";
    case DriveKind::CdRom:
        return "cdrom";
    case DriveKind::RamDisk:
        return "ramdisk";
    case DriveKind::Unknown:
        break;
    }
    return "unknown";
}

DriveKind KindFromName(std::string_view name) {
    if (name == "removable")
        return DriveKind::Removable;
    if (name == "fixed")
        return DriveKind::Fixed;
    if (name == "remote")
        return DriveKind::Remote;
    if (name == "cdrom")
        return DriveKind::CdRom;
    if (name == "ramdisk")
        return DriveKind::RamDisk;
    return DriveKind::Unknown;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool ReadWhole(const std::string& path, std::string& text) {
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return true;
}

// Written whole or not at all, so that another process never reads half a table.
bool WriteWhole(const std::string& path, const std::string& text) {
    const std::string temp = path + ".new" + std::to_string(getpid());
    FILE* f = std::fopen(temp.c_str(), "wbe");
    if (!f)
        return platform::FailErrno(), false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok &= std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    ok &= std::fclose(f) == 0;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(temp.c_str());
        return platform::FailErrno(err ? err : EIO), false;
    }
    return true;
}

struct FileKey {
    std::string path;
    ino_t ino = 0;
    off_t size = -1;
    struct timespec mtime = {};
    bool operator==(const FileKey& o) const {
        return path == o.path && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

FileKey KeyOf(const std::string& path) {
    FileKey key;
    key.path = path;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        key.ino = st.st_ino;
        key.size = st.st_size;
        key.mtime = st.st_mtim;
    }
    return key;
}

struct ShareEntry {
    std::u16string server;
    std::u16string share;
    std::string hostRoot;
};

// The tables are read again whenever their file changes (another process may edit them) or the machine folder
// is another one.
struct Tables {
    std::mutex mutex;
    FileKey drivesKey;
    bool drivesLoaded = false;
    int64_t drivesCheckedNs = 0; // when the drive table's file was last looked at (monotonic)
    std::vector<DriveInfo> drives;
    FileKey sharesKey;
    bool sharesLoaded = false;
    std::vector<ShareEntry> shares;
};

Tables& TheTables() {
    static Tables tables;
    return tables;
}

std::vector<DriveInfo> ParseDrives(const std::string& text) {
    std::vector<DriveInfo> drives;
    bool sawC = false;
    for (const std::string& line : SplitLines(text)) {
        if (line.size() < 2 || line[1] != '=')
            continue;
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
        if (letter < 'A' || letter > 'Z')
            continue;
        if (letter == 'C')
            sawC = true;
        std::vector<std::string> fields;
        size_t start = 2;
        while (true) {
            size_t semi = line.find(';', start);
            fields.push_back(line.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
            if (semi == std::string::npos)
                break;
            start = semi + 1;
        }
        std::string root = Unescape(fields[0]);
        std::erase_if(drives, [&](const DriveInfo& d) { return d.letter == static_cast<WCHAR>(letter); });
        if (root.empty())
            continue; // an empty folder removes the letter (also the default C:)
        DriveInfo info;
        info.letter = static_cast<WCHAR>(letter);
        info.hostRoot = TrimHostRoot(root);
        bool haveSerial = false;
        for (size_t i = 1; i < fields.size(); ++i) {
            auto eq = fields[i].find('=');
            if (eq == std::string::npos)
                continue;
            std::string key = fields[i].substr(0, eq);
            std::string value = Unescape(fields[i].substr(eq + 1));
            if (key == "type")
                info.kind = KindFromName(value);
            else if (key == "label")
                info.label = platform::Utf8ToUtf16(value);
            else if (key == "serial") {
                info.serial = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 16));
                haveSerial = true;
            } else if (key == "fs")
                info.fileSystem = platform::Utf8ToUtf16(value);
        }
        if (!haveSerial)
            info.serial = DefaultSerial(info.letter, info.hostRoot);
        drives.push_back(std::move(info));
    }
    if (!sawC) {
        DriveInfo c;
        c.letter = u'C';
        c.hostRoot = HomeFolder();
        c.serial = DefaultSerial(c.letter, c.hostRoot);
        drives.push_back(std::move(c));
    }
    std::sort(drives.begin(), drives.end(), [](const DriveInfo& a, const DriveInfo& b) { return a.letter < b.letter; });
    return drives;
}

int64_t MonotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// How long a translation may use the drive table without looking at its file again. A letter the table lacks
// always has the file looked at again, so a letter another process adds is seen at once; a letter another
// process moves elsewhere is seen within this time. Changes made by this process are seen at once.
constexpr int64_t kDrivesTrustedNs = 20'000'000;

// Call with the tables' mutex held. `mayReuse` lets a table checked within the last moments be used as it is.
const std::vector<DriveInfo>& LoadedDrives(Tables& t, bool mayReuse = false) {
    const std::string path = machine::PathOf("drives");
    const int64_t now = MonotonicNs();
    if (mayReuse && t.drivesLoaded && t.drivesKey.path == path && now - t.drivesCheckedNs < kDrivesTrustedNs)
        return t.drives;
    FileKey key = KeyOf(path);
    t.drivesCheckedNs = now;
    if (!t.drivesLoaded || !(key == t.drivesKey)) {
        std::string text;
        ReadWhole(path, text);
        t.drives = ParseDrives(text);
        t.drivesKey = key;
        t.drivesLoaded = true;
    }
    return t.drives;
}

const std::vector<ShareEntry>& LoadedShares(Tables& t) {
    const std::string path = machine::PathOf("shares");
    FileKey key = KeyOf(path);
    if (!t.sharesLoaded || !(key == t.sharesKey)) {
        std::string text;
        ReadWhole(path, text);
        t.shares.clear();
        for (const std::string& line : SplitLines(text)) {
            // server;share=host folder
            auto eq = line.find('=');
            auto semi = line.find(';');
            if (eq == std::string::npos || semi == std::string::npos || semi > eq)
                continue;
            ShareEntry e{platform::Utf8ToUtf16(Unescape(line.substr(0, semi))),
                         platform::Utf8ToUtf16(Unescape(line.substr(semi + 1, eq - semi - 1))),
                         TrimHostRoot(Unescape(line.substr(eq + 1)))};
            std::erase_if(t.shares, [&](const ShareEntry& o) {
                return platform::EqualsNoCase(o.server, e.server) && platform::EqualsNoCase(o.share, e.share);
            });
            if (!e.hostRoot.empty())
                t.shares.push_back(std::move(e));
        }
        t.sharesKey = key;
        t.sharesLoaded = true;
    }
    return t.shares;
}

std::string FormatDrives(const std::vector<DriveInfo>& drives) {
    std::string text;
    bool haveC = false;
    for (const DriveInfo& d : drives) {
        if (d.letter == u'C')
            haveC = true;
        char head[3] = {static_cast<char>(d.letter), '=', 0};
        char serial[16];
        std::snprintf(serial, sizeof serial, "%08X", d.serial);
        text += head + Escape(d.hostRoot) + ";type=" + KindName(d.kind) +
                ";label=" + Escape(platform::Utf16ToUtf8(d.label)) + ";serial=" + serial +
                ";fs=" + Escape(platform::Utf16ToUtf8(d.fileSystem)) + "\n";
    }
    if (!haveC)
        text += "C=\n"; // keeps the default C: away once it was removed
    return text;
}

std::optional<std::string> DriveRoot(WCHAR letter) {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    for (bool mayReuse : {true, false})
        for (const DriveInfo& d : LoadedDrives(t, mayReuse))
            if (d.letter == letter)
                return d.hostRoot;
    return std::nullopt;
}

std::optional<std::string> ShareRoot(const std::u16string& server, const std::u16string& share) {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    for (const ShareEntry& e : LoadedShares(t))
        if (platform::EqualsNoCase(e.server, server) && platform::EqualsNoCase(e.share, share))
            return e.hostRoot;
    return std::nullopt;
}

// ---- Parsing Windows paths ------------------------------------------------------------------------------------

struct Parsed {
    enum Kind { Drive, Unc, Device } kind = Drive;
    WCHAR letter = u'C';
    std::u16string server;
    std::u16string share;
    std::u16string device;
    std::vector<std::u16string> components;
};

std::mutex g_cwdMutex;
Parsed& CurrentDirectory() {
    static Parsed cwd; // C:\ until the program sets another
    return cwd;
}

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

WCHAR UpperLetter(WCHAR c) {
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}
bool IsLetter(WCHAR c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

void AppendComponents(std::vector<std::u16string>& out, std::u16string_view rest) {
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = rest.size();
        std::u16string_view comp = rest.substr(start, end - start);
        if (comp.empty() || comp == u".") {
            // nothing
        } else if (comp == u"..") {
            if (!out.empty())
                out.pop_back();
        } else {
            out.emplace_back(comp);
        }
        start = end + 1;
    }
}

std::optional<Parsed> Parse(LPCWSTR input, DWORD& error) {
    if (!input || !*input) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    std::u16string s(input);
    if (s.size() > kMaxPathLength) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    std::replace(s.begin(), s.end(), u'/', u'\\');
    if (StartsWith(s, u"\\\\?\\") || StartsWith(s, u"\\??\\")) {
        s.erase(0, 4);
        if (s.size() >= 4 && platform::EqualsNoCase(std::u16string_view(s).substr(0, 4), u"UNC\\"))
            s = u"\\\\" + s.substr(4);
    } else if (StartsWith(s, u"\\\\.\\")) {
        std::u16string rest = s.substr(4);
        // "\\.\C:\folder" reaches a file through the device namespace; "\\.\C:" and "\\.\NAME" are devices.
        if (!(rest.size() > 3 && IsLetter(rest[0]) && rest[1] == u':' && rest[2] == u'\\')) {
            while (!rest.empty() && rest.back() == u'\\')
                rest.pop_back();
            if (rest.empty()) {
                error = ERROR_INVALID_NAME;
                return std::nullopt;
            }
            Parsed p;
            p.kind = Parsed::Device;
            p.device = rest;
            return p;
        }
        s = rest;
    }

    Parsed p;
    if (StartsWith(s, u"\\\\")) {
        std::u16string_view rest = std::u16string_view(s).substr(2);
        size_t a = rest.find(u'\\');
        p.kind = Parsed::Unc;
        p.server = std::u16string(rest.substr(0, a));
        std::u16string_view afterServer = a == std::u16string_view::npos ? u"" : rest.substr(a + 1);
        size_t b = afterServer.find(u'\\');
        p.share = std::u16string(afterServer.substr(0, b));
        if (p.server.empty() || p.share.empty()) {
            error = ERROR_BAD_NETPATH;
            return std::nullopt;
        }
        if (b != std::u16string_view::npos)
            AppendComponents(p.components, afterServer.substr(b + 1));
        return p;
    }
    Parsed cwd;
    {
        std::lock_guard lock(g_cwdMutex);
        cwd = CurrentDirectory();
    }
    if (s.size() >= 2 && s[1] == u':') {
        if (!IsLetter(s[0])) {
            error = ERROR_INVALID_NAME;
            return std::nullopt;
        }
        p.kind = Parsed::Drive;
        p.letter = UpperLetter(s[0]);
        std::u16string_view rest = std::u16string_view(s).substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // "X:name" is relative to the current folder when it is on X:, else to X:'s root.
            if (cwd.kind == Parsed::Drive && cwd.letter == p.letter)
                p.components = cwd.components;
        }
        AppendComponents(p.components, rest);
        return p;
    }
    p = cwd;
    if (s[0] == u'\\')
        p.components.clear();
    AppendComponents(p.components, s);
    return p;
}

std::u16string Format(const Parsed& p) {
    std::u16string out;
    switch (p.kind) {
    case Parsed::Device:
        return u"\\\\.\\" + p.device;
    case Parsed::Unc:
        out = u"\\\\" + p.server + u"\\" + p.share;
        if (p.components.empty())
            return out + u"\\";
        break;
    case Parsed::Drive:
        out = std::u16string{p.letter, u':'};
        if (p.components.empty())
            return out + u"\\";
        break;
    }
    for (const std::u16string& c : p.components)
        out += u"\\" + c;
    return out;
}

// ---- Finding names in the exact or another case -------------------------------------------------------------

std::string JoinHost(const std::string& folder, const std::string& name) {
    if (folder == "/")
        return "/" + name;
    return folder + "/" + name;
}

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

// ---- Registration with the base layer -------------------------------------------------------------------------

bool MapToHost(const std::u16string& windowsPath, std::string& hostPath) {
    auto host = ToHost(windowsPath.c_str());
    if (!host || host->kind != PathKind::File)
        return false;
    hostPath = host->path;
    return true;
}

bool MapToWindows(const std::string& hostPath, std::u16string& windowsPath) {
    auto w = ToWindows(hostPath);
    if (!w)
        return false;
    windowsPath = *w;
    return true;
}

void RegisterMappers() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::SetPathMapper(&MapToHost);
        platform::SetReversePathMapper(&MapToWindows);
    });
}

[[maybe_unused]] const bool g_registered = (RegisterMappers(), true);

std::string NormalizeHost(const std::string& path) {
    std::string out;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

DWORD ReturnPath(const std::u16string& path, DWORD size, LPWSTR buffer) {
    if (!buffer || size < path.size() + 1)
        return static_cast<DWORD>(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

} // namespace

namespace {

std::mutex g_providerMutex;
std::vector<DriveProvider>& Providers() {
    static std::vector<DriveProvider> providers;
    return providers;
}

// The letters of every provider, each letter once (the first provider that names it wins), valid letters only.
std::vector<DriveInfo> ProvidedDrives() {
    std::vector<DriveProvider> providers;
    {
        std::lock_guard lock(g_providerMutex);
        providers = Providers();
    }
    std::vector<DriveInfo> drives;
    for (const DriveProvider& provider : providers) {
        for (DriveInfo& d : provider()) {
            d.letter = UpperLetter(d.letter);
            if (d.letter < u'A' || d.letter > u'Z')
                continue;
            if (std::none_of(drives.begin(), drives.end(), [&](const DriveInfo& o) { return o.letter == d.letter; }))
                drives.push_back(std::move(d));
        }
    }
    return drives;
}

std::vector<DriveInfo> TableDrives() {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    return LoadedDrives(t);
}

} // namespace

void RegisterDriveProvider(DriveProvider provider) {
    if (!provider)
        return;
    std::lock_guard lock(g_providerMutex);
    Providers().push_back(std::move(provider));
}

std::vector<DriveInfo> Drives() {
    std::vector<DriveInfo> drives = TableDrives();
    bool added = false;
    for (DriveInfo& d : ProvidedDrives()) {
        if (std::any_of(drives.begin(), drives.end(), [&](const DriveInfo& o) { return o.letter == d.letter; }))
            continue;
        drives.push_back(std::move(d));
        added = true;
    }
    if (added)
        std::sort(drives.begin(), drives.end(),
                  [](const DriveInfo& a, const DriveInfo& b) { return a.letter < b.letter; });
    return drives;
}

std::optional<DriveInfo> Drive(WCHAR letter) {
    letter = UpperLetter(letter);
    {
        Tables& t = TheTables();
        std::lock_guard lock(t.mutex);
        for (const DriveInfo& d : LoadedDrives(t))
            if (d.letter == letter)
                return d;
    }
    for (DriveInfo& d : ProvidedDrives())
        if (d.letter == letter)
            return std::move(d);
    return std::nullopt;
}

bool SetDrive(const DriveInfo& input) {
    DriveInfo info = input;
    info.letter = UpperLetter(info.letter);
    if (info.letter < u'A' || info.letter > u'Z' || info.hostRoot.empty() || info.hostRoot[0] != '/')
        return platform::Fail(ERROR_INVALID_PARAMETER), false;
    info.hostRoot = TrimHostRoot(info.hostRoot);
    if (info.serial == 0)
        info.serial = DefaultSerial(info.letter, info.hostRoot);
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    std::vector<DriveInfo> drives = LoadedDrives(t);
    std::erase_if(drives, [&](const DriveInfo& d) { return d.letter == info.letter; });
    drives.push_back(info);
    std::sort(drives.begin(), drives.end(), [](const DriveInfo& a, const DriveInfo& b) { return a.letter < b.letter; });
    if (!WriteWhole(machine::PathOf("drives"), FormatDrives(drives)))
        return false;
    t.drivesLoaded = false;
    return true;
}

bool RemoveDrive(WCHAR letter) {
    letter = UpperLetter(letter);
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    std::vector<DriveInfo> drives = LoadedDrives(t);
    if (std::erase_if(drives, [&](const DriveInfo& d) { return d.letter == letter; }) == 0)
        return platform::Fail(ERROR_INVALID_DRIVE), false;
    if (!WriteWhole(machine::PathOf("drives"), FormatDrives(drives)))
        return false;
    t.drivesLoaded = false;
    return true;
}

namespace {

bool WriteShares(Tables& t, const std::vector<ShareEntry>& shares) {
    std::string text;
    for (const ShareEntry& e : shares)
        text += Escape(platform::Utf16ToUtf8(e.server)) + ";" + Escape(platform::Utf16ToUtf8(e.share)) + "=" +
                Escape(e.hostRoot) + "\n";
    if (!WriteWhole(machine::PathOf("shares"), text))
        return false;
    t.sharesLoaded = false;
    return true;
}

} // namespace

bool SetShare(const std::u16string& server, const std::u16string& share, const std::string& hostRoot) {
    if (server.empty() || share.empty() || hostRoot.empty() || hostRoot[0] != '/')
        return platform::Fail(ERROR_INVALID_PARAMETER), false;
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    std::vector<ShareEntry> shares = LoadedShares(t);
    std::erase_if(shares, [&](const ShareEntry& e) {
        return platform::EqualsNoCase(e.server, server) && platform::EqualsNoCase(e.share, share);
    });
    shares.push_back(ShareEntry{server, share, TrimHostRoot(hostRoot)});
    return WriteShares(t, shares);
}

bool RemoveShare(const std::u16string& server, const std::u16string& share) {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    std::vector<ShareEntry> shares = LoadedShares(t);
    if (std::erase_if(shares, [&](const ShareEntry& e) {
            return platform::EqualsNoCase(e.server, server) && platform::EqualsNoCase(e.share, share);
        }) == 0)
        return platform::Fail(ERROR_BAD_NET_NAME), false;
    return WriteShares(t, shares);
}

namespace detail {

namespace {

// Resolve's work; `lookUp` false joins the components as written without looking at the disk.
std::optional<ResolvedPath> ResolveWith(LPCWSTR windowsPath, bool lookUp) {
    RegisterMappers();
    DWORD error = ERROR_SUCCESS;
    auto parsed = Parse(windowsPath, error);
    if (!parsed) {
        platform::Fail(error);
        return std::nullopt;
    }
    ResolvedPath r;
    if (parsed->kind == Parsed::Device) {
        r.host.kind = PathKind::Device;
        r.host.device = parsed->device;
        return r;
    }
    std::optional<std::string> root;
    if (parsed->kind == Parsed::Drive) {
        root = DriveRoot(parsed->letter);
        if (!root) {
            // A provider's letter: a raw disk exists, but nothing below it can be named.
            const auto provided = Drive(parsed->letter);
            if (provided && !provided->raw && !provided->hostRoot.empty()) {
                root = TrimHostRoot(provided->hostRoot);
            } else {
                platform::Fail(provided && provided->raw ? ERROR_UNRECOGNIZED_VOLUME : ERROR_PATH_NOT_FOUND);
                return std::nullopt;
            }
        }
        r.letter = parsed->letter;
    } else {
        root = ShareRoot(parsed->server, parsed->share);
        if (!root) {
            platform::Fail(ERROR_BAD_NETPATH);
            return std::nullopt;
        }
    }
    r.host.kind = PathKind::File;
    if (lookUp) {
        r.host.path = ResolveCase(*root, parsed->components, r.knownMissing, r.found);
    } else {
        r.host.path = *root;
        for (const auto& c : parsed->components)
            r.host.path = JoinHost(r.host.path, platform::Utf16ToUtf8(c));
    }
    r.isRoot = parsed->components.empty();
    if (!r.isRoot) {
        r.lastName = parsed->components.back();
        auto slash = r.host.path.find_last_of('/');
        r.hostParent = slash == 0 ? "/" : r.host.path.substr(0, slash);
    } else {
        r.hostParent = r.host.path;
    }
    return r;
}

} // namespace

std::optional<ResolvedPath> Resolve(LPCWSTR windowsPath) {
    return ResolveWith(windowsPath, true);
}

std::optional<std::string> ExactHostPath(LPCWSTR windowsPath) {
    const DWORD saved = GetLastError();
    auto r = ResolveWith(windowsPath, false);
    SetLastError(saved);
    if (!r || r->host.kind != PathKind::File)
        return std::nullopt;
    return std::move(r->host.path);
}

} // namespace detail

std::optional<HostPath> ToHost(LPCWSTR windowsPath) {
    auto r = detail::Resolve(windowsPath);
    if (!r)
        return std::nullopt;
    return r->host;
}

std::optional<std::u16string> ToWindows(const std::string& hostPath) {
    if (hostPath.empty() || hostPath[0] != '/')
        return std::nullopt;
    const std::string path = NormalizeHost(hostPath);
    const DriveInfo* best = nullptr;
    // Only the table's letters have host folders.
    auto drives = TableDrives();
    for (const DriveInfo& d : drives) {
        const std::string& root = d.hostRoot;
        bool inside =
            path == root || root == "/" ||
            (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
        if (inside && (!best || root.size() > best->hostRoot.size()))
            best = &d;
    }
    if (!best)
        return std::nullopt;
    std::string rest = path.substr(best->hostRoot == "/" ? 1 : std::min(path.size(), best->hostRoot.size() + 1));
    std::u16string out{best->letter, u':', u'\\'};
    std::u16string rest16 = platform::Utf8ToUtf16(rest);
    std::replace(rest16.begin(), rest16.end(), u'/', u'\\');
    return out + rest16;
}

std::u16string NormalizeWindowsPath(std::u16string path) {
    DWORD error = ERROR_SUCCESS;
    auto parsed = Parse(path.c_str(), error);
    return parsed ? Format(*parsed) : path;
}

} // namespace platform::fs

using platform::fs::detail::Resolve;

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    std::u16string path;
    {
        std::lock_guard lock(platform::fs::g_cwdMutex);
        path = platform::fs::Format(platform::fs::CurrentDirectory());
    }
    return platform::fs::ReturnPath(path, size, buffer);
}

BOOL SetCurrentDirectoryW(LPCWSTR path) {
    DWORD error = ERROR_SUCCESS;
    auto parsed = platform::fs::Parse(path, error);
    if (!parsed)
        return platform::Fail(error), FALSE;
    if (parsed->kind == platform::fs::Parsed::Device)
        return platform::Fail(ERROR_INVALID_NAME), FALSE;
    auto resolved = Resolve(path);
    if (!resolved)
        return FALSE;
    struct stat st;
    if (stat(resolved->host.path.c_str(), &st) != 0)
        return platform::Fail(platform::fs::detail::ErrorForPath(errno, resolved->host.path)), FALSE;
    if (!S_ISDIR(st.st_mode))
        return platform::Fail(ERROR_DIRECTORY), FALSE;
    std::lock_guard lock(platform::fs::g_cwdMutex);
    platform::fs::CurrentDirectory() = *parsed;
    return TRUE;
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    DWORD error = ERROR_SUCCESS;
    auto parsed = platform::fs::Parse(fileName, error);
    if (!parsed)
        return platform::Fail(error), 0;
    std::u16string full = platform::fs::Format(*parsed);
    DWORD n = platform::fs::ReturnPath(full, size, buffer);
    if (filePart && n < size) {
        auto slash = full.find_last_of(u'\\');
        *filePart = (slash == std::u16string::npos || slash + 1 == full.size()) ? nullptr : buffer + slash + 1;
    }
    return n;
}

// There are no short names on this host: both give the path as the caller wrote it once it is known to exist.
static DWORD ExistingPathAsGiven(LPCWSTR path, LPWSTR out, DWORD size) {
    auto resolved = Resolve(path);
    if (!resolved)
        return 0;
    if (resolved->host.kind == platform::fs::PathKind::File) {
        struct stat st;
        if (lstat(resolved->host.path.c_str(), &st) != 0)
            return platform::Fail(platform::fs::detail::ErrorForPath(errno, resolved->host.path)), 0;
    }
    return platform::fs::ReturnPath(std::u16string(path), size, out);
}

DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size) {
    return ExistingPathAsGiven(shortPath, longPath, size);
}

DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    return ExistingPathAsGiven(longPath, shortPath, size);
}
