// Named semaphores seen from another process. The test program starts itself again as the other process: the
// test CrossProcessChild.Run does nothing unless the environment names a role for it.

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/sync.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace {

constexpr const char16_t* kName = u"SingleInstanceTest";
constexpr int kReportFd = 3;

void Report(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const auto n = write(kReportFd, text.data(), text.size());
}

// A child started by the parent with a pipe for its reports and one it blocks on until killed.
class Child {
public:
    explicit Child(const std::string& role) {
        int report[2], hold[2];
        if (pipe(report) != 0 || pipe(hold) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, report[1], kReportFd);
        posix_spawn_file_actions_adddup2(&actions, hold[0], STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        setenv("BASE_TESTS_CHILD_ROLE", role.c_str(), 1);
        std::string self(4096, '\0');
        const ssize_t len = readlink("/proc/self/exe", self.data(), self.size() - 1);
        self.resize(len > 0 ? static_cast<size_t>(len) : 0);
        std::string filter = "--gtest_filter=CrossProcessChild.DISABLED_Run";
        std::string alsoDisabled = "--gtest_also_run_disabled_tests";
        char* argv[] = {self.data(), filter.data(), alsoDisabled.data(), nullptr};
        if (posix_spawn(&m_pid, self.c_str(), &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        unsetenv("BASE_TESTS_CHILD_ROLE");
        posix_spawn_file_actions_destroy(&actions);
        close(report[1]);
        close(hold[0]);
        m_report = report[0];
        m_hold = hold[1];
    }
    ~Child() {
        Kill();
        close(m_report);
        close(m_hold);
    }
    bool started() const { return m_pid > 0; }

    // Reads one report line, failing after a real-time limit instead of hanging.
    std::string ReadLine() {
        std::string line;
        char c;
        while (true) {
            pollfd p{m_report, POLLIN, 0};
            if (poll(&p, 1, 10'000) <= 0 || read(m_report, &c, 1) != 1)
                return "<no answer>";
            if (c == '\n')
                return line;
            line += c;
        }
    }

    // Ends the child the hard way, as a crash would: it cleans nothing up.
    void Kill() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    int Wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_report = -1;
    int m_hold = -1;
};

} // namespace

TEST(CrossProcessChild, DISABLED_Run) {
    const char* role = std::getenv("BASE_TESTS_CHILD_ROLE");
    ASSERT_NE(role, nullptr) << "runs only as the child of a cross-process test";
    if (std::string(role) == "hold") {
        HANDLE h = CreateSemaphoreW(nullptr, 1, 1, kName);
        Report(h ? std::to_string(GetLastError()) : "failed");
        char c;
        [[maybe_unused]] const auto n = read(STDIN_FILENO, &c, 1); // until killed
    } else if (std::string(role) == "take") {
        HANDLE h = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, kName);
        Report(h ? "waiting" : "missing");
        Report(std::to_string(h ? WaitForSingleObject(h, 10'000) : WAIT_FAILED));
    }
}

TEST(NamedAcrossProcesses, SecondInstanceSeesTheNameAndACrashLeavesNoStaleName) {
    platform::machine::ScopedTestMachine machine;
    {
        Child first("hold");
        ASSERT_TRUE(first.started());
        ASSERT_EQ(first.ReadLine(), "0"); // the first instance made it

        HANDLE second = CreateSemaphoreW(nullptr, 1, 1, kName);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        CloseHandle(second);

        first.Kill();
    }
    HANDLE fresh = CreateSemaphoreW(nullptr, 1, 1, kName);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    // And a later instance sees this one.
    Child later("hold");
    ASSERT_EQ(later.ReadLine(), std::to_string(ERROR_ALREADY_EXISTS));
    CloseHandle(fresh);
}

TEST(NamedAcrossProcesses, ReleaseInOneProcessWakesAWaiterInAnother) {
    platform::machine::ScopedTestMachine machine;
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, kName);
    ASSERT_NE(semaphore, nullptr);
    Child taker("take");
    ASSERT_EQ(taker.ReadLine(), "waiting");
    ASSERT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
    EXPECT_EQ(taker.ReadLine(), std::to_string(WAIT_OBJECT_0));
    EXPECT_EQ(taker.Wait(), 0);
    // The other process took the one count.
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
    EXPECT_EQ(OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, kName), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}
