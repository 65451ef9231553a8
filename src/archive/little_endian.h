#pragma once

// Zip records store every number least significant byte first.

#include <cstdint>
#include <span>

// The size-byte number at position; the caller has checked that it fits.
inline std::uint32_t littleEndian(std::span<const std::uint8_t> bytes, std::uint64_t position, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | bytes[position + static_cast<std::uint64_t>(i)];
    }
    return value;
}
