// Private: the messages between programs and the kernel host over its Unix socket.
//
// A message is a 32-bit length followed by that many bytes: a request starts with its operation, a reply with
// the NTSTATUS of the operation. Integers are little-endian; texts are UTF-16 with a 32-bit count of characters;
// byte blocks have a 32-bit length. One connection carries at most one open device: the handle a program holds
// owns the connection, and the host closes the device when the connection goes away (the program ended).
#pragma once

#include "platform/kernel/ntstatus.h"

#include <cstring>
#include <string>
#include <vector>

namespace platform::kernel::protocol {

enum class Op : uint32_t {
    LoadDriver = 1,   // service name, host path of the module
    UnloadDriver = 2, // service name
    QueryDriver = 3,  // service name -> status success when loaded
    Open = 4,         // NT name, access, share
    Close = 5,
    Read = 6,          // length, has offset, offset -> bytes, position
    Write = 7,         // has offset, offset, bytes -> count
    Control = 8,       // code, input bytes, output length -> information, output bytes
    DefineDos = 9,     // flags, name, target
    QueryDos = 10,     // name -> count, texts
    DriveLetters = 11, // -> count, (drive, device name, device type, characteristics)
    Shutdown = 12,
    Seek = 13, // from current position (else from 0), distance -> position
    // The connection's shared buffer: a sealed memory file passed with the message, mapped by the host until the
    // next one or the end of the connection. Data of the two operations below travels through it.
    MapBuffer = 14,   // size (+ the descriptor)
    ReadShared = 15,  // length, has offset, offset -> count (the data is at the start of the buffer)
    WriteShared = 16, // length, has offset, offset (the data is at the start of the buffer) -> count
    Service = 17,     // service name, request bytes -> the service's reply (see RegisterHostService)
    // The connection's request channel (shared_channel.h): a sealed memory file of a control block and the data
    // after it, passed with the message and mapped by the host until the next one or the end of the connection.
    MapChannel = 18, // size (+ the descriptor)
    Ring = 19,       // wakes a host that sleeps on the socket to look at the channel; never answered
    Flush = 20,      // the device's FlushFileBuffers
};

class Writer {
public:
    void U32(uint32_t v) { Raw(&v, 4); }
    void U64(uint64_t v) { Raw(&v, 8); }
    void Text(const std::u16string& s) {
        U32(static_cast<uint32_t>(s.size()));
        Raw(s.data(), s.size() * 2);
    }
    void Bytes(const void* data, size_t size) {
        U32(static_cast<uint32_t>(size));
        Raw(data, size);
    }
    void Raw(const void* data, size_t size) {
        const size_t at = m_data.size();
        m_data.resize(at + size);
        if (size)
            memcpy(m_data.data() + at, data, size);
    }
    std::vector<uint8_t>& Data() { return m_data; }

private:
    std::vector<uint8_t> m_data;
};

// Reads fields with bounds checks; a short message sets the failed flag and yields zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint32_t U32() {
        uint32_t v = 0;
        Raw(&v, 4);
        return v;
    }
    uint64_t U64() {
        uint64_t v = 0;
        Raw(&v, 8);
        return v;
    }
    std::u16string Text() {
        const uint32_t count = U32();
        if (count > (m_size - m_offset) / 2) {
            m_failed = true;
            return {};
        }
        std::u16string s(count, u'\0');
        Raw(s.data(), count * 2);
        return s;
    }
    // A byte block in place: pointer into the message and its size.
    const uint8_t* Bytes(uint32_t& size) {
        size = U32();
        if (size > m_size - m_offset) {
            m_failed = true;
            size = 0;
            return nullptr;
        }
        const uint8_t* p = m_data + m_offset;
        m_offset += size;
        return p;
    }
    bool Failed() const { return m_failed; }

private:
    void Raw(void* out, size_t size) {
        if (m_failed || size > m_size - m_offset) {
            m_failed = true;
            memset(out, 0, size);
            return;
        }
        memcpy(out, m_data + m_offset, size);
        m_offset += size;
    }
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_failed = false;
};

// Whole-message socket I/O; false when the peer went away or the message is larger than `limit`. A message may
// carry one descriptor (`descriptor` >= 0); the receiver keeps it in `passed` when it asks for it (the caller
// then owns it; -1 when none came) and closes it otherwise.
bool SendMessage(int fd, const std::vector<uint8_t>& payload, int descriptor = -1);
bool ReceiveMessage(int fd, std::vector<uint8_t>& payload, size_t limit = 256u << 20, int* passed = nullptr);

} // namespace platform::kernel::protocol
