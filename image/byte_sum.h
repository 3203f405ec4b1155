// Adding up bytes, each taken as 0 to 255, into an unsigned 32-bit sum that wraps.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorsel {

// Bytes per inner loop: a fixed trip count lets the compiler turn the loop into
// vector additions with no scalar remainder.
constexpr size_t BYTE_SUM_STRIDE = 256;

inline uint32_t SumStride(const uint8_t* data) {
    uint32_t sum = 0;
    for (size_t i = 0; i < BYTE_SUM_STRIDE; ++i) {
        sum += data[i];
    }
    return sum;
}

inline uint32_t AddBytes(uint32_t sum, const uint8_t* data, size_t n) {
    size_t i = 0;
    for (; i + BYTE_SUM_STRIDE <= n; i += BYTE_SUM_STRIDE) {
        sum += SumStride(data + i);
    }
    for (; i < n; ++i) {
        sum += data[i];
    }
    return sum;
}

}  // namespace quorsel
