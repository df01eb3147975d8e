// An X server of a test's own: Xvfb on a display number it picks itself (-displayfd), stopped with the object.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace uitest {

class Xvfb {
public:
    // `screen`: the screen's width, height and depth ("WxHxD"). Without `busyClientsFirst` the server serves its
    // clients in turn, request by request, instead of giving a busy one a time slice while the others wait.
    explicit Xvfb(const std::string& screen = "1280x1024x24", bool busyClientsFirst = true) {
        const std::string program = FindProgram("Xvfb");
        if (program.empty()) {
            m_error = "Xvfb is not installed (scripts/setup installs the xvfb package)";
            return;
        }
        int fds[2];
        if (pipe(fds) != 0) {
            m_error = std::string("pipe: ") + std::strerror(errno);
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 1);
                dup2(null, 2);
            }
            std::vector<const char*> args{"Xvfb",         "-displayfd", fd.c_str(), "-screen", "0",
                                          screen.c_str(), "-nolisten",  "tcp",      "-noreset"};
            if (!busyClientsFirst)
                args.push_back("-dumbSched");
            args.push_back(nullptr);
            execv(program.c_str(), const_cast<char* const*>(args.data()));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            m_error = std::string("fork: ") + std::strerror(errno);
            return;
        }
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 20000) <= 0)
                break;
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        close(fds[0]);
        if (number.empty()) {
            m_error = "Xvfb did not start";
            Stop();
            return;
        }
        m_display = ":" + number;
    }
    ~Xvfb() { Stop(); }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Display() const { return m_display; }
    const std::string& Error() const { return m_error; }

private:
    static std::string FindProgram(const std::string& name) {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/bin:/bin";
        dirs += ":/usr/bin";
        size_t start = 0;
        while (start <= dirs.size()) {
            const size_t end = dirs.find(':', start);
            const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
            const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        return {};
    }
    void Stop() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    pid_t m_pid = -1;
    std::string m_display;
    std::string m_error;
};

} // namespace uitest
