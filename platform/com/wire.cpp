#include "platform/com/wire.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::com::wire {

HRESULT Writer::Variant(const VARIANT& v) {
    U16(v.vt);
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return S_OK;
    case VT_I2:
    case VT_BOOL:
        Raw(&v.iVal, sizeof v.iVal);
        return S_OK;
    case VT_I4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        Raw(&v.lVal, sizeof v.lVal);
        return S_OK;
    case VT_UI1:
        U8(v.bVal);
        return S_OK;
    case VT_UI2:
        U16(v.uiVal);
        return S_OK;
    case VT_R8:
        Raw(&v.dblVal, sizeof v.dblVal);
        return S_OK;
    case VT_BSTR:
        Text(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal));
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}

bool Reader::Text(std::u16string& text) {
    uint32_t n = 0;
    if (!U32(n) || (m_data.size() - m_pos) / sizeof(char16_t) < n)
        return false;
    text.resize(n);
    return Raw(text.data(), n * sizeof(char16_t));
}

bool Reader::Variant(VARIANT& v) {
    VariantInit(&v);
    uint16_t vt = 0;
    if (!U16(vt))
        return false;
    v.vt = vt;
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
        return true;
    case VT_I2:
    case VT_BOOL:
        return Raw(&v.iVal, sizeof v.iVal);
    case VT_I4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return Raw(&v.lVal, sizeof v.lVal);
    case VT_UI1:
        return U8(v.bVal);
    case VT_UI2:
        return U16(v.uiVal);
    case VT_R8:
        return Raw(&v.dblVal, sizeof v.dblVal);
    case VT_BSTR: {
        std::u16string text;
        if (!Text(text)) {
            v.vt = VT_EMPTY;
            return false;
        }
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return true;
    }
    default:
        v.vt = VT_EMPTY;
        return false;
    }
}

namespace {

bool SendAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Requests are small: anything claiming more is a broken peer.
constexpr uint32_t kLargestFrame = 1u << 24;

} // namespace

bool WriteFrame(int fd, const std::string& data) {
    const uint32_t n = static_cast<uint32_t>(data.size());
    return SendAll(fd, &n, sizeof n) && SendAll(fd, data.data(), data.size());
}

bool ReadFrame(int fd, std::string& data, int timeoutMs, bool& timedOut) {
    timedOut = false;
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            timedOut = true;
            return false;
        }
        if (r < 0)
            return false;
        break;
    }
    uint32_t n = 0;
    if (!ReceiveAll(fd, &n, sizeof n) || n > kLargestFrame)
        return false;
    data.resize(n);
    return ReceiveAll(fd, data.data(), n);
}

} // namespace platform::com::wire
