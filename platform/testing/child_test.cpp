#include "platform/testing/child_test.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace testsupport {

namespace {

// The child's descriptor for reports to the parent.
constexpr int kReportFd = 3;

std::string OwnProgram() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path;
}

int Milliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

ChildTest::ChildTest(const std::string& test, const Environment& environment) {
    int report[2], hold[2];
    if (pipe2(report, O_CLOEXEC) != 0 || pipe2(hold, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    // This process's environment with the child's additions in place of variables of the same name.
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [key, value] : environment)
            replaced = replaced || key == name;
        if (!replaced)
            entries.push_back(entry);
    }
    for (const auto& [key, value] : environment)
        entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::string program = OwnProgram();
    std::string filter = "--gtest_filter=" + test;
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {program.data(), filter.data(), disabled.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, report[1], kReportFd);
    posix_spawn_file_actions_adddup2(&actions, hold[0], STDIN_FILENO);
    const int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);
    close(hold[0]);
    m_report = report[0];
    m_hold = hold[1];
    if (rc != 0) {
        m_pid = -1;
        ADD_FAILURE() << "starting " << test << ": " << std::strerror(rc);
        return;
    }
}

ChildTest::~ChildTest() {
    if (m_pid > 0)
        Kill();
    for (int fd : {m_report, m_hold})
        if (fd >= 0)
            close(fd);
}

std::string ChildTest::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_buffer.find('\n') == std::string::npos) {
        pollfd p{m_report, POLLIN, 0};
        const int ready = poll(&p, 1, Milliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        char chunk[256];
        const ssize_t n = ready > 0 ? read(m_report, chunk, sizeof chunk) : 0;
        if (n <= 0)
            return "";
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
    const size_t end = m_buffer.find('\n');
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return line;
}

void ChildTest::Release() {
    if (m_hold >= 0)
        close(m_hold);
    m_hold = -1;
}

int ChildTest::Wait(std::chrono::milliseconds limit) {
    if (m_pid <= 0)
        return -1;
    return WaitForChild(std::exchange(m_pid, -1), limit);
}

int WaitForChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A process descriptor becomes readable once the child has ended; without one the wait looks every millisecond.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    pid_t ended;
    while ((ended = waitpid(pid, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "the child process did not end in time";
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            poll(&p, 1, Milliseconds(deadline));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (pidfd >= 0)
        close(pidfd);
    return ended < 0 ? -1 : status;
}

int ChildTest::Kill() {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return status;
}

void ReportToParent(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(kReportFd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void WaitForParent() {
    char c;
    while (true) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            return;
    }
}

} // namespace testsupport
