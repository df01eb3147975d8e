// The messages between a COM client and a local server: framed requests and answers over a stream socket. Private
// to the COM layer.
#pragma once

#include "platform/com/oleauto.h"

#include <cstdint>
#include <string>

namespace platform::com::wire {

enum Op : uint8_t {
    kCreate = 'C',   // class id -> HRESULT
    kInvoke = 'I',   // dispid, flags, arguments, named ids -> HRESULT, result, argument error, exception
    kIdsOfNames = 'N', // names -> HRESULT, dispids
};

class Writer {
public:
    void U8(uint8_t v) { m_data.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) { Raw(&v, sizeof v); }
    void U32(uint32_t v) { Raw(&v, sizeof v); }
    void I32(int32_t v) { Raw(&v, sizeof v); }
    void Raw(const void* p, size_t n) { m_data.append(static_cast<const char*>(p), n); }
    void Text(const char16_t* p, size_t n) {
        U32(static_cast<uint32_t>(n));
        Raw(p, n * sizeof(char16_t));
    }
    // Plain values only; anything else is DISP_E_BADVARTYPE.
    HRESULT Variant(const VARIANT& v);
    const std::string& Data() const { return m_data; }

private:
    std::string m_data;
};

class Reader {
public:
    explicit Reader(const std::string& data) : m_data(data) {}
    bool U8(uint8_t& v) { return Raw(&v, sizeof v); }
    bool U16(uint16_t& v) { return Raw(&v, sizeof v); }
    bool U32(uint32_t& v) { return Raw(&v, sizeof v); }
    bool I32(int32_t& v) { return Raw(&v, sizeof v); }
    bool Raw(void* p, size_t n) {
        if (m_data.size() - m_pos < n)
            return false;
        m_data.copy(static_cast<char*>(p), n, m_pos);
        m_pos += n;
        return true;
    }
    bool Text(std::u16string& text);
    // The variant owns what it holds (a BSTR) when this answers true.
    bool Variant(VARIANT& v);

private:
    const std::string& m_data;
    size_t m_pos = 0;
};

// One frame each way: a 32-bit length and the bytes. Both answer false when the peer is gone. ReadFrame waits at
// most `timeoutMs` of real time for the frame's start (negative: without limit) and sets `timedOut`.
bool WriteFrame(int fd, const std::string& data);
bool ReadFrame(int fd, std::string& data, int timeoutMs, bool& timedOut);

} // namespace platform::com::wire
