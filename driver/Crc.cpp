#include "driver/Crc.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; ++i) {
        c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    }
    return ~c;
}

uint32_t Crc32(const void* data, size_t length) {
    return Crc32Update(0, data, length);
}
