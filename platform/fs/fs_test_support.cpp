#include "platform/fs/fs_test_support.h"

#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/testing/child_test.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fstest {

std::u16string W(const std::string& utf8) {
    return platform::Utf8ToUtf16(utf8);
}

void WriteHost(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

platform::fs::DriveInfo Letter(WCHAR letter, const std::string& hostRoot, platform::fs::DriveKind kind) {
    platform::fs::DriveInfo info;
    info.letter = letter;
    info.hostRoot = hostRoot;
    info.kind = kind;
    return info;
}

void FsTest::SetUp() {
    ASSERT_TRUE(SetCurrentDirectoryW(u"T:\\"));
}

Holder::Holder(const std::u16string& windowsPath, DWORD access, DWORD share) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    const std::string path = platform::Utf16ToUtf8(windowsPath);
    const std::string accessText = std::to_string(access);
    const std::string shareText = std::to_string(share);
    char* argv[] = {const_cast<char*>(FS_TEST_HOLDER), const_cast<char*>(path.c_str()),
                    const_cast<char*>(accessText.c_str()), const_cast<char*>(shareText.c_str()), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, FS_TEST_HOLDER, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    m_toChild = toChild[1];
    if (rc != 0) {
        close(fromChild[0]);
        return;
    }
    m_pid = pid;
    // Wait for the child's report, with a deadline that fails the test instead of hanging it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string line;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        struct pollfd p = {fromChild[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[64];
        ssize_t n = read(fromChild[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(fromChild[0]);
    m_status = line.substr(0, line.find('\n'));
}

Holder::~Holder() {
    if (m_toChild >= 0)
        close(m_toChild); // the child exits when its input ends
    if (m_pid > 0)
        testsupport::WaitForChild(m_pid, std::chrono::seconds(20));
}

} // namespace fstest
