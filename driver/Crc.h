// CRC-32 of the encrypted volume format: the IEEE 802.3 CRC with the reflected polynomial
// 0xEDB88320, initial value 0xFFFFFFFF and final complement. It checks the header's key area and, over four
// bytes at a time, seeds the whitening of the CBC sector mode.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 of length bytes at data, in memory order. Crc32("123456789", 9) == 0xCBF43926.
uint32_t Crc32(const void* data, size_t length);

// Continues a CRC-32: crc is the result of an earlier call (0 to start), so that
// Crc32Update(Crc32(a, n), b, m) equals the CRC-32 of a followed by b.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);
