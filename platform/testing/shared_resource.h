// Something outside a test's own machine that the tests of every test program on this computer take in turn: a
// process of a given name, which every program sees in the process list whatever machine it runs in. Held from
// construction to destruction through a lock on a file of that name in the computer's temporary folder.
#pragma once

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace testsupport {

class ScopedSharedResource {
public:
    // Waits up to `limit` for the resource; Held() tells whether it was had.
    explicit ScopedSharedResource(const std::string& name, std::chrono::seconds limit = std::chrono::seconds(240)) {
        const std::filesystem::path path = std::filesystem::temp_directory_path() / ("kovra-test-" + name + ".lock");
        // Not inherited: a program the test starts must not keep the resource after the test lets it go.
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_fd >= 0 && !m_held) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                m_held = true;
            else if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~ScopedSharedResource() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ScopedSharedResource(const ScopedSharedResource&) = delete;
    ScopedSharedResource& operator=(const ScopedSharedResource&) = delete;

    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

} // namespace testsupport
