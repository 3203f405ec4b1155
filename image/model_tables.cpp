// The six known model codes and the two flash layouts they use.
#include "image/model_tables.h"

#include <cstdlib>
#include <cstring>

namespace quorsel {

const RegionTable LAYOUT_2MIB = {{
    {0x0, 0x1000},
    {0x1000, 0x1000},
    {0x2000, 0x1000},
    {0x3000, 0x8000},
    {0xB000, 0xD000},
    {0x18000, 0x1E8000},
}};

const RegionTable LAYOUT_4MIB = {{
    {0x0, 0x1000},
    {0x1000, 0x1000},
    {0x2000, 0x6000},
    {0x8000, 0x8000},
    {0x10000, 0xE000},
    {0x1E000, 0x3E2000},
}};

const char* const MODEL_CODES[MODEL_COUNT] = {
    "KRV001", "KRV010", "KRV011", "MXD001", "ZLT010", "ZLT011",
};

namespace {

// The layout of each model, in the order of MODEL_CODES.
const RegionTable* const MODEL_LAYOUTS[MODEL_COUNT] = {
    &LAYOUT_2MIB, &LAYOUT_4MIB, &LAYOUT_4MIB, &LAYOUT_2MIB, &LAYOUT_4MIB, &LAYOUT_4MIB,
};

}  // namespace

const RegionTable& RegionTableOf(int modelIndex) {
    if (modelIndex < 0 || modelIndex >= MODEL_COUNT) {
        // Only an index from FindModel is valid; anything else is a caller's bug that
        // must not turn into a read outside the table.
        std::abort();
    }
    return *MODEL_LAYOUTS[modelIndex];
}

int FindModel(const uint8_t* code) {
    for (int i = 0; i < MODEL_COUNT; ++i) {
        if (std::memcmp(code, MODEL_CODES[i], MODEL_CODE_LENGTH) == 0) {
            return i;
        }
    }
    return -1;
}

}  // namespace quorsel
