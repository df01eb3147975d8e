// A real SMB server for tests: Debian's smbd, started on 127.0.0.1 port 445 of the network namespace of the
// calling thread (a test enters a namespace of its own first, EnterPrivateNetwork, so that nothing reaches the
// machine's network and several tests can run at once), with shares of folders of the test and one user.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class SambaServer {
public:
    struct Share {
        std::string name;
        std::string folder;
        bool readOnly = false;
    };

    // `user` logs on with `password`; the server serves the files as the Unix user the test runs as. Shares and
    // user are fixed for the server's life.
    SambaServer(std::vector<Share> shares, std::string user, std::string password);
    // Stops the server and everything it started.
    ~SambaServer();
    SambaServer(const SambaServer&) = delete;
    SambaServer& operator=(const SambaServer&) = delete;

    // Whether the server answers; otherwise Why() says what went wrong.
    bool Ready() const { return m_ready; }
    const std::string& Why() const { return m_why; }

private:
    bool Start(const std::vector<Share>& shares, const std::string& user, const std::string& password);

    std::string m_folder;
    pid_t m_group = -1;
    bool m_ready = false;
    std::string m_why;
};

} // namespace testsupport
