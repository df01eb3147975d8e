// smbsharehost: the layer's client of real SMB servers, through libsmbclient.
//
//   smbsharehost shares SERVER              lists the disk shares of the server
//   smbsharehost logon SERVER SHARE         checks that the user may use the share (IPC$: the server)
//   smbsharehost mount SERVER SHARE FOLDER  exports the share at the host folder through FUSE and serves it
//
// The user name (optionally "DOMAIN\user") and the password come on standard input, one line each, so that no
// password shows in a process listing. The answer is one line on standard output: "ok", followed for "shares" by
// one share name per line, or "error N" with the Win32 error code of the failure. "mount" answers once the share
// is mounted and then goes on in a session of its own, detached from its caller, until the folder is unmounted
// (WNetCancelConnection2W does that); it serves one request at a time, since a libsmbclient context is not made
// for threads.
#include <libsmbclient.h>

#define FUSE_USE_VERSION 35
#include <fuse3/fuse.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kAccessDenied = 5;      // ERROR_ACCESS_DENIED
constexpr unsigned kBadNetPath = 53;       // ERROR_BAD_NETPATH
constexpr unsigned kUnexpectedNet = 59;    // ERROR_UNEXP_NET_ERR
constexpr unsigned kBadNetName = 67;       // ERROR_BAD_NET_NAME
constexpr unsigned kInvalidParameter = 87; // ERROR_INVALID_PARAMETER
constexpr unsigned kLogonFailure = 1326;   // ERROR_LOGON_FAILURE
constexpr unsigned kNetUnreachable = 1231; // ERROR_NETWORK_UNREACHABLE

// Requests to a server that does not answer end after this long, so that nothing waits for ever.
constexpr int kTimeoutMs = 15000;

std::string g_workgroup, g_user, g_password;

void Authenticate(SMBCCTX*, const char*, const char*, char* workgroup, int workgroupLength, char* user, int userLength,
                  char* password, int passwordLength) {
    if (!g_workgroup.empty())
        std::snprintf(workgroup, static_cast<size_t>(workgroupLength), "%s", g_workgroup.c_str());
    std::snprintf(user, static_cast<size_t>(userLength), "%s", g_user.c_str());
    std::snprintf(password, static_cast<size_t>(passwordLength), "%s", g_password.c_str());
}

// One libsmbclient context for the process, owned here and freed at the end.
class Client {
public:
    Client() {
        m_context = smbc_new_context();
        if (!m_context)
            return;
        smbc_setFunctionAuthDataWithContext(m_context, Authenticate);
        smbc_setOptionUseKerberos(m_context, 0);
        smbc_setOptionFallbackAfterKerberos(m_context, 1);
        // A wrong password must fail, not fall back to a guest or anonymous session.
        smbc_setOptionNoAutoAnonymousLogin(m_context, 1);
        smbc_setTimeout(m_context, kTimeoutMs);
        if (!smbc_init_context(m_context)) {
            smbc_free_context(m_context, 1);
            m_context = nullptr;
            return;
        }
        smbc_set_context(m_context);
    }
    ~Client() {
        if (m_context)
            smbc_free_context(m_context, 1);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Ready() const { return m_context != nullptr; }

private:
    SMBCCTX* m_context = nullptr;
};

// libsmbclient takes URLs and decodes %XX in them: every byte but the plain ones is encoded.
std::string Encode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string g_server, g_share;

std::string ShareUrl(const std::string& path = "/") {
    return "smb://" + Encode(g_server) + "/" + Encode(g_share) + Encode(path);
}

unsigned ConnectionError(int error) {
    switch (error) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ETIMEDOUT:
    case ENOTCONN:
    case ECONNRESET:
        return kBadNetPath;
    case ENETUNREACH:
        return kNetUnreachable;
    case ENOENT:
    case ENODEV:
    case ENOTDIR:
        return kBadNetName;
    case EINVAL:
        return kInvalidParameter;
    default:
        return kUnexpectedNet;
    }
}

// A refusal of the server's session: libsmbclient answers a refused user or password with EACCES or EPERM, and an
// empty password that the server will not take with EINVAL.
unsigned SessionError(int error) {
    return error == EACCES || error == EPERM || error == EINVAL ? kLogonFailure : ConnectionError(error);
}

// Whether the server takes the user at all: its share list is read through IPC$.
unsigned ServerLogon() {
    const int dir = smbc_opendir(("smb://" + Encode(g_server) + "/").c_str());
    if (dir < 0)
        return SessionError(errno);
    smbc_closedir(dir);
    return 0;
}

unsigned ShareLogon() {
    const int dir = smbc_opendir(ShareUrl().c_str());
    if (dir >= 0) {
        smbc_closedir(dir);
        return 0;
    }
    if (errno != EACCES && errno != EPERM && errno != EINVAL)
        return ConnectionError(errno);
    // Refused: a wrong user or password, or a user the share does not let in.
    const unsigned server = ServerLogon();
    return server ? server : kAccessDenied;
}

unsigned ListShares(std::vector<std::string>& names) {
    const int dir = smbc_opendir(("smb://" + Encode(g_server) + "/").c_str());
    if (dir < 0)
        return SessionError(errno);
    while (smbc_dirent* entry = smbc_readdir(static_cast<unsigned>(dir)))
        if (entry->smbc_type == SMBC_FILE_SHARE)
            names.emplace_back(entry->name);
    smbc_closedir(dir);
    return 0;
}

// ---- The file system -------------------------------------------------------------------------------------------

uid_t g_uid;
gid_t g_gid;

int Fail() {
    return errno ? -errno : -EIO;
}

void Own(struct stat* st) {
    st->st_uid = g_uid;
    st->st_gid = g_gid;
    st->st_nlink = S_ISDIR(st->st_mode) ? 2 : 1;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (smbc_stat(ShareUrl(path).c_str(), st) < 0)
        return Fail();
    Own(st);
    return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*, fuse_readdir_flags) {
    const int dir = smbc_opendir(ShareUrl(path).c_str());
    if (dir < 0)
        return Fail();
    while (smbc_dirent* entry = smbc_readdir(static_cast<unsigned>(dir))) {
        if (entry->smbc_type != SMBC_DIR && entry->smbc_type != SMBC_FILE)
            continue;
        struct stat st {};
        st.st_mode = entry->smbc_type == SMBC_DIR ? S_IFDIR : S_IFREG;
        if (filler(buf, entry->name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0)
            break;
    }
    smbc_closedir(dir);
    return 0;
}

// An open file of the mount. The server's file is opened at the first read or write only: the layer opens
// files to check share modes around renames and deletions, and a file the server holds open cannot be renamed
// there.
struct Handle {
    std::string path;
    int flags = 0;
    int fd = -1;
};

// Every open handle, so that a rename or deletion can let go of the server's files first.
std::set<Handle*> g_handles;

Handle* HandleOf(fuse_file_info* fi) {
    return reinterpret_cast<Handle*>(static_cast<uintptr_t>(fi->fh));
}

bool Within(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

// The server does not rename or delete a file that a client holds open, while the host's callers do so with their
// files open (a file written under a temporary name and renamed before it is closed): the handles at or below
// `path` give up their server files, which they open again, by their new name, at their next read or write.
void LetGo(const std::string& path) {
    for (Handle* h : g_handles)
        if (h->fd >= 0 && Within(h->path, path)) {
            smbc_close(h->fd);
            h->fd = -1;
        }
}

int ServerFlags(int flags) {
    return flags & ~(O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL | O_TRUNC);
}

// The server's descriptor of the handle, opened now if need be; negative with errno set when it cannot be.
int Descriptor(Handle* h) {
    if (h->fd < 0)
        h->fd = smbc_open(ShareUrl(h->path).c_str(), ServerFlags(h->flags), 0);
    return h->fd;
}

int Open(const char* path, fuse_file_info* fi) {
    auto h = std::make_unique<Handle>();
    h->path = path;
    h->flags = fi->flags;
    if (fi->flags & O_TRUNC) {
        h->fd = smbc_open(ShareUrl(path).c_str(), fi->flags & ~(O_CLOEXEC | O_NOCTTY), 0);
        if (h->fd < 0)
            return Fail();
    }
    g_handles.insert(h.get());
    fi->fh = reinterpret_cast<uintptr_t>(h.release());
    return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
    auto h = std::make_unique<Handle>();
    h->path = path;
    h->flags = fi->flags;
    h->fd = smbc_open(ShareUrl(path).c_str(), (fi->flags & ~(O_CLOEXEC | O_NOCTTY)) | O_CREAT, mode);
    if (h->fd < 0)
        return Fail();
    g_handles.insert(h.get());
    fi->fh = reinterpret_cast<uintptr_t>(h.release());
    return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    const int fd = Descriptor(HandleOf(fi));
    if (fd < 0 || smbc_lseek(fd, offset, SEEK_SET) < 0)
        return Fail();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = smbc_read(fd, buf + done, size - done);
        if (n < 0)
            return done ? static_cast<int>(done) : Fail();
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int Write(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    const int fd = Descriptor(HandleOf(fi));
    if (fd < 0 || smbc_lseek(fd, offset, SEEK_SET) < 0)
        return Fail();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = smbc_write(fd, buf + done, size - done);
        if (n <= 0)
            return done ? static_cast<int>(done) : Fail();
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int Release(const char*, fuse_file_info* fi) {
    std::unique_ptr<Handle> h(HandleOf(fi));
    g_handles.erase(h.get());
    if (h->fd >= 0)
        smbc_close(h->fd);
    return 0;
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
    if (fi) {
        const int fd = Descriptor(HandleOf(fi));
        return fd < 0 || smbc_ftruncate(fd, size) < 0 ? Fail() : 0;
    }
    const int fd = smbc_open(ShareUrl(path).c_str(), O_WRONLY, 0);
    if (fd < 0)
        return Fail();
    const int result = smbc_ftruncate(fd, size) < 0 ? Fail() : 0;
    smbc_close(fd);
    return result;
}

int Utimens(const char* path, const struct timespec tv[2], fuse_file_info*) {
    struct timeval times[2];
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    for (int i = 0; i < 2; ++i) {
        struct timespec t = tv[i];
        if (t.tv_nsec == UTIME_NOW)
            t = now;
        if (t.tv_nsec == UTIME_OMIT) {
            // The server's call sets both times: keep the one left out as it is.
            struct stat st {};
            if (smbc_stat(ShareUrl(path).c_str(), &st) < 0)
                return Fail();
            t = i == 0 ? st.st_atim : st.st_mtim;
        }
        times[i].tv_sec = t.tv_sec;
        times[i].tv_usec = t.tv_nsec / 1000;
    }
    return smbc_utimes(ShareUrl(path).c_str(), times) < 0 ? Fail() : 0;
}

int StatFs(const char* path, struct statvfs* st) {
    std::memset(st, 0, sizeof *st);
    char* url = strdup(ShareUrl(path).c_str());
    const int result = smbc_statvfs(url, st) < 0 ? Fail() : 0;
    std::free(url);
    st->f_namemax = 255;
    return result;
}

fuse_operations Operations() {
    fuse_operations ops{};
    ops.init = [](fuse_conn_info*, fuse_config* cfg) -> void* {
        cfg->use_ino = 0;
        cfg->nullpath_ok = 0;
        return nullptr;
    };
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.create = Create;
    ops.read = Read;
    ops.write = Write;
    ops.release = Release;
    ops.truncate = Truncate;
    ops.utimens = Utimens;
    ops.statfs = StatFs;
    ops.mkdir = [](const char* path, mode_t mode) { return smbc_mkdir(ShareUrl(path).c_str(), mode) < 0 ? Fail() : 0; };
    ops.rmdir = [](const char* path) { return smbc_rmdir(ShareUrl(path).c_str()) < 0 ? Fail() : 0; };
    ops.unlink = [](const char* path) {
        LetGo(path);
        return smbc_unlink(ShareUrl(path).c_str()) < 0 ? Fail() : 0;
    };
    ops.rename = [](const char* from, const char* to, unsigned int flags) {
        if (flags & ~static_cast<unsigned int>(RENAME_NOREPLACE))
            return -EINVAL;
        // One client at a time is served here, so the test and the rename do not race with our own requests.
        struct stat st {};
        if ((flags & RENAME_NOREPLACE) && smbc_stat(ShareUrl(to).c_str(), &st) == 0)
            return -EEXIST;
        LetGo(from);
        LetGo(to);
        if (smbc_rename(ShareUrl(from).c_str(), ShareUrl(to).c_str()) < 0)
            return Fail();
        const std::string source = from;
        for (Handle* h : g_handles)
            if (Within(h->path, source))
                h->path = to + h->path.substr(source.size());
        return 0;
    };
    // The server keeps its own permissions; the mode bits of the host mean nothing there.
    ops.chmod = [](const char*, mode_t, fuse_file_info*) { return 0; };
    ops.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return 0; };
    ops.flush = [](const char*, fuse_file_info*) { return 0; };
    ops.fsync = [](const char*, int, fuse_file_info*) { return 0; };
    return ops;
}

// ---- The commands ----------------------------------------------------------------------------------------------

void Answer(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

std::string ErrorLine(unsigned code) {
    return "error " + std::to_string(code) + "\n";
}

bool ReadCredentials() {
    std::string input;
    char buf[1024];
    ssize_t n;
    while ((n = read(0, buf, sizeof buf)) > 0)
        input.append(buf, static_cast<size_t>(n));
    const size_t first = input.find('\n');
    if (first == std::string::npos)
        return false;
    const size_t second = input.find('\n', first + 1);
    g_user = input.substr(0, first);
    g_password = input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (const size_t slash = g_user.find('\\'); slash != std::string::npos) {
        g_workgroup = g_user.substr(0, slash);
        g_user = g_user.substr(slash + 1);
    }
    return true;
}

// Mounts and serves; writes the answer to `report` and closes it once the share is mounted or has failed.
int Mount(const std::string& folder, int report) {
    Client client;
    if (!client.Ready()) {
        Answer(report, ErrorLine(kUnexpectedNet));
        return 1;
    }
    if (const unsigned error = ShareLogon()) {
        Answer(report, ErrorLine(error));
        return 1;
    }
    g_uid = getuid();
    g_gid = getgid();
    static const fuse_operations ops = Operations();
    const char* argv[] = {"smbsharehost", "-o", "fsname=smbshare,subtype=smbshare", nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr);
    if (!fs || fuse_mount(fs, folder.c_str()) != 0) {
        if (fs)
            fuse_destroy(fs);
        Answer(report, ErrorLine(kUnexpectedNet));
        return 1;
    }
    Answer(report, "ok\n");
    close(report);
    // Serves until the folder is unmounted.
    fuse_loop(fs);
    fuse_unmount(fs);
    fuse_destroy(fs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: smbsharehost shares SERVER | logon SERVER SHARE | mount SERVER SHARE FOLDER\n"
                   "  (user name and password on standard input, one line each)\n",
                   stderr);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    // Nothing of the caller's stays open in a server that outlives it.
    close_range(3, ~0U, 0);
    const std::string command = argv[1];
    g_server = argv[2];
    if (!ReadCredentials()) {
        Answer(1, ErrorLine(kInvalidParameter));
        return 2;
    }
    if (command == "shares") {
        Client client;
        std::vector<std::string> names;
        const unsigned error = client.Ready() ? ListShares(names) : kUnexpectedNet;
        if (error) {
            Answer(1, ErrorLine(error));
            return 1;
        }
        std::string text = "ok\n";
        for (const std::string& name : names)
            text += name + "\n";
        Answer(1, text);
        return 0;
    }
    if (command == "logon" && argc >= 4) {
        g_share = argv[3];
        Client client;
        const unsigned error =
            !client.Ready() ? kUnexpectedNet : (g_share == "IPC$" || g_share.empty() ? ServerLogon() : ShareLogon());
        Answer(1, error ? ErrorLine(error) : "ok\n");
        return error ? 1 : 0;
    }
    if (command == "mount" && argc >= 5) {
        g_share = argv[3];
        const std::string folder = argv[4];
        // The server goes on in a session of its own; the caller hears from it through a pipe and reaps only us.
        int pipefd[2];
        if (pipe(pipefd) != 0) {
            Answer(1, ErrorLine(kUnexpectedNet));
            return 1;
        }
        const pid_t child = fork();
        if (child < 0) {
            Answer(1, ErrorLine(kUnexpectedNet));
            return 1;
        }
        if (child == 0) {
            close(pipefd[0]);
            setsid();
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            if (null > 2)
                close(null);
            return Mount(folder, pipefd[1]);
        }
        close(pipefd[1]);
        std::string line;
        char c;
        while (read(pipefd[0], &c, 1) == 1 && c != '\n')
            line += c;
        if (line.empty())
            line = "error " + std::to_string(kUnexpectedNet);
        Answer(1, line + "\n");
        return line == "ok" ? 0 : 1;
    }
    std::fprintf(stderr, "smbsharehost: unknown command %s\n", command.c_str());
    return 2;
}
