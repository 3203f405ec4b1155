#include "image/model_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quorsel {
namespace {

const uint8_t* Bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(ModelTable, CodesAreFoundInTableOrderByTheirSixCharactersAlone) {
    for (int i = 0; i < MODEL_COUNT; ++i) {
        ASSERT_EQ(std::strlen(MODEL_CODES[i]), MODEL_CODE_LENGTH);
        EXPECT_EQ(FindModel(Bytes(MODEL_CODES[i])), i);
        // Whatever follows the six characters is not compared.
        const std::string longer = std::string(MODEL_CODES[i]) + "X-rev2";
        EXPECT_EQ(FindModel(Bytes(longer.c_str())), i);
    }
    for (const char* unknown : {"KRV000", "krv001", "KRV01 ", "ZLT012", "\0RV001", "      "}) {
        EXPECT_EQ(FindModel(Bytes(unknown)), -1) << unknown;
    }
}

TEST(ModelTable, EachModelHasTheLayoutOfItsFlashSize) {
    const char* twoMib[] = {"KRV001", "MXD001"};
    const char* fourMib[] = {"KRV010", "KRV011", "ZLT010", "ZLT011"};
    for (const char* code : twoMib) EXPECT_EQ(&RegionTableOf(FindModel(Bytes(code))), &LAYOUT_2MIB) << code;
    for (const char* code : fourMib) EXPECT_EQ(&RegionTableOf(FindModel(Bytes(code))), &LAYOUT_4MIB) << code;
}

TEST(RegionTable, RegionsAreContiguousBlockAlignedAndCoverTheLayout) {
    for (const auto& [table, total] : {std::pair{&LAYOUT_2MIB, 0x200000u}, std::pair{&LAYOUT_4MIB, 0x400000u}}) {
        uint32_t end = 0;
        for (const Region& region : *table) {
            EXPECT_EQ(region.start, end);
            EXPECT_EQ(region.start % 4096, 0u);
            EXPECT_EQ(region.length % 4096, 0u);
            EXPECT_GT(region.length, 0u);
            end = region.start + region.length;
        }
        EXPECT_EQ(end, total);
    }
    // Region 5 ends where the image does and holds the trailer block.
    EXPECT_EQ(LAYOUT_2MIB[5].start, 0x18000u);
    EXPECT_EQ(LAYOUT_4MIB[5].start, 0x1E000u);
}

}  // namespace
}  // namespace quorsel
