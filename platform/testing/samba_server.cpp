#include "platform/testing/samba_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

constexpr const char* kSmbd = "/usr/sbin/smbd";
constexpr const char* kSmbPasswd = "/usr/bin/smbpasswd";

bool Answers() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(445);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return connected;
}

} // namespace

SambaServer::SambaServer(std::vector<Share> shares, std::string user, std::string password) {
    m_ready = Start(shares, user, password);
}

bool SambaServer::Start(const std::vector<Share>& shares, const std::string& user, const std::string& password) {
    if (access(kSmbd, X_OK) != 0) {
        m_why = "smbd is not installed (bash scripts/setup installs samba)";
        return false;
    }
    if (getuid() != 0) {
        m_why = "smbd serves port 445 and its users only when it runs as root";
        return false;
    }
    if (Answers()) {
        m_why = "something already answers on 127.0.0.1:445 here: enter a network namespace of the test's own first";
        return false;
    }
    // The server's sockets and databases want short paths.
    char folder[] = "/tmp/kovra-smbd-XXXXXX";
    if (!mkdtemp(folder)) {
        m_why = std::string("no temporary folder: ") + std::strerror(errno);
        return false;
    }
    m_folder = folder;
    for (const char* sub : {"private", "lock", "state", "cache", "pid", "ncalrpc", "binddns", "log"})
        std::filesystem::create_directories(m_folder + "/" + sub);
    const passwd* pw = getpwuid(getuid());
    const std::string unixUser = pw && pw->pw_name ? pw->pw_name : "root";
    {
        std::ofstream map(m_folder + "/users.map");
        map << unixUser << " = " << user << "\n";
    }
    {
        std::ofstream conf(m_folder + "/smb.conf");
        conf << "[global]\n"
                "  server role = standalone server\n"
                "  workgroup = WORKGROUP\n"
                "  interfaces = 127.0.0.1\n"
                "  bind interfaces only = yes\n"
                "  smb ports = 445\n"
                "  disable netbios = yes\n"
                "  passdb backend = tdbsam:"
             << m_folder << "/private/passdb.tdb\n"
             << "  private dir = " << m_folder << "/private\n"
             << "  lock directory = " << m_folder << "/lock\n"
             << "  state directory = " << m_folder << "/state\n"
             << "  cache directory = " << m_folder << "/cache\n"
             << "  pid directory = " << m_folder << "/pid\n"
             << "  ncalrpc dir = " << m_folder << "/ncalrpc\n"
             << "  binddns dir = " << m_folder << "/binddns\n"
             << "  log file = " << m_folder << "/log/%m.log\n"
             << "  username map = " << m_folder << "/users.map\n"
             << "  load printers = no\n"
                "  printing = bsd\n"
                "  printcap name = /dev/null\n"
                "  disable spoolss = yes\n"
                "  map to guest = never\n"
                "  restrict anonymous = 2\n";
        for (const Share& s : shares)
            conf << "[" << s.name << "]\n"
                 << "  path = " << s.folder << "\n"
                 << "  read only = " << (s.readOnly ? "yes" : "no") << "\n"
                 << "  force user = " << unixUser << "\n";
    }
    const std::string conf = m_folder + "/smb.conf";

    // The user's password, through smbpasswd's standard input.
    {
        int input[2];
        if (pipe2(input, O_CLOEXEC) != 0)
            return m_why = "no pipe", false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, (m_folder + "/log/smbpasswd.log").c_str(), O_WRONLY | O_CREAT,
                                         0600);
        const char* argv[] = {kSmbPasswd, "-c", conf.c_str(), "-s", "-a", unixUser.c_str(), nullptr};
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, kSmbPasswd, &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        const std::string twice = password + "\n" + password + "\n";
        if (spawned == 0 && write(input[1], twice.data(), twice.size()) < 0)
            m_why = "smbpasswd did not read the password";
        close(input[1]);
        int status = 0;
        if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            m_why = "smbpasswd could not add the user";
            return false;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (m_folder + "/log/smbd.out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own: the server forks a process per client and helpers, all stopped together.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const std::string confOption = "--configfile=" + conf;
    const char* argv[] = {kSmbd, "--foreground", "--no-process-group", confOption.c_str(), "--debug-stdout",
                          "-d1", nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, kSmbd, &actions, &attributes, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        m_why = std::string("smbd does not start: ") + std::strerror(spawned);
        return false;
    }
    m_group = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!Answers()) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            m_group = -1;
            m_why = "smbd ended at once (see " + m_folder + "/log/smbd.out)";
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            m_why = "smbd does not answer on 127.0.0.1:445 within 30 s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

SambaServer::~SambaServer() {
    if (m_group > 0) {
        kill(-m_group, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        bool ended = false;
        while (!(ended = waitpid(m_group, &status, WNOHANG) == m_group) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // What is left of the group (a client's process, a helper) goes too.
        kill(-m_group, SIGKILL);
        if (!ended)
            waitpid(m_group, &status, 0);
    }
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

} // namespace testsupport
