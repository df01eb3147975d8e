// The host side of the layer's sockets: BSD sockets behind Windows-valued arguments. Kept apart from winsock.h
// because the host's headers name the same constants with other values. Every call answers 0 or a WSA error
// code; nothing here touches the thread's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::net::host {

// A non-blocking, close-on-exec socket of the Windows type (datagram or stream), IPv4.
int OpenSocket(int windowsType, int& fd);
// Binds to the port on the dotted address, or on every address when the text is empty. A host name is resolved.
int Bind(int fd, const std::string& address, unsigned port);
int SetOption(int fd, int windowsLevel, int windowsOption, const void* value, int length);
int GetOption(int fd, int windowsLevel, int windowsOption, void* value, int& length);
// Sends one datagram to the address (dotted or a host name); 255.255.255.255 goes to the layer's broadcast
// address. `sent` is the number of bytes taken.
int SendTo(int fd, const void* data, size_t size, const std::string& address, unsigned port, size_t& sent);
// Receives one datagram into the buffer (a longer one is cut and answers WSAEMSGSIZE, as Winsock does, with the
// buffer filled); `address` is the sender's dotted address.
int ReceiveFrom(int fd, void* buffer, size_t size, size_t& received, std::string& address, unsigned& port);
int LocalName(int fd, std::string& address, unsigned& port);
void CloseSocket(int fd);

// Dotted IPv4 text <-> address in network order; false for text that is not one.
bool ParseDotted(const std::string& text, uint32_t& networkOrder);
std::string Dotted(uint32_t networkOrder);

int WsaErrorFromErrno(int err);
// The address a datagram to 255.255.255.255 goes to: WINLAYER_BROADCAST when it holds a dotted address.
std::string BroadcastSetting();

} // namespace platform::net::host
