// The desktop's data as the freedesktop specifications lay it out: the user's folders (user-dirs.dirs), file types
// (the shared MIME database's globs2), applications (desktop entries and mimeapps.list) and icon themes.
#include "platform/shell/shell_internal.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/system/processes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::shell {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The environment the user's folders and the icon theme are found from, as one text to compare: the variables'
// values as they stand (HOME's fallback, the password database, does not change while the program runs).
std::string DesktopEnvironment() {
    std::string key;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
        if (const char* value = std::getenv(name))
            key += value;
        key += '\n';
    }
    return key;
}

// Whether DesktopEnvironment() would give `key` now, without building it: asked a few times per item of a listing.
bool DesktopEnvironmentIs(const std::string& key) {
    // The answer stands while the environment stands: setenv, unsetenv and putenv each change the array, its
    // length or one of its entries (a new value is a new entry), so a fingerprint of those tells, at the cost of a
    // walk over the array instead of four searches through it.
    thread_local char** lastArray = nullptr;
    thread_local size_t lastLength = 0;
    thread_local uintptr_t lastPrint = 0;
    thread_local std::string lastKey;
    thread_local bool lastAnswer = false;
    char** const array = environ;
    size_t length = 0;
    uintptr_t print = 0;
    for (char** entry = array; entry && *entry; ++entry)
        print += reinterpret_cast<uintptr_t>(*entry) * ++length;
    if (array == lastArray && length == lastLength && print == lastPrint && key == lastKey)
        return lastAnswer;
    size_t at = 0;
    bool same = true;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
        const char* value = std::getenv(name);
        const size_t n = value ? std::strlen(value) : 0;
        if (key.size() < at + n + 1 || (n && key.compare(at, n, value, n) != 0) || key[at + n] != '\n') {
            same = false;
            break;
        }
        at += n + 1;
    }
    same = same && at == key.size();
    lastArray = array;
    lastLength = length;
    lastPrint = print;
    lastKey = key;
    lastAnswer = same;
    return same;
}

std::string Home() {
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()))
        return pw->pw_dir;
    return "/";
}

std::string ConfigHome() {
    const std::string v = Env("XDG_CONFIG_HOME");
    return v.empty() ? Home() + "/.config" : v;
}

std::string DataHome() {
    const std::string v = Env("XDG_DATA_HOME");
    return v.empty() ? Home() + "/.local/share" : v;
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':'))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

std::vector<std::string> DataDirs() {
    std::string v = Env("XDG_DATA_DIRS");
    if (v.empty())
        v = "/usr/local/share:/usr/share";
    return SplitColons(v);
}

std::vector<std::string> ConfigDirs() {
    std::string v = Env("XDG_CONFIG_DIRS");
    if (v.empty())
        v = "/etc/xdg";
    return SplitColons(v);
}

// The data folders in the order of precedence: the user's first.
std::vector<std::string> AllDataDirs() {
    std::vector<std::string> dirs{DataHome()};
    for (const std::string& d : DataDirs())
        dirs.push_back(d);
    return dirs;
}

int64_t ModifiedNs(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

std::string Trim(std::string s) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Groups of an ini-like file (desktop entries, mimeapps.list, index.theme): group -> key -> value, first wins.
using IniGroups = std::map<std::string, std::map<std::string, std::string>>;

IniGroups ReadIni(const std::string& path) {
    IniGroups groups;
    std::vector<std::string> lines;
    if (!ReadLines(path, lines))
        return groups;
    std::string group;
    for (const std::string& raw : lines) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        groups[group].emplace(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
    return groups;
}

std::vector<std::string> SplitList(const std::string& text, char separator = ';') {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        part = Trim(part);
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

std::u16string WindowsOf(const std::string& host) {
    if (host.empty())
        return {};
    auto path = platform::fs::ToWindows(host);
    return path ? *path : std::u16string();
}

// ---- User folders ----

struct HostFolders {
    std::string key;
    std::string profile, desktop, documents, favorites, fonts, appData, localAppData;
    // The last names of the desktop, documents, favorites and fonts folders; any path may be one of them when one
    // of these folders has no last name of its own.
    std::vector<std::u16string> leaves;
    bool anyLeaf = false;
};

// Expands "$HOME/x" as user-dirs.dirs writes its values.
std::string ExpandUserDir(const std::string& value, const std::string& home) {
    std::string v = value;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0)
        return home + v.substr(5);
    if (!v.empty() && v[0] == '/')
        return v;
    return {};
}

// How long the user's folders stand without looking at "user-dirs.dirs" again: a listing asks for them once per
// item, and a folder renamed by the desktop is seen within this time (the drive table's letters are trusted as
// long).
constexpr auto kHostFoldersTrusted = std::chrono::milliseconds(20);

std::shared_ptr<const HostFolders> CurrentHostFolders() {
    static std::mutex mutex;
    static std::shared_ptr<const HostFolders> cached = std::make_shared<const HostFolders>();
    static std::string cachedPlace;
    static std::chrono::steady_clock::time_point checked;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex);
        if (!cached->key.empty() && now - checked < kHostFoldersTrusted && DesktopEnvironmentIs(cachedPlace))
            return cached;
    }
    const std::string place = DesktopEnvironment();
    const std::string home = Home();
    const std::string userDirs = ConfigHome() + "/user-dirs.dirs";
    const std::string key = place + std::to_string(ModifiedNs(userDirs));
    std::lock_guard lock(mutex);
    cachedPlace = place;
    checked = now;
    if (cached->key == key)
        return cached;
    auto made = std::make_shared<HostFolders>();
    HostFolders& f = *made;
    f.key = key;
    f.profile = home;
    f.desktop = home + "/Desktop";
    f.documents = home + "/Documents";
    std::vector<std::string> lines;
    ReadLines(userDirs, lines);
    for (const std::string& raw : lines) {
        const std::string line = Trim(raw);
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos)
            continue;
        const std::string name = line.substr(0, eq);
        const std::string value = ExpandUserDir(line.substr(eq + 1), home);
        if (value.empty())
            continue;
        if (name == "XDG_DESKTOP_DIR")
            f.desktop = value;
        else if (name == "XDG_DOCUMENTS_DIR")
            f.documents = value;
    }
    while (f.desktop.size() > 1 && f.desktop.back() == '/')
        f.desktop.pop_back();
    while (f.documents.size() > 1 && f.documents.back() == '/')
        f.documents.pop_back();
    f.favorites = home + "/Favorites";
    f.fonts = DataHome() + "/fonts";
    f.appData = ConfigHome();
    f.localAppData = DataHome();
    for (const std::string* folder : {&f.desktop, &f.documents, &f.favorites, &f.fonts}) {
        std::string name = *folder;
        while (name.size() > 1 && name.back() == '/')
            name.pop_back();
        name = name.substr(name.find_last_of('/') + 1);
        if (name.empty() || name == "." || name == "..")
            f.anyLeaf = true;
        else
            f.leaves.push_back(platform::Utf8ToUtf16(name));
    }
    cached = made;
    return cached;
}

} // namespace

UserFolders GetUserFolders() {
    // Kept while neither the user's folders nor the drive table changed: item names and pictures ask for them
    // once per item.
    static std::mutex mutex;
    static std::string cachedKey;
    static uint64_t cachedVersion = 0;
    static UserFolders cached;
    const std::shared_ptr<const HostFolders> folders = CurrentHostFolders();
    const HostFolders& h = *folders;
    const uint64_t version = platform::fs::DriveTableVersion();
    {
        std::lock_guard lock(mutex);
        if (!cachedKey.empty() && cachedKey == h.key && cachedVersion == version)
            return cached;
    }
    UserFolders u;
    u.profile = WindowsOf(h.profile);
    u.desktop = WindowsOf(h.desktop);
    u.documents = WindowsOf(h.documents);
    u.favorites = WindowsOf(h.favorites);
    u.fonts = WindowsOf(h.fonts);
    u.appData = WindowsOf(h.appData);
    u.localAppData = WindowsOf(h.localAppData);
    std::lock_guard lock(mutex);
    // A translation that looked at the table anew (a folder without a letter) kept it as it was read.
    if (platform::fs::DriveTableVersion() == version) {
        cachedKey = h.key;
        cachedVersion = version;
        cached = u;
    }
    return u;
}

std::u16string SpecialFolderDisplayName(const std::u16string& path) {
    if (path.size() <= 3)
        return {};
    // A folder keeps its last name on either side of the drive table, so only a path ending in the name of one
    // of the four folders can be one of them; everything else is answered without mapping the folders (a listing
    // of thousands of items asks this for each).
    const size_t slash = path.find_last_of(u'\\');
    const std::u16string_view leaf =
        slash == std::u16string::npos ? std::u16string_view(path) : std::u16string_view(path).substr(slash + 1);
    const std::shared_ptr<const HostFolders> h = CurrentHostFolders();
    bool candidate = h->anyLeaf;
    for (const std::u16string& name : h->leaves)
        candidate = candidate || EqualNoCase(name, leaf);
    if (!candidate)
        return {};
    const UserFolders u = GetUserFolders();
    const std::pair<const std::u16string*, const char16_t*> names[] = {
        {&u.desktop, u"Desktop"}, {&u.documents, u"My Documents"}, {&u.favorites, u"Favorites"}, {&u.fonts, u"Fonts"}};
    for (const auto& [folder, name] : names)
        if (!folder->empty() && EqualNoCase(*folder, path))
            return name;
    return {};
}

// ---- File types ----

namespace {

struct Glob {
    int weight = 50;
    std::string type;
    std::string pattern; // lower-cased unless caseSensitive
    bool caseSensitive = false;
};

bool GlobMatch(const char* p, const char* s) {
    const char* star = nullptr;
    const char* retry = nullptr;
    while (*s) {
        if (*p == '*') {
            star = ++p;
            retry = s;
        } else if (*p == '?' || *p == *s) {
            ++p;
            ++s;
        } else if (*p == '[') {
            const char* close = std::strchr(p, ']');
            if (close && std::find(p + 1, close, *s) != close) {
                p = close + 1;
                ++s;
            } else if (star) {
                p = star;
                s = ++retry;
            } else {
                return false;
            }
        } else if (star) {
            p = star;
            s = ++retry;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return !*p;
}

// The globs, with the plain "*.ext" ones also found by their extension.
struct GlobTable {
    std::vector<Glob> globs;
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::vector<size_t>, Hash, std::equal_to<>> byExtension; // ".ext" of "*.ext"
    // The other globs, each with the plain character it ends in (0 when it ends in a wildcard): most names are let
    // go by that character alone, without looking at the glob.
    struct Other {
        char end = 0;
        bool caseSensitive = false;
        size_t index = 0;
    };
    std::vector<Other> others;
};

// The globs of every MIME database, read again when a globs2 file changed; the files are looked at again at most
// once a second, since a listing asks for the type of every file it shows.
std::shared_ptr<const GlobTable> CurrentGlobs() {
    static std::mutex mutex;
    static std::string cachedKey;
    static std::shared_ptr<const GlobTable> cached;
    static std::chrono::steady_clock::time_point checked;
    static std::string checkedEnv;
    std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    // The databases' folders follow from the variables DesktopEnvironment() gathers.
    if (cached && now - checked < std::chrono::seconds(1) && DesktopEnvironmentIs(checkedEnv))
        return cached;
    checked = now;
    checkedEnv = DesktopEnvironment();
    std::vector<std::string> files;
    std::string key;
    for (const std::string& dir : AllDataDirs()) {
        const std::string file = dir + "/mime/globs2";
        key += file + '@' + std::to_string(ModifiedNs(file)) + '\n';
        files.push_back(file);
    }
    if (cached && key == cachedKey)
        return cached;
    auto table = std::make_shared<GlobTable>();
    std::vector<Glob>* globs = &table->globs;
    std::set<std::string> seenTypes; // a type listed by an earlier (more important) folder hides later globs
    for (const std::string& file : files) {
        std::vector<std::string> lines;
        if (!ReadLines(file, lines))
            continue;
        std::set<std::string> typesHere;
        for (const std::string& line : lines) {
            if (line.empty() || line[0] == '#')
                continue;
            std::vector<std::string> fields;
            std::stringstream in(line);
            std::string field;
            while (std::getline(in, field, ':'))
                fields.push_back(field);
            if (fields.size() < 3 || seenTypes.count(fields[1]))
                continue;
            Glob g;
            g.weight = std::atoi(fields[0].c_str());
            g.type = fields[1];
            g.caseSensitive = fields.size() > 3 && fields[3].find("cs") != std::string::npos;
            g.pattern = g.caseSensitive ? fields[2] : Lower(fields[2]);
            typesHere.insert(g.type);
            globs->push_back(std::move(g));
        }
        seenTypes.insert(typesHere.begin(), typesHere.end());
    }
    for (size_t i = 0; i < globs->size(); ++i) {
        const std::string& p = (*globs)[i].pattern;
        if (!(*globs)[i].caseSensitive && p.size() > 2 && p[0] == '*' && p[1] == '.' &&
            p.find_first_of("*?[", 1) == std::string::npos)
            table->byExtension[p.substr(1)].push_back(i);
        else
            table->others.push_back(GlobTable::Other{
                p.empty() || p.back() == '*' || p.back() == '?' || p.back() == ']' ? '\0' : p.back(),
                (*globs)[i].caseSensitive, i});
    }
    cachedKey = key;
    cached = table;
    return cached;
}

} // namespace

std::string MimeTypeOf(const std::u16string& name, bool folder) {
    if (folder)
        return "inode/directory";
    // Asked for every file of a listing: the name's two spellings reuse this thread's buffers.
    thread_local std::string exact, lower;
    exact.clear();
    if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; })) {
        exact.resize(name.size());
        for (size_t i = 0; i < name.size(); ++i)
            exact[i] = static_cast<char>(name[i]);
    } else {
        exact = Utf16ToUtf8(name);
    }
    lower.assign(exact);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    const std::shared_ptr<const GlobTable> table = CurrentGlobs();
    const Glob* best = nullptr;
    auto consider = [&](const Glob& g) {
        if (!best || g.weight > best->weight || (g.weight == best->weight && g.pattern.size() > best->pattern.size()))
            best = &g;
    };
    for (size_t dot = lower.find('.'); dot != std::string::npos; dot = lower.find('.', dot + 1))
        if (auto it = table->byExtension.find(std::string_view(lower).substr(dot)); it != table->byExtension.end())
            for (size_t i : it->second)
                consider(table->globs[i]);
    for (const GlobTable::Other& other : table->others) {
        const std::string& name = other.caseSensitive ? exact : lower;
        // A pattern that ends in a plain character matches only names that end in it.
        if (other.end && (name.empty() || name.back() != other.end))
            continue;
        const Glob& g = table->globs[other.index];
        if (GlobMatch(g.pattern.c_str(), name.c_str()))
            consider(g);
    }
    return best ? best->type : "application/octet-stream";
}

// ---- Applications ----

namespace {

struct Entry {
    DesktopApp app;
    std::vector<std::string> types;
};

// Every visible application entry by desktop-file id; the user's folder hides the same id further down.
std::map<std::string, Entry> Applications(std::vector<std::string>& order) {
    std::map<std::string, Entry> entries;
    for (const std::string& dir : AllDataDirs()) {
        std::vector<std::pair<std::string, std::string>> stack{{dir + "/applications", ""}};
        while (!stack.empty()) {
            auto [folder, prefix] = stack.back();
            stack.pop_back();
            DIR* d = opendir(folder.c_str());
            if (!d)
                continue;
            std::vector<std::string> names;
            while (dirent* e = readdir(d))
                names.emplace_back(e->d_name);
            closedir(d);
            std::sort(names.begin(), names.end());
            for (const std::string& n : names) {
                if (n == "." || n == "..")
                    continue;
                const std::string path = folder + "/" + n;
                struct stat info {};
                if (stat(path.c_str(), &info) != 0)
                    continue;
                if (S_ISDIR(info.st_mode)) {
                    stack.emplace_back(path, prefix + n + "-");
                    continue;
                }
                if (n.size() < 8 || n.compare(n.size() - 8, 8, ".desktop") != 0)
                    continue;
                const std::string id = prefix + n;
                if (entries.count(id))
                    continue;
                IniGroups ini = ReadIni(path);
                auto& group = ini["Desktop Entry"];
                Entry e;
                e.app.id = id;
                e.app.path = path;
                e.app.name = Utf8ToUtf16(group["Name"]);
                e.app.exec = group["Exec"];
                e.app.icon = group["Icon"];
                e.types = SplitList(group["MimeType"]);
                const bool hidden = group["Hidden"] == "true";
                const bool usable = group["Type"] == "Application" && !e.app.exec.empty() && !hidden;
                // A hidden entry still hides the same id further down the folders.
                entries.emplace(id, std::move(e));
                if (usable)
                    order.push_back(id);
                else
                    entries[id].app.exec.clear();
            }
        }
    }
    return entries;
}

std::vector<std::string> MimeAppsFiles() {
    std::vector<std::string> files{ConfigHome() + "/mimeapps.list"};
    for (const std::string& d : ConfigDirs())
        files.push_back(d + "/mimeapps.list");
    files.push_back(DataHome() + "/applications/mimeapps.list");
    for (const std::string& d : DataDirs())
        files.push_back(d + "/applications/mimeapps.list");
    return files;
}

} // namespace

std::vector<DesktopApp> AppsForMimeType(const std::string& mimeType) {
    std::vector<std::string> order;
    std::map<std::string, Entry> entries = Applications(order);
    std::vector<std::string> defaults, added;
    std::set<std::string> removed;
    for (const std::string& file : MimeAppsFiles()) {
        IniGroups ini = ReadIni(file);
        auto pick = [&](const char* group, std::vector<std::string>& into) {
            auto g = ini.find(group);
            if (g == ini.end())
                return;
            auto v = g->second.find(mimeType);
            if (v == g->second.end())
                return;
            for (const std::string& id : SplitList(v->second))
                if (!removed.count(id))
                    into.push_back(id);
        };
        pick("Default Applications", defaults);
        pick("Added Associations", added);
        if (auto g = ini.find("Removed Associations"); g != ini.end())
            if (auto v = g->second.find(mimeType); v != g->second.end())
                for (const std::string& id : SplitList(v->second))
                    removed.insert(id);
    }
    std::vector<DesktopApp> apps;
    std::set<std::string> taken;
    auto take = [&](const std::string& id) {
        auto it = entries.find(id);
        if (it == entries.end() || it->second.app.exec.empty() || taken.count(id) || removed.count(id))
            return;
        taken.insert(id);
        apps.push_back(it->second.app);
    };
    for (const std::string& id : defaults)
        take(id);
    for (const std::string& id : added)
        take(id);
    for (const std::string& id : order)
        if (std::find(entries[id].types.begin(), entries[id].types.end(), mimeType) != entries[id].types.end())
            take(id);
    return apps;
}

namespace {

// Splits an Exec line by the desktop entry rules: blanks separate, double quotes group, and inside quotes a
// backslash escapes '"', '`', '$' and '\'.
std::vector<std::string> SplitExec(const std::string& exec) {
    std::vector<std::string> args;
    std::string cur;
    bool inArg = false, quoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1])) {
                cur += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            quoted = true;
            inArg = true;
        } else if (c == ' ' || c == '\t') {
            if (inArg)
                args.push_back(cur);
            cur.clear();
            inArg = false;
        } else {
            cur += c;
            inArg = true;
        }
    }
    if (inArg)
        args.push_back(cur);
    return args;
}

// Quotes one argument so that the C runtime's splitting of a Windows command line gives it back unchanged.
std::u16string QuoteArgument(const std::u16string& arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos)
        return arg;
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : arg) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"')
            out.append(backslashes * 2 + 1, u'\\');
        else
            out.append(backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, u'\\');
    out += u'"';
    return out;
}

} // namespace

DWORD LaunchApp(const DesktopApp& app, const std::vector<std::string>& hostFiles, const std::string& hostFolder,
                HANDLE* process) {
    if (process)
        *process = nullptr;
    std::vector<std::string> args;
    for (const std::string& token : SplitExec(app.exec)) {
        if (token == "%f" || token == "%u") {
            if (!hostFiles.empty())
                args.push_back(hostFiles.front());
            continue;
        }
        if (token == "%F" || token == "%U") {
            args.insert(args.end(), hostFiles.begin(), hostFiles.end());
            continue;
        }
        if (token == "%i") {
            if (!app.icon.empty()) {
                args.push_back("--icon");
                args.push_back(app.icon);
            }
            continue;
        }
        std::string arg;
        for (size_t i = 0; i < token.size(); ++i) {
            if (token[i] != '%' || i + 1 == token.size()) {
                arg += token[i];
                continue;
            }
            const char code = token[++i];
            if (code == '%')
                arg += '%';
            else if (code == 'c')
                arg += Utf16ToUtf8(app.name);
            else if (code == 'k')
                arg += app.path;
        }
        args.push_back(arg);
    }
    if (args.empty())
        return ERROR_NO_ASSOCIATION;
    // The program: a bare name is looked up along PATH by CreateProcessW; a host path by its Windows name or, when
    // it has none, by its file name along PATH.
    std::u16string program = Utf8ToUtf16(args.front());
    if (!args.front().empty() && args.front()[0] == '/') {
        const std::u16string windows = WindowsOf(args.front());
        program = windows.empty() ? Utf8ToUtf16(args.front().substr(args.front().rfind('/') + 1)) : windows;
    }
    std::u16string commandLine = QuoteArgument(program);
    for (size_t i = 1; i < args.size(); ++i)
        commandLine += u' ' + QuoteArgument(Utf8ToUtf16(args[i]));
    const std::u16string folder = WindowsOf(hostFolder);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::vector<char16_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(0);
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        return GetLastError();
    CloseHandle(pi.hThread);
    if (process)
        *process = pi.hProcess;
    else
        CloseHandle(pi.hProcess);
    return ERROR_SUCCESS;
}

// ---- Icons ----

namespace {

struct ThemeDir {
    std::string path; // relative to the theme
    int size = 0;
    int minSize = 0, maxSize = 0;
};

struct Theme {
    std::vector<std::string> roots; // host folders of the theme, by precedence
    std::vector<ThemeDir> dirs;
    std::vector<std::string> inherits;
};

std::vector<std::string> IconBases() {
    std::vector<std::string> bases{Home() + "/.icons"};
    for (const std::string& d : AllDataDirs())
        bases.push_back(d + "/icons");
    return bases;
}

std::optional<Theme> LoadTheme(const std::string& name) {
    Theme theme;
    IniGroups index;
    for (const std::string& base : IconBases()) {
        const std::string root = base + "/" + name;
        struct stat info {};
        if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            continue;
        theme.roots.push_back(root);
        if (index.empty())
            index = ReadIni(root + "/index.theme");
    }
    if (theme.roots.empty())
        return std::nullopt;
    auto& head = index["Icon Theme"];
    theme.inherits = SplitList(head["Inherits"], ',');
    for (const std::string& dir : SplitList(head["Directories"], ',')) {
        auto& g = index[dir];
        ThemeDir d;
        d.path = dir;
        d.size = std::atoi(g["Size"].c_str());
        d.minSize = g.count("MinSize") ? std::atoi(g["MinSize"].c_str()) : d.size;
        d.maxSize = g.count("MaxSize") ? std::atoi(g["MaxSize"].c_str()) : d.size;
        if (g["Type"] == "Threshold" || g["Type"].empty()) {
            const int threshold = g.count("Threshold") ? std::atoi(g["Threshold"].c_str()) : 2;
            d.minSize = d.size - threshold;
            d.maxSize = d.size + threshold;
        }
        theme.dirs.push_back(d);
    }
    return theme;
}

std::string ConfiguredTheme() {
    IniGroups gtk = ReadIni(ConfigHome() + "/gtk-3.0/settings.ini");
    std::string name = gtk["Settings"]["gtk-icon-theme-name"];
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    return name;
}

std::string LookupInTheme(const Theme& theme, const std::string& icon, int size) {
    std::string best;
    int bestDistance = INT_MAX;
    for (const ThemeDir& d : theme.dirs) {
        const int distance = size < d.minSize ? d.minSize - size : (size > d.maxSize ? size - d.maxSize : 0);
        if (distance >= bestDistance)
            continue;
        for (const std::string& root : theme.roots) {
            const std::string file = root + "/" + d.path + "/" + icon + ".png";
            if (access(file.c_str(), R_OK) == 0) {
                best = file;
                bestDistance = distance;
                break;
            }
        }
    }
    return best;
}

} // namespace

std::string IconThemeKey() {
    return DesktopEnvironment();
}

bool IconThemeKeyIs(const std::string& key) {
    return DesktopEnvironmentIs(key);
}

std::string FindThemeIcon(const std::string& name, int size) {
    static std::mutex mutex;
    static std::map<std::string, std::string> cache;
    const std::string key = DesktopEnvironment() + name + '@' + std::to_string(size);
    {
        std::lock_guard lock(mutex);
        if (auto it = cache.find(key); it != cache.end())
            return it->second;
    }
    std::vector<std::string> chain;
    const std::string configured = ConfiguredTheme();
    if (!configured.empty())
        chain.push_back(configured);
    chain.push_back("Adwaita");
    std::string found;
    std::set<std::string> seen;
    for (size_t i = 0; i < chain.size() && found.empty(); ++i) {
        if (!seen.insert(chain[i]).second)
            continue;
        auto theme = LoadTheme(chain[i]);
        if (!theme)
            continue;
        found = LookupInTheme(*theme, name, size);
        for (const std::string& parent : theme->inherits)
            chain.push_back(parent);
    }
    if (found.empty() && !seen.count("hicolor"))
        if (auto theme = LoadTheme("hicolor"))
            found = LookupInTheme(*theme, name, size);
    std::lock_guard lock(mutex);
    cache[key] = found;
    return found;
}

} // namespace platform::shell
