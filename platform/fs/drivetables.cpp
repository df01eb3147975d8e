// The drive and share tables: the machine folder's "drives" and "shares" files, read again when they change,
// and the letters of the drive providers.

#include "platform/fs/paths.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths_internal.h"
#include "platform/fs/wholefile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::fs {
namespace {

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

} // namespace
} // namespace platform::fs

namespace platform::fs {

std::string TrimHostRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

} // namespace platform::fs

namespace platform::fs {
namespace {

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
    if (const DWORD error = WriteWholeFile(path, text))
        return platform::Fail(error), false;
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
    uint64_t drivesVersion = 0;  // counts the loads of the drive table
    std::vector<DriveInfo> drives;
    FileKey sharesKey;
    bool sharesLoaded = false;
    std::vector<ShareEntry> shares;
};

Tables& TheTables() {
    static auto* tables = new Tables; // never destroyed: threads still running at exit look up drives
    return *tables;
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
        ++t.drivesVersion;
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

} // namespace
} // namespace platform::fs

namespace platform::fs {

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

} // namespace platform::fs

namespace platform::fs {
namespace {

std::mutex g_providerMutex;
// Never destroyed: threads of the program that still run while it exits (change notices, for one) ask for the
// drives after the static objects have gone.
std::vector<DriveProvider>& Providers() {
    static auto* providers = new std::vector<DriveProvider>;
    return *providers;
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

} // namespace
} // namespace platform::fs

namespace platform::fs {

uint64_t DriveTableVersion() {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    LoadedDrives(t, true);
    return t.drivesVersion;
}

std::vector<DriveInfo> TableDrives() {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    return LoadedDrives(t);
}

void RegisterDriveProvider(DriveProvider provider) {
    if (!provider)
        return;
    std::lock_guard lock(g_providerMutex);
    Providers().push_back(std::move(provider));
}

namespace {

std::mutex g_drivesListenerMutex;
std::vector<DrivesChangedListener>& DrivesListeners() {
    static auto* listeners = new std::vector<DrivesChangedListener>();
    return *listeners;
}

} // namespace

void AddDrivesChangedListener(DrivesChangedListener listener) {
    if (!listener)
        return;
    std::lock_guard lock(g_drivesListenerMutex);
    DrivesListeners().push_back(std::move(listener));
}

void NotifyDrivesChanged() {
    std::vector<DrivesChangedListener> listeners;
    {
        std::lock_guard lock(g_drivesListenerMutex);
        listeners = DrivesListeners();
    }
    for (const auto& listener : listeners)
        listener();
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

} // namespace platform::fs

namespace platform::fs {
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
} // namespace platform::fs

namespace platform::fs {

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

std::vector<ShareInfo> Shares() {
    Tables& t = TheTables();
    std::lock_guard lock(t.mutex);
    std::vector<ShareInfo> shares;
    for (const ShareEntry& e : LoadedShares(t))
        shares.push_back(ShareInfo{e.server, e.share, e.hostRoot});
    return shares;
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

} // namespace platform::fs
