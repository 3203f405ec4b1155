// Records the protocols share: the range header, the transfer counters and flash ranges.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/model_tables.h"

namespace quorsel {

constexpr size_t RANGE_HEADER_SIZE = 20;
constexpr size_t RANGE_HEADER_SIZE_OLD = 16;
constexpr char RANGE_HEADER_TAG[] = "_Flash";           // sent without its terminator
constexpr size_t RANGE_HEADER_TAG_SIZE = 6;

struct RangeHeader {
    uint16_t checksum = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t passwordDigest = 0;

    // "_Flash", checksum, start, length, digest; little-endian.
    std::array<uint8_t, RANGE_HEADER_SIZE> Encode() const;
    static RangeHeader Decode(const uint8_t* bytes);  // the caller checks the "_Flash" tag
};

struct TransferCounters {
    uint32_t total = 0;
    uint32_t done = 0;
};

struct FlashRange {
    uint32_t start = 0;
    uint32_t length = 0;
    bool operator==(const FlashRange&) const = default;
};

// Merges the regions selected by the low six bits of optionFlags into ranges:
// a selected region joins the previous range only when it starts where that range ends.
std::vector<FlashRange> MergeRegions(const RegionTable& regions, uint16_t optionFlags);

}  // namespace quorsel
