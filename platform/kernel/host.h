// The kernel host: the long-lived process that keeps loaded drivers, their devices, links and threads.
//
// One host runs per machine folder. It is started on demand (by the service functions and by the first
// program that opens a device) and outlives the programs that use it, as a driver outlives its clients: a disk
// mounted by one program is still mounted when the next one starts. Programs reach it over the Unix socket
// "kernel/host.sock" in the machine folder; the socket's folder is private to the user, and the host refuses
// connections from any other user (peer credentials). The host ends when it is told to (StopHost) or when its
// machine folder disappears.
#pragma once

#include <string>

namespace platform::kernel {

// Socket path of the current machine folder's host.
std::string HostSocketPath();
// Connects to the host, starting it first when none is running. Returns the connected socket (the caller owns
// it) or -1 with the last error set (ERROR_SERVICE_REQUEST_TIMEOUT when the host did not come up in time).
int ConnectHost(bool startIfNeeded);
bool HostRunning();
// Asks the host to unload its drivers and end, and waits until it has. True when no host runs afterwards.
bool StopHost();
// Called by the host itself: device drive letters come from its own namespace, not over the socket.
void UseLocalDriveLetters();

} // namespace platform::kernel
