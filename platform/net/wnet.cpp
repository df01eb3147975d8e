// Share connections over the machine's share table. The connections of the log-on session are kept in the
// machine folder ("net/connections"), the servers' accounts beside them ("net/accounts"); every change is a
// read, modify and whole-file write under a lock file, so that processes of the machine never lose each other's
// connections.
#include "platform/net/wnet.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/fs/wholefile.h"
#include "platform/net/smb_client.h"
#include "platform/registry/registry.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char16_t* kProviderName = u"Microsoft Windows Network";
constexpr const char16_t* kNetworkKey = u"Network";

struct Connection {
    std::u16string local; // "X:" or empty
    std::u16string server;
    std::u16string share; // empty for the server itself
    std::u16string user;  // empty with `anonymous` for the anonymous session
    bool anonymous = false;
    bool smb = false;  // a real SMB server rather than one of the share table
    std::string mount; // an SMB share's host folder, where its server exports it

    std::u16string Remote() const { return share.empty() ? u"\\\\" + server : u"\\\\" + server + u"\\" + share; }
};

struct Account {
    std::u16string server;
    std::u16string user;
    std::u16string password;
};

// ---- Files -------------------------------------------------------------------------------------------------------

std::string Escape(const std::u16string& text) {
    std::string out;
    for (char c : platform::Utf16ToUtf8(text)) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return platform::Utf8ToUtf16(out);
}

std::vector<std::vector<std::string>> ReadRecords(const std::string& path) {
    std::vector<std::vector<std::string>> records;
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f)
        return records;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::vector<std::string> fields;
        size_t field = start;
        while (true) {
            const size_t tab = text.find('\t', field);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(text.substr(field, end - field));
                break;
            }
            fields.push_back(text.substr(field, tab - field));
            field = tab + 1;
        }
        records.push_back(std::move(fields));
        start = end + 1;
    }
    return records;
}

std::string NetFolder() {
    const std::string folder = platform::machine::PathOf("net");
    mkdir(folder.c_str(), 0700);
    return folder;
}

// The lock of the connection files, across processes and threads.
class StateLock {
public:
    StateLock() : m_threads(Mutex()) {
        m_fd = open((NetFolder() + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            flock(m_fd, LOCK_EX);
    }
    ~StateLock() {
        if (m_fd >= 0)
            close(m_fd); // releases the lock
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    std::lock_guard<std::mutex> m_threads;
    int m_fd = -1;
};

std::string CurrentLogon() {
    if (const char* logon = std::getenv("WINLAYER_LOGON"); logon && *logon)
        return logon;
    std::string boot;
    if (FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, f))
            boot = buf;
        std::fclose(f);
    }
    while (!boot.empty() && (boot.back() == '\n' || boot.back() == '\r'))
        boot.pop_back();
    return boot.empty() ? "boot" : boot;
}

std::u16string CurrentUser() {
    if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_name)
        return platform::Utf8ToUtf16(pw->pw_name);
    return u"user";
}

std::vector<Account> LoadAccounts() {
    std::vector<Account> accounts;
    for (const auto& f : ReadRecords(NetFolder() + "/accounts"))
        if (f.size() >= 3)
            accounts.push_back(Account{Unescape(f[0]), Unescape(f[1]), Unescape(f[2])});
    return accounts;
}

bool SaveAccounts(const std::vector<Account>& accounts) {
    std::string text;
    for (const Account& a : accounts)
        text += Escape(a.server) + "\t" + Escape(a.user) + "\t" + Escape(a.password) + "\n";
    if (DWORD error = platform::fs::WriteWholeFile(NetFolder() + "/accounts", text))
        return platform::Fail(error), false;
    return true;
}

// ---- Passwords of SMB sessions -------------------------------------------------------------------------------------
//
// A real server asks for the password at every request of a new process: the password of each server's session
// stays in "net/sessions" while a connection to the server lasts, and that of a remembered connection in
// "net/remembered" until it is forgotten, so that it comes back at the next log-on. Both files are the user's
// own (mode 0600 in the 0700 folder "net"), as Windows keeps them in the user's credentials.

struct Secret {
    std::u16string key; // the server (sessions) or the letter (remembered)
    std::u16string user;
    std::u16string password;
};

std::vector<Secret> LoadSecrets(const char* file) {
    std::vector<Secret> secrets;
    for (const auto& f : ReadRecords(NetFolder() + "/" + file))
        if (f.size() >= 3)
            secrets.push_back(Secret{Unescape(f[0]), Unescape(f[1]), Unescape(f[2])});
    return secrets;
}

void SaveSecrets(const char* file, const std::vector<Secret>& secrets) {
    const std::string path = NetFolder() + "/" + file;
    if (secrets.empty()) {
        unlink(path.c_str());
        return;
    }
    std::string text;
    for (const Secret& s : secrets)
        text += Escape(s.key) + "\t" + Escape(s.user) + "\t" + Escape(s.password) + "\n";
    platform::fs::WriteWholeFile(path, text);
    chmod(path.c_str(), 0600);
}

void PutSecret(const char* file, const Secret& secret) {
    std::vector<Secret> secrets = LoadSecrets(file);
    std::erase_if(secrets, [&](const Secret& s) { return platform::EqualsNoCase(s.key, secret.key); });
    secrets.push_back(secret);
    SaveSecrets(file, secrets);
}

void DropSecret(const char* file, const std::u16string& key) {
    std::vector<Secret> secrets = LoadSecrets(file);
    if (std::erase_if(secrets, [&](const Secret& s) { return platform::EqualsNoCase(s.key, key); }))
        SaveSecrets(file, secrets);
}

std::optional<Secret> FindSecret(const char* file, const std::u16string& key) {
    for (Secret& s : LoadSecrets(file))
        if (platform::EqualsNoCase(s.key, key))
            return std::move(s);
    return std::nullopt;
}

constexpr const char* kSessions = "sessions";
constexpr const char* kRemembered = "remembered";

platform::net::smb::Credentials SmbCredentials(const std::u16string& user, const std::u16string& password) {
    return {platform::Utf16ToUtf8(user), platform::Utf16ToUtf8(password)};
}

// ---- The session's connections -------------------------------------------------------------------------------------

struct State {
    std::string logon;
    std::vector<Connection> connections;
};

std::string StatePath() {
    return NetFolder() + "/connections";
}

State ReadState() {
    State state;
    const auto records = ReadRecords(StatePath());
    for (size_t i = 0; i < records.size(); ++i) {
        const auto& f = records[i];
        if (i == 0) {
            state.logon = f.empty() ? std::string() : f[0];
            continue;
        }
        if (f.size() < 5)
            continue;
        Connection c;
        c.local = Unescape(f[0]);
        c.server = Unescape(f[1]);
        c.share = Unescape(f[2]);
        c.user = Unescape(f[3]);
        c.anonymous = f[4] == "anonymous";
        if (f.size() >= 7 && f[5] == "smb") {
            c.smb = true;
            c.mount = platform::Utf16ToUtf8(Unescape(f[6]));
        }
        state.connections.push_back(std::move(c));
    }
    return state;
}

DWORD WriteState(const State& state) {
    std::string text = state.logon + "\n";
    for (const Connection& c : state.connections)
        text += Escape(c.local) + "\t" + Escape(c.server) + "\t" + Escape(c.share) + "\t" + Escape(c.user) + "\t" +
                (c.anonymous ? "anonymous" : "user") + "\t" + (c.smb ? "smb" : "table") + "\t" +
                Escape(platform::Utf8ToUtf16(c.mount)) + "\n";
    return platform::fs::WriteWholeFile(StatePath(), text);
}

// SMB shares are mounted below this folder, one folder per server and share; while a share is connected, the
// share table names its folder too, so that its UNC paths reach it. Those entries are not servers of the table.
std::string SmbFolder() {
    return NetFolder() + "/smb";
}

bool IsSmbMount(const std::string& hostRoot) {
    const std::string folder = SmbFolder() + "/";
    return hostRoot.compare(0, folder.size(), folder) == 0;
}

std::string SafeName(const std::u16string& name) {
    std::string out;
    std::u16string upper = name;
    for (char16_t& c : upper)
        c = towupper_w(c);
    for (char c : platform::Utf16ToUtf8(upper)) {
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_') {
            out += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        }
    }
    return out;
}

std::string SmbMountOf(const std::u16string& server, const std::u16string& share) {
    return SmbFolder() + "/" + SafeName(server) + "/" + SafeName(share);
}

std::optional<std::string> ShareRoot(const std::u16string& server, const std::u16string& share) {
    for (const auto& s : platform::fs::Shares())
        if (platform::EqualsNoCase(s.server, server) && platform::EqualsNoCase(s.share, share) &&
            !IsSmbMount(s.hostRoot))
            return s.hostRoot;
    return std::nullopt;
}

// A server of the machine's share table; any other name is taken for a real SMB server.
bool ServerKnown(const std::u16string& server) {
    for (const auto& s : platform::fs::Shares())
        if (platform::EqualsNoCase(s.server, server) && !IsSmbMount(s.hostRoot))
            return true;
    return false;
}

void MapLetter(const Connection& c) {
    const auto root = c.smb ? std::optional<std::string>(c.mount) : ShareRoot(c.server, c.share);
    if (c.local.empty() || !root || root->empty())
        return;
    platform::fs::DriveInfo info;
    info.letter = c.local[0];
    info.hostRoot = *root;
    info.kind = platform::fs::DriveKind::Remote;
    info.label = c.share;
    platform::fs::SetDrive(info);
}

// A connection the user's profile remembers, read from HKEY_CURRENT_USER\Network.
struct Remembered {
    std::u16string local;
    std::u16string remote;
    std::u16string user;
};

std::u16string QueryText(HKEY key, const char16_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    std::u16string text(size / sizeof(WCHAR) + 1, u'\0');
    size = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size) != ERROR_SUCCESS)
        return {};
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return text;
}

std::vector<Remembered> ReadRemembered() {
    std::vector<Remembered> remembered;
    HKEY network = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kNetworkKey, 0, KEY_READ, &network) != ERROR_SUCCESS)
        return remembered;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64] = {};
        DWORD size = 64;
        if (RegEnumKeyExW(network, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY key = nullptr;
        if (RegOpenKeyExW(network, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        Remembered r{std::u16string(name) + u":", QueryText(key, u"RemotePath"), QueryText(key, u"UserName")};
        RegCloseKey(key);
        if (!r.remote.empty())
            remembered.push_back(std::move(r));
    }
    RegCloseKey(network);
    return remembered;
}

void Remember(const Connection& c) {
    HKEY key = nullptr;
    const std::u16string path = std::u16string(kNetworkKey) + u"\\" + c.local.substr(0, 1);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    auto setText = [&](const char16_t* name, const std::u16string& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    };
    auto setNumber = [&](const char16_t* name, DWORD value) {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    };
    setText(u"RemotePath", c.Remote());
    setText(u"UserName", c.anonymous ? std::u16string() : c.user);
    setText(u"ProviderName", kProviderName);
    setNumber(u"ProviderType", 0x20000);
    setNumber(u"ConnectionType", 1);
    RegCloseKey(key);
}

bool Forget(const std::u16string& local) {
    const std::u16string path = std::u16string(kNetworkKey) + u"\\" + local.substr(0, 1);
    return RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS;
}

bool ParseRemote(const std::u16string& remote, std::u16string& server, std::u16string& share) {
    if (remote.size() < 3 || (remote[0] != u'\\' && remote[0] != u'/') || (remote[1] != u'\\' && remote[1] != u'/'))
        return false;
    std::u16string rest = remote.substr(2);
    std::replace(rest.begin(), rest.end(), u'/', u'\\');
    while (!rest.empty() && rest.back() == u'\\')
        rest.pop_back();
    const size_t slash = rest.find(u'\\');
    server = rest.substr(0, slash);
    share = slash == std::u16string::npos ? std::u16string() : rest.substr(slash + 1);
    return !server.empty() && share.find(u'\\') == std::u16string::npos;
}

// A real SMB server is named by its address, as the NAS dialogs name it: a name would have to be looked up on
// the network (DNS, NetBIOS broadcasts), which the layer does not do on a caller's behalf.
bool IsSmbServer(const std::u16string& server) {
    const std::string name = platform::Utf16ToUtf8(server);
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, name.c_str(), &v4) == 1 || inet_pton(AF_INET6, name.c_str(), &v6) == 1;
}

// Connects a real server's share (mounted at its folder, or the mount its other connections use) or its
// session alone (no share, or "IPC$"): 0 or the error.
DWORD ConnectSmb(Connection& c, const std::u16string& password, const std::vector<Connection>& existing) {
    namespace smb = platform::net::smb;
    c.smb = true;
    const smb::Credentials credentials = c.anonymous ? smb::Credentials{} : SmbCredentials(c.user, password);
    const std::string server = platform::Utf16ToUtf8(c.server);
    if (c.share.empty() || platform::EqualsNoCase(c.share, u"IPC$"))
        return smb::Logon(server, "", credentials);
    c.mount = SmbMountOf(c.server, c.share);
    const bool mounted = std::any_of(existing.begin(), existing.end(),
                                     [&](const Connection& o) { return o.smb && o.mount == c.mount; }) &&
                         smb::IsMounted(c.mount);
    const std::string share = platform::Utf16ToUtf8(c.share);
    if (DWORD error =
            mounted ? smb::Logon(server, share, credentials) : smb::Mount(server, share, credentials, c.mount))
        return error;
    platform::fs::SetShare(c.server, c.share, c.mount);
    return ERROR_SUCCESS;
}

// What a real server's connection that is gone leaves behind (its letter is the caller's): the mount and the
// share table's entry once no connection of `remaining` uses them, the session's password once no connection to
// the server remains.
void ReleaseSmb(const Connection& gone, const std::vector<Connection>& remaining) {
    if (!gone.smb)
        return;
    if (!gone.mount.empty() && std::none_of(remaining.begin(), remaining.end(),
                                            [&](const Connection& o) { return o.smb && o.mount == gone.mount; })) {
        platform::fs::RemoveShare(gone.server, gone.share);
        platform::net::smb::Unmount(gone.mount);
    }
    if (std::none_of(remaining.begin(), remaining.end(),
                     [&](const Connection& o) { return o.smb && platform::EqualsNoCase(o.server, gone.server); }))
        DropSecret(kSessions, gone.server);
}

// The session as it is now: a new log-on drops the connections of the last one and makes the remembered ones
// again; a real server's share whose mount is gone (its server ended) is no longer connected. Call with the state
// lock held.
State CurrentState() {
    State state = ReadState();
    const std::string logon = CurrentLogon();
    if (state.logon == logon) {
        std::vector<Connection> gone;
        std::erase_if(state.connections, [&](const Connection& c) {
            if (!c.smb || c.mount.empty() || platform::net::smb::IsMounted(c.mount))
                return false;
            gone.push_back(c);
            return true;
        });
        for (const Connection& c : gone) {
            if (!c.local.empty())
                platform::fs::RemoveDrive(c.local[0]);
            ReleaseSmb(c, state.connections);
        }
        if (!gone.empty())
            WriteState(state);
        return state;
    }
    for (const Connection& c : state.connections) {
        if (!c.local.empty())
            platform::fs::RemoveDrive(c.local[0]);
        ReleaseSmb(c, {});
    }
    state.connections.clear();
    state.logon = logon;
    for (const Remembered& r : ReadRemembered()) {
        Connection c;
        c.local = r.local;
        c.user = r.user;
        c.anonymous = r.user.empty();
        if (!ParseRemote(r.remote, c.server, c.share))
            continue;
        if (ServerKnown(c.server)) {
            if (!ShareRoot(c.server, c.share))
                continue;
        } else {
            // A real server takes the password the profile kept with the connection; without it, or when the
            // server does not answer, the connection stays remembered but is not made.
            const auto secret = FindSecret(kRemembered, c.local);
            if (!IsSmbServer(c.server) || !secret || ConnectSmb(c, secret->password, state.connections) != 0)
                continue;
            if (!c.anonymous)
                PutSecret(kSessions, Secret{c.server, c.user, secret->password});
        }
        MapLetter(c);
        state.connections.push_back(std::move(c));
    }
    WriteState(state);
    return state;
}

DWORD Answer(DWORD error) {
    SetLastError(error);
    return error;
}

bool IsLocalDrive(const std::u16string& name) {
    if (name.size() != 2 || name[1] != u':')
        return false;
    const char16_t c = static_cast<char16_t>(name[0] & ~0x20);
    return c >= u'A' && c <= u'Z';
}

std::u16string UpperLocal(const std::u16string& name) {
    return std::u16string(1, static_cast<char16_t>(name[0] & ~0x20)) + u":";
}

// Whether the server lets this user in: 0 or the error.
DWORD Logon(const std::vector<Account>& accounts, const std::u16string& server, const std::u16string& share,
            bool anonymous, const std::u16string& user, const std::u16string& password) {
    std::vector<Account> own;
    for (const Account& a : accounts)
        if (platform::EqualsNoCase(a.server, server))
            own.push_back(a);
    if (own.empty())
        return ERROR_SUCCESS;
    if (anonymous)
        return platform::EqualsNoCase(share, u"IPC$") ? ERROR_SUCCESS : ERROR_LOGON_FAILURE;
    for (const Account& a : own)
        if (platform::EqualsNoCase(a.user, user))
            return a.password == password ? ERROR_SUCCESS : ERROR_LOGON_FAILURE;
    return ERROR_LOGON_FAILURE;
}

// ---- Enumeration ---------------------------------------------------------------------------------------------------

struct EnumEntry {
    DWORD scope = 0, type = RESOURCETYPE_DISK, display = RESOURCEDISPLAYTYPE_SHARE, usage = RESOURCEUSAGE_CONNECTABLE;
    std::u16string local, remote, comment;
};

struct Enumeration {
    std::vector<EnumEntry> entries;
    size_t next = 0;
};

// A real server's shares, read with the credentials of the session the machine has with it (else those of the
// anonymous session it has, else the current user's).
DWORD ListSmbShares(const std::u16string& server, Enumeration& e) {
    platform::net::smb::Credentials credentials{platform::Utf16ToUtf8(CurrentUser()), ""};
    {
        StateLock lock;
        const State state = CurrentState();
        bool anonymousOnly = false;
        for (const Connection& c : state.connections)
            if (c.smb && platform::EqualsNoCase(c.server, server))
                anonymousOnly = c.anonymous;
        if (const auto secret = FindSecret(kSessions, server))
            credentials = SmbCredentials(secret->user, secret->password);
        else if (anonymousOnly)
            credentials = {};
    }
    std::vector<std::string> names;
    if (DWORD error = platform::net::smb::ListShares(platform::Utf16ToUtf8(server), credentials, names))
        return error;
    for (const std::string& name : names)
        e.entries.push_back(EnumEntry{RESOURCE_GLOBALNET,
                                      RESOURCETYPE_DISK,
                                      RESOURCEDISPLAYTYPE_SHARE,
                                      RESOURCEUSAGE_CONNECTABLE,
                                      {},
                                      u"\\\\" + server + u"\\" + platform::Utf8ToUtf16(name),
                                      {}});
    return ERROR_SUCCESS;
}

std::mutex g_enumMutex;
std::map<uintptr_t, std::unique_ptr<Enumeration>> g_enums;
uintptr_t g_nextEnum = 0x4E450000;

} // namespace

DWORD WNetAddConnection2W(LPNETRESOURCEW netResource, LPCWSTR password, LPCWSTR userName, DWORD flags) {
    if (!netResource || !netResource->lpRemoteName)
        return Answer(ERROR_INVALID_PARAMETER);
    if (netResource->dwType != RESOURCETYPE_DISK && netResource->dwType != RESOURCETYPE_ANY)
        return Answer(ERROR_BAD_DEV_TYPE);
    Connection c;
    if (!ParseRemote(netResource->lpRemoteName, c.server, c.share))
        return Answer(ERROR_BAD_NET_NAME);
    const std::u16string local = netResource->lpLocalName ? netResource->lpLocalName : u"";
    if (!local.empty()) {
        if (!IsLocalDrive(local))
            return Answer(ERROR_BAD_DEVICE);
        if (c.share.empty() || platform::EqualsNoCase(c.share, u"IPC$"))
            return Answer(ERROR_BAD_NET_NAME);
        c.local = UpperLocal(local);
    }
    const bool anonymous = userName && !*userName && password && !*password;
    c.anonymous = anonymous;
    c.user = anonymous ? std::u16string() : (userName && *userName ? std::u16string(userName) : CurrentUser());
    const std::u16string secret = password ? password : u"";

    StateLock lock;
    State state = CurrentState();
    if (!c.local.empty()) {
        const bool taken = platform::fs::Drive(c.local[0]).has_value() ||
                           std::any_of(state.connections.begin(), state.connections.end(),
                                       [&](const Connection& o) { return o.local == c.local; });
        if (taken)
            return Answer(ERROR_ALREADY_ASSIGNED);
    }
    const bool table = ServerKnown(c.server);
    if (!table && !IsSmbServer(c.server))
        return Answer(ERROR_BAD_NETPATH);
    if (table && !c.share.empty() && !platform::EqualsNoCase(c.share, u"IPC$") && !ShareRoot(c.server, c.share))
        return Answer(ERROR_BAD_NET_NAME);
    // One server, one user name: a session of another user (or anonymous against a user) conflicts.
    for (const Connection& o : state.connections)
        if (platform::EqualsNoCase(o.server, c.server) &&
            (o.anonymous != c.anonymous || !platform::EqualsNoCase(o.user, c.user)))
            return Answer(ERROR_SESSION_CREDENTIAL_CONFLICT);
    if (table) {
        if (DWORD error = Logon(LoadAccounts(), c.server, c.share, anonymous, c.user, secret))
            return Answer(error);
    } else {
        if (DWORD error = ConnectSmb(c, secret, state.connections))
            return Answer(error);
        if (!anonymous)
            PutSecret(kSessions, Secret{c.server, c.user, secret});
    }
    if (!c.local.empty()) {
        MapLetter(c);
        if (flags & CONNECT_UPDATE_PROFILE) {
            Remember(c);
            if (c.smb)
                PutSecret(kRemembered, Secret{c.local, c.anonymous ? std::u16string() : c.user,
                                              c.anonymous ? std::u16string() : secret});
        }
    }
    state.connections.push_back(c);
    if (DWORD error = WriteState(state))
        return Answer(error);
    return Answer(ERROR_SUCCESS);
}

DWORD WNetCancelConnection2W(LPCWSTR name, DWORD flags, BOOL force) {
    (void)force; // the layer keeps no open files of a connection apart from the connection
    if (!name || !*name)
        return Answer(ERROR_INVALID_PARAMETER);
    const std::u16string text = name;
    StateLock lock;
    State state = CurrentState();
    std::vector<Connection> removed;
    auto take = [&](const std::function<bool(const Connection&)>& which) {
        std::erase_if(state.connections, [&](const Connection& c) {
            if (!which(c))
                return false;
            removed.push_back(c);
            return true;
        });
    };
    if (IsLocalDrive(text)) {
        const std::u16string local = UpperLocal(text);
        take([&](const Connection& c) { return c.local == local; });
        bool forgotten = false;
        if (flags & CONNECT_UPDATE_PROFILE) {
            forgotten = Forget(local);
            DropSecret(kRemembered, local);
        }
        if (!removed.empty())
            platform::fs::RemoveDrive(local[0]);
        else if (!forgotten)
            return Answer(ERROR_NOT_CONNECTED);
    } else {
        std::u16string server, share;
        if (!ParseRemote(text, server, share))
            return Answer(ERROR_NOT_CONNECTED);
        // A remote name cancels the connections of that name that have no letter.
        take([&](const Connection& c) {
            return c.local.empty() && platform::EqualsNoCase(c.server, server) &&
                   platform::EqualsNoCase(c.share, share);
        });
        if (removed.empty())
            return Answer(ERROR_NOT_CONNECTED);
    }
    // The letter is gone before its share's mount is taken away, so nothing written through it lands in the
    // bare folder.
    for (const Connection& c : removed)
        ReleaseSmb(c, state.connections);
    if (DWORD error = WriteState(state))
        return Answer(error);
    return Answer(ERROR_SUCCESS);
}

DWORD WNetGetConnectionW(LPCWSTR localName, LPWSTR remoteName, LPDWORD length) {
    if (!localName || !length)
        return Answer(ERROR_INVALID_PARAMETER);
    if (!IsLocalDrive(localName))
        return Answer(ERROR_BAD_DEVICE);
    const std::u16string local = UpperLocal(localName);
    StateLock lock;
    const State state = CurrentState();
    for (const Connection& c : state.connections) {
        if (c.local != local)
            continue;
        const std::u16string remote = c.Remote();
        if (!remoteName || *length < remote.size() + 1) {
            *length = static_cast<DWORD>(remote.size() + 1);
            return Answer(ERROR_MORE_DATA);
        }
        std::copy(remote.begin(), remote.end(), remoteName);
        remoteName[remote.size()] = 0;
        return Answer(ERROR_SUCCESS);
    }
    return Answer(ERROR_NOT_CONNECTED);
}

DWORD WNetOpenEnumW(DWORD scope, DWORD type, DWORD usage, LPNETRESOURCEW netResource, LPHANDLE enumHandle) {
    if (!enumHandle)
        return Answer(ERROR_INVALID_PARAMETER);
    auto e = std::make_unique<Enumeration>();
    const bool wantDisks = type == RESOURCETYPE_ANY || (type & RESOURCETYPE_DISK);
    if (scope == RESOURCE_CONNECTED) {
        StateLock lock;
        for (const Connection& c : CurrentState().connections)
            if (wantDisks && !platform::EqualsNoCase(c.share, u"IPC$"))
                e->entries.push_back(EnumEntry{RESOURCE_CONNECTED,
                                               RESOURCETYPE_DISK,
                                               RESOURCEDISPLAYTYPE_SHARE,
                                               RESOURCEUSAGE_CONNECTABLE,
                                               c.local,
                                               c.Remote(),
                                               {}});
    } else if (scope == RESOURCE_REMEMBERED) {
        StateLock lock;
        for (const Remembered& r : ReadRemembered())
            if (wantDisks)
                e->entries.push_back(EnumEntry{RESOURCE_REMEMBERED,
                                               RESOURCETYPE_DISK,
                                               RESOURCEDISPLAYTYPE_SHARE,
                                               RESOURCEUSAGE_CONNECTABLE,
                                               r.local,
                                               r.remote,
                                               {}});
    } else if (scope == RESOURCE_GLOBALNET) {
        if (!netResource || !netResource->lpRemoteName)
            return Answer(ERROR_INVALID_PARAMETER); // the whole network is not browsed here
        std::u16string server, share;
        if (!ParseRemote(netResource->lpRemoteName, server, share))
            return Answer(ERROR_BAD_NETPATH);
        if (!share.empty())
            return Answer(ERROR_NOT_CONTAINER);
        if (!ServerKnown(server)) {
            if (!IsSmbServer(server))
                return Answer(ERROR_BAD_NETPATH);
            if (DWORD error = ListSmbShares(server, *e))
                return Answer(error);
            std::lock_guard lock(g_enumMutex);
            const uintptr_t id = g_nextEnum++;
            g_enums[id] = std::move(e);
            *enumHandle = reinterpret_cast<HANDLE>(id);
            return Answer(ERROR_SUCCESS);
        }
        StateLock lock;
        const State state = CurrentState();
        // Listing needs a session with an account of the server, or the current user's own.
        const std::vector<Account> accounts = LoadAccounts();
        bool allowed = Logon(accounts, server, u"", false, CurrentUser(), u"") == ERROR_SUCCESS;
        for (const Connection& c : state.connections)
            if (platform::EqualsNoCase(c.server, server) && !c.anonymous)
                allowed = true;
        if (!allowed)
            return Answer(ERROR_ACCESS_DENIED);
        (void)usage;
        for (const auto& s : platform::fs::Shares())
            if (wantDisks && platform::EqualsNoCase(s.server, server))
                e->entries.push_back(EnumEntry{RESOURCE_GLOBALNET,
                                               RESOURCETYPE_DISK,
                                               RESOURCEDISPLAYTYPE_SHARE,
                                               RESOURCEUSAGE_CONNECTABLE,
                                               {},
                                               u"\\\\" + server + u"\\" + s.share,
                                               {}});
    } else {
        return Answer(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(g_enumMutex);
    const uintptr_t id = g_nextEnum++;
    g_enums[id] = std::move(e);
    *enumHandle = reinterpret_cast<HANDLE>(id);
    return Answer(ERROR_SUCCESS);
}

DWORD WNetEnumResourceW(HANDLE enumHandle, LPDWORD count, LPVOID buffer, LPDWORD bufferSize) {
    if (!count || !bufferSize)
        return Answer(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(g_enumMutex);
    auto it = g_enums.find(reinterpret_cast<uintptr_t>(enumHandle));
    if (it == g_enums.end())
        return Answer(ERROR_INVALID_HANDLE);
    Enumeration& e = *it->second;
    if (e.next >= e.entries.size()) {
        *count = 0;
        return Answer(ERROR_NO_MORE_ITEMS);
    }
    auto textBytes = [](const EnumEntry& entry) {
        size_t bytes =
            (entry.remote.size() + 1 + std::char_traits<char16_t>::length(kProviderName) + 1) * sizeof(WCHAR);
        if (!entry.local.empty())
            bytes += (entry.local.size() + 1) * sizeof(WCHAR);
        return bytes;
    };
    const DWORD wanted = *count;
    const size_t available = buffer ? *bufferSize : 0;
    // Records fill the buffer from the front, their texts from the back.
    size_t records = 0, texts = 0;
    while (e.next + records < e.entries.size() && records < wanted) {
        const size_t need = (records + 1) * sizeof(NETRESOURCEW) + texts + textBytes(e.entries[e.next + records]);
        if (need > available)
            break;
        texts += textBytes(e.entries[e.next + records]);
        ++records;
    }
    if (records == 0) {
        *bufferSize = static_cast<DWORD>(sizeof(NETRESOURCEW) + textBytes(e.entries[e.next]));
        return Answer(ERROR_MORE_DATA);
    }
    auto* out = static_cast<NETRESOURCEW*>(buffer);
    auto* end = reinterpret_cast<WCHAR*>(static_cast<BYTE*>(buffer) + available);
    auto place = [&end](const std::u16string& text) {
        end -= text.size() + 1;
        std::copy(text.begin(), text.end(), end);
        end[text.size()] = 0;
        return end;
    };
    for (size_t i = 0; i < records; ++i) {
        const EnumEntry& entry = e.entries[e.next + i];
        NETRESOURCEW& r = out[i];
        r.dwScope = entry.scope;
        r.dwType = entry.type;
        r.dwDisplayType = entry.display;
        r.dwUsage = entry.usage;
        r.lpLocalName = entry.local.empty() ? nullptr : place(entry.local);
        r.lpRemoteName = place(entry.remote);
        r.lpComment = nullptr;
        r.lpProvider = place(kProviderName);
    }
    e.next += records;
    *count = static_cast<DWORD>(records);
    return Answer(ERROR_SUCCESS);
}

DWORD WNetCloseEnum(HANDLE enumHandle) {
    std::lock_guard lock(g_enumMutex);
    if (g_enums.erase(reinterpret_cast<uintptr_t>(enumHandle)) == 0)
        return Answer(ERROR_INVALID_HANDLE);
    return Answer(ERROR_SUCCESS);
}

namespace platform::net {

bool SetShareAccount(const std::u16string& server, const std::u16string& user, const std::u16string& password) {
    if (server.empty() || user.empty())
        return platform::Fail(ERROR_INVALID_PARAMETER), false;
    StateLock lock;
    std::vector<Account> accounts = LoadAccounts();
    std::erase_if(accounts, [&](const Account& a) {
        return platform::EqualsNoCase(a.server, server) && platform::EqualsNoCase(a.user, user);
    });
    accounts.push_back(Account{server, user, password});
    return SaveAccounts(accounts);
}

bool RemoveShareAccounts(const std::u16string& server) {
    StateLock lock;
    std::vector<Account> accounts = LoadAccounts();
    std::erase_if(accounts, [&](const Account& a) { return platform::EqualsNoCase(a.server, server); });
    return SaveAccounts(accounts);
}

} // namespace platform::net
