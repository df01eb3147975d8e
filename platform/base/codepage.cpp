#include "platform/base/codepage.h"

#include <array>
#include <cstring>
#include <iconv.h>
#include <unordered_map>

namespace {

struct CodePageTable {
    std::array<char16_t, 256> wide{};
    std::unordered_map<char16_t, unsigned char> narrow;

    CodePageTable() {
        iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
        for (int b = 0; b < 256; ++b) {
            // Bytes the code page leaves undefined, and any the host's iconv does not know, keep their value.
            char16_t c = static_cast<char16_t>(b);
            if (b >= 0x80 && cd != reinterpret_cast<iconv_t>(-1)) {
                char in = static_cast<char>(b);
                unsigned char out[4] = {};
                char* pin = &in;
                char* pout = reinterpret_cast<char*>(out);
                size_t inLeft = 1;
                size_t outLeft = sizeof out;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &pin, &inLeft, &pout, &outLeft) != static_cast<size_t>(-1) && outLeft == 2)
                    c = static_cast<char16_t>(out[0] | (out[1] << 8));
            }
            wide[static_cast<size_t>(b)] = c;
            narrow.emplace(c, static_cast<unsigned char>(b));
        }
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
};

const CodePageTable& Table() {
    static const CodePageTable table;
    return table;
}

} // namespace

namespace platform {

std::u16string Windows1252ToUtf16(std::string_view bytes) {
    const CodePageTable& table = Table();
    std::u16string text;
    text.reserve(bytes.size());
    for (char b : bytes)
        text += table.wide[static_cast<unsigned char>(b)];
    return text;
}

bool Utf16ToWindows1252(std::u16string_view text, std::string& bytes) {
    const CodePageTable& table = Table();
    bytes.clear();
    bytes.reserve(text.size());
    for (char16_t c : text) {
        const auto it = table.narrow.find(c);
        if (it == table.narrow.end())
            return false;
        bytes += static_cast<char>(it->second);
    }
    return true;
}

} // namespace platform

size_t wcstombs(char* dst, const char16_t* src, size_t count) {
    if (!src)
        return static_cast<size_t>(-1);
    std::string bytes;
    if (!platform::Utf16ToWindows1252(std::u16string_view(src), bytes))
        return static_cast<size_t>(-1);
    if (!dst)
        return bytes.size();
    const size_t n = bytes.size() < count ? bytes.size() : count;
    std::memcpy(dst, bytes.data(), n);
    if (n < count)
        dst[n] = 0;
    return n;
}

size_t mbstowcs(char16_t* dst, const char* src, size_t count) {
    if (!src)
        return static_cast<size_t>(-1);
    const std::u16string text = platform::Windows1252ToUtf16(std::string_view(src));
    if (!dst)
        return text.size();
    const size_t n = text.size() < count ? text.size() : count;
    std::memcpy(dst, text.data(), n * sizeof(char16_t));
    if (n < count)
        dst[n] = 0;
    return n;
}
