// Private to platform/net: real SMB servers, reached through the layer's program smbsharehost (libsmbclient),
// which runs each request in a process of its own and exports a connected share through FUSE at a host folder.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

namespace platform::net::smb {

struct Credentials {
    std::string user; // "" with an empty password: the anonymous session; may be "DOMAIN\user"
    std::string password;
};

// The disk shares of a server, or the Win32 error (53 no server, 1326 refused logon, ...).
DWORD ListShares(const std::string& server, const Credentials& credentials, std::vector<std::string>& names);
// Whether the server (share "" or "IPC$") or the share lets the user in: 0 or the Win32 error.
DWORD Logon(const std::string& server, const std::string& share, const Credentials& credentials);
// Mounts the share at `folder` (made when missing) and leaves its server running: 0 or the Win32 error.
DWORD Mount(const std::string& server, const std::string& share, const Credentials& credentials,
            const std::string& folder);
// Takes the mount at `folder` away; its server ends with it.
void Unmount(const std::string& folder);
// Whether a file system is mounted at `folder` (read from the mount table, so a server that hangs does not hold
// the caller).
bool IsMounted(const std::string& folder);

} // namespace platform::net::smb
