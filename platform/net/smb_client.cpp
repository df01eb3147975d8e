#include "platform/net/smb_client.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/net/wnet.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::net::smb {
namespace {

// A request that has not answered after this long has failed (the server's own time-out is shorter).
constexpr auto kDeadline = std::chrono::seconds(45);

std::string HostProgram() {
    if (const char* configured = std::getenv("WINLAYER_SMB_HOST"); configured && *configured)
        return configured;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string program = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string();
    const std::string beside = program.substr(0, program.rfind('/') + 1) + "smbsharehost";
    if (access(beside.c_str(), X_OK) == 0)
        return beside;
    return SMB_HOST_BUILD_PATH;
}

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Runs the host with `args`, the credentials on its input; its answer's lines after "ok", or the error.
DWORD Run(const std::vector<std::string>& args, const Credentials& credentials, std::vector<std::string>* lines) {
    const std::string program = HostProgram();
    if (program.empty() || access(program.c_str(), X_OK) != 0)
        return ERROR_BAD_PROVIDER;
    // The credentials travel on a pipe: a text that holds a line break would change their meaning.
    if (credentials.user.find('\n') != std::string::npos || credentials.password.find('\n') != std::string::npos)
        return ERROR_INVALID_PARAMETER;
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const std::string errors = platform::machine::PathOf("net/smbsharehost.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (spawned != 0) {
        close(input[1]);
        close(output[0]);
        return ERROR_BAD_PROVIDER;
    }
    {
        // A host that ended before it read its input must not end us: SIGPIPE is held back on this thread and
        // taken away again if it came.
        sigset_t pipeSignal, previous;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
        WriteAll(input[1], credentials.user + "\n" + credentials.password + "\n");
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) && !sigismember(&previous, SIGPIPE)) {
            const timespec none{0, 0};
            sigtimedwait(&pipeSignal, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    close(input[1]);

    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    bool ended = false;
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{output[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buf[4096];
        const ssize_t n = read(output[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ended = true;
        else
            answer.append(buf, static_cast<size_t>(n));
    }
    close(output[0]);
    if (!ended)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended)
        return ERROR_SEM_TIMEOUT;

    std::vector<std::string> got;
    size_t start = 0;
    while (start < answer.size()) {
        size_t end = answer.find('\n', start);
        if (end == std::string::npos)
            end = answer.size();
        got.push_back(answer.substr(start, end - start));
        start = end + 1;
    }
    if (got.empty())
        return ERROR_UNEXP_NET_ERR;
    if (got[0].rfind("error ", 0) == 0) {
        const DWORD code = static_cast<DWORD>(std::strtoul(got[0].c_str() + 6, nullptr, 10));
        return code ? code : ERROR_UNEXP_NET_ERR;
    }
    if (got[0] != "ok")
        return ERROR_UNEXP_NET_ERR;
    if (lines)
        lines->assign(got.begin() + 1, got.end());
    return ERROR_SUCCESS;
}

} // namespace

DWORD ListShares(const std::string& server, const Credentials& credentials, std::vector<std::string>& names) {
    names.clear();
    return Run({"shares", server}, credentials, &names);
}

DWORD Logon(const std::string& server, const std::string& share, const Credentials& credentials) {
    return Run({"logon", server, share.empty() ? std::string("IPC$") : share}, credentials, nullptr);
}

DWORD Mount(const std::string& server, const std::string& share, const Credentials& credentials,
            const std::string& folder) {
    // A mount a server left behind when it died is taken away first.
    if (IsMounted(folder))
        Unmount(folder);
    for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
        mkdir(folder.substr(0, slash).c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    return Run({"mount", server, share, folder}, credentials, nullptr);
}

void Unmount(const std::string& folder) {
    if (umount2(folder.c_str(), MNT_DETACH) == 0 || errno == EINVAL || errno == ENOENT)
        return;
    // Not the mount's owner by privilege: FUSE's own helper takes away what this user mounted.
    const char* argv[] = {"fusermount3", "-u", "-z", folder.c_str(), nullptr};
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid, "fusermount3", &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

bool IsMounted(const std::string& folder) {
    FILE* f = std::fopen("/proc/self/mountinfo", "re");
    if (!f)
        return false;
    // Mount points are the fifth field, with blanks, tabs, line breaks and backslashes written as octal escapes.
    std::string escaped;
    for (char c : folder) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned char>(c));
            escaped += buf;
        } else {
            escaped += c;
        }
    }
    bool found = false;
    char* line = nullptr;
    size_t size = 0;
    while (!found && getline(&line, &size, f) > 0) {
        const char* p = line;
        for (int field = 0; field < 4 && p; ++field) {
            p = std::strchr(p, ' ');
            if (p)
                ++p;
        }
        if (!p)
            continue;
        const char* end = std::strchr(p, ' ');
        found = end && std::string(p, static_cast<size_t>(end - p)) == escaped;
    }
    std::free(line);
    std::fclose(f);
    return found;
}

} // namespace platform::net::smb
