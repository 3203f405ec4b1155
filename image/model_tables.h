// The known access point models and their two flash layouts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorsel {

struct Region {
    uint32_t start;
    uint32_t length;
};

using RegionTable = std::array<Region, 6>;

constexpr int MODEL_COUNT = 6;
constexpr size_t MODEL_CODE_LENGTH = 6;

extern const RegionTable LAYOUT_2MIB;
extern const RegionTable LAYOUT_4MIB;

// Model codes in table order: "KRV001", "KRV010", "KRV011", "MXD001", "ZLT010", "ZLT011".
extern const char* const MODEL_CODES[MODEL_COUNT];

const RegionTable& RegionTableOf(int modelIndex);
// Index of the first model whose six characters equal code[0..5], or -1.
int FindModel(const uint8_t* code);

}  // namespace quorsel
