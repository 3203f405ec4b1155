#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorsel {
namespace {

TEST(RangeHeaderTest, EncodesTagAndLittleEndianFields) {
    RangeHeader header;
    header.checksum = 0xBEEF;
    header.start = 0x00018000;
    header.length = 0x001E8000;
    header.passwordDigest = 0x00012269;

    const auto bytes = header.Encode();
    const std::vector<uint8_t> expected = {'_', 'F', 'l', 'a', 's', 'h',  //
                                           0xEF, 0xBE,                    // checksum
                                           0x00, 0x80, 0x01, 0x00,        // start
                                           0x00, 0x80, 0x1E, 0x00,        // length
                                           0x69, 0x22, 0x01, 0x00};       // digest
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(RangeHeaderTest, DecodeReadsBackWhatEncodeWrote) {
    RangeHeader header;
    header.checksum = 0x0102;
    header.start = 0xA1B2C3D4;
    header.length = 0x01020304;
    header.passwordDigest = 0xFFFFFFFF;

    const auto bytes = header.Encode();
    const RangeHeader back = RangeHeader::Decode(bytes.data());
    EXPECT_EQ(back.checksum, 0x0102);
    EXPECT_EQ(back.start, 0xA1B2C3D4u);
    EXPECT_EQ(back.length, 0x01020304u);
    EXPECT_EQ(back.passwordDigest, 0xFFFFFFFFu);
}

TEST(RangeHeaderTest, OldFormIsTheFirstSixteenBytes) {
    RangeHeader header;
    header.passwordDigest = 0x11223344;
    const auto bytes = header.Encode();
    // The digest is the only field past the old form's end.
    EXPECT_EQ(bytes[RANGE_HEADER_SIZE_OLD], 0x44);
    EXPECT_EQ(bytes[RANGE_HEADER_SIZE - 1], 0x11);
}

// A layout whose regions follow each other without gaps.
constexpr RegionTable CONTIGUOUS = {{{0x00000, 0x4000},
                                     {0x04000, 0x2000},
                                     {0x06000, 0x2000},
                                     {0x08000, 0x8000},
                                     {0x10000, 0x8000},
                                     {0x18000, 0xE8000}}};

TEST(MergeRegionsTest, NothingSelectedGivesNoRange) {
    EXPECT_TRUE(MergeRegions(CONTIGUOUS, 0).empty());
    // Bits above the six region bits select nothing.
    EXPECT_TRUE(MergeRegions(CONTIGUOUS, 0xFFC0).empty());
}

TEST(MergeRegionsTest, AllSixGiveOneRangeOverTheWholeLayout) {
    EXPECT_EQ(MergeRegions(CONTIGUOUS, 0x3F), (std::vector<FlashRange>{{0, 0x100000}}));
}

TEST(MergeRegionsTest, RegionsFourAndFiveRunToTheEndOfTheLayout) {
    EXPECT_EQ(MergeRegions(CONTIGUOUS, 0x30), (std::vector<FlashRange>{{0x10000, 0xF0000}}));
    // The skip-model-check bit and other high bits change nothing.
    EXPECT_EQ(MergeRegions(CONTIGUOUS, 0x4030), MergeRegions(CONTIGUOUS, 0x30));
    EXPECT_EQ(MergeRegions(CONTIGUOUS, 0xBFF0), MergeRegions(CONTIGUOUS, 0x30));
}

TEST(MergeRegionsTest, AnUnselectedRegionBetweenSplitsTheRanges) {
    EXPECT_EQ(MergeRegions(CONTIGUOUS, 0x05), (std::vector<FlashRange>{{0x0, 0x4000}, {0x6000, 0x2000}}));
    EXPECT_EQ(MergeRegions(CONTIGUOUS, 0x2B),
              (std::vector<FlashRange>{{0x0, 0x6000}, {0x8000, 0x8000}, {0x18000, 0xE8000}}));
}

TEST(MergeRegionsTest, OnlyARegionStartingExactlyAtTheRangeEndJoinsIt) {
    const RegionTable gapsAndOverlaps = {{{0x0000, 0x1000},     // 0
                                          {0x2000, 0x1000},     // 1: gap after 0
                                          {0x2800, 0x1000},     // 2: overlaps 1
                                          {0x3800, 0x0800},     // 3: follows 2 exactly
                                          {0x0000, 0x1000},     // 4: goes back to the start
                                          {0x1000, 0x1000}}};   // 5: follows 4 exactly
    EXPECT_EQ(MergeRegions(gapsAndOverlaps, 0x3F),
              (std::vector<FlashRange>{{0x0000, 0x1000}, {0x2000, 0x1000}, {0x2800, 0x1800}, {0x0000, 0x2000}}));
}

}  // namespace
}  // namespace quorsel
