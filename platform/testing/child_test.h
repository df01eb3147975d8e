// The running test program started again as a second process, for tests that need two processes (locks and
// stores shared across processes, a process killed in the middle of something).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The child runs one test of the same program, usually a disabled one that does its part only when the
// environment says that it runs as the child (and skips otherwise). It inherits the machine folder through the
// environment. It may report lines to the parent (ReportToParent) and wait for the parent's word
// (WaitForParent); the parent reads the lines, lets it go on, waits for its end or kills it.
class ChildTest {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Starts the test `test` ("Suite.DISABLED_Case") with `environment` added to this process's environment.
    // A start that fails fails the test.
    explicit ChildTest(const std::string& test, const Environment& environment = {});
    // Kills a child that still runs.
    ~ChildTest();
    ChildTest(const ChildTest&) = delete;
    ChildTest& operator=(const ChildTest&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    // The next line the child reported; "" when it ended or said nothing within `limit`.
    std::string ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Lets a child in WaitForParent go on (closes its standard input).
    void Release();
    // Waits for the child's end and returns its wait status; when `limit` passes first the child is killed and
    // the test fails.
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Kills the child at once and returns its wait status.
    int Kill();

private:
    pid_t m_pid = -1;
    int m_report = -1;
    int m_hold = -1;
    std::string m_buffer;
};

// Waits for the end of the child process `pid` (of any program) and returns its wait status. When `limit` passes
// first the child is killed, the test fails, and the status of the killed child is returned.
int WaitForChild(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(60));

// In the child: sends one line to the parent.
void ReportToParent(const std::string& line);
// In the child: blocks until the parent releases it or ends.
void WaitForParent();

} // namespace testsupport
