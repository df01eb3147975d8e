// The kernel host: the long-lived process that keeps loaded drivers, their devices, links and threads.
//
// One host runs per machine folder. It is started on demand (by the service functions and by the first
// program that opens a device) and outlives the programs that use it, as a driver outlives its clients: a disk
// mounted by one program is still mounted when the next one starts. Programs reach it over the Unix socket
// "kernel/host.sock" in the machine folder; the socket's folder is private to the user, and the host refuses
// connections from any other user (peer credentials). The host ends when it is told to (StopHost) or when its
// machine folder disappears.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::kernel {

// Socket path of the current machine folder's host.
std::string HostSocketPath();
// Connects to the host, starting it first when none is running. Returns the connected socket (the caller owns
// it) or -1 with the last error set (ERROR_SERVICE_REQUEST_TIMEOUT when the host did not come up in time).
int ConnectHost(bool startIfNeeded);
bool HostRunning();
// Asks the host to unload its drivers and end, and waits until it has. True when no host runs afterwards.
bool StopHost();

// Services that other parts of the layer run inside the host (the disks and their notices, for instance).
// A part linked into the host registers its service by name from a static initialiser; the host runs every
// start routine once before it accepts connections, and hands each request for the service to its handler on
// the connection's own thread. The handler fills `reply` (which already holds room for the status) and returns
// the status; a handler that keeps the connection for itself (a stream of notices) returns
// STATUS_PENDING and the host then leaves the connection to it: when the handler returns, the connection closes.
// The stop routine runs when the host ends in order (told to stop, or its machine folder gone).
using HostServiceStart = void (*)();
using HostServiceStop = void (*)();
using HostServiceHandler = int32_t (*)(int fd, const uint8_t* request, size_t size, std::vector<uint8_t>& reply);
void RegisterHostService(const char* name, HostServiceStart start, HostServiceHandler handler, HostServiceStop stop);
// Called by the host program: runs the start routines (or the stop routines, newest first), and serves a request
// that names a service.
void StartHostServices();
void StopHostServices();
int32_t ServeHostService(const std::u16string& name, int fd, const uint8_t* request, size_t size,
                         std::vector<uint8_t>& reply);

// The client's side: one request to a service on a fresh connection (the host started first when asked).
// Returns the status (STATUS_PORT_DISCONNECTED when no host answers) and the rest of the reply.
int32_t CallHostService(const std::u16string& name, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply,
                        bool startHost);
// Opens a connection that stays with a service: sends the request and returns the socket (the caller owns it and
// reads the service's messages with the host's framing), or -1.
int OpenHostServiceConnection(const std::u16string& name, const std::vector<uint8_t>& request);

} // namespace platform::kernel
