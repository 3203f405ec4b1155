#include "engine/transfer.h"

#include <cstring>

#include "common/le_bytes.h"

namespace quorsel {

std::array<uint8_t, RANGE_HEADER_SIZE> RangeHeader::Encode() const {
    std::array<uint8_t, RANGE_HEADER_SIZE> bytes{};
    std::memcpy(bytes.data(), RANGE_HEADER_TAG, RANGE_HEADER_TAG_SIZE);
    StoreLe16(bytes.data() + 6, checksum);
    StoreLe32(bytes.data() + 8, start);
    StoreLe32(bytes.data() + 12, length);
    StoreLe32(bytes.data() + 16, passwordDigest);
    return bytes;
}

RangeHeader RangeHeader::Decode(const uint8_t* bytes) {
    RangeHeader header;
    header.checksum = LoadLe16(bytes + 6);
    header.start = LoadLe32(bytes + 8);
    header.length = LoadLe32(bytes + 12);
    header.passwordDigest = LoadLe32(bytes + 16);
    return header;
}

std::vector<FlashRange> MergeRegions(const RegionTable& regions, uint16_t optionFlags) {
    std::vector<FlashRange> ranges;
    for (size_t i = 0; i < regions.size(); ++i) {
        if ((optionFlags & (1u << i)) == 0) continue;
        const Region& region = regions[i];
        // Compared in 64 bits so that a range reaching the top of the address space
        // cannot wrap round and appear to end where a low region starts.
        if (ranges.empty() ||
            uint64_t{ranges.back().start} + ranges.back().length != region.start) {
            ranges.push_back(FlashRange{region.start, region.length});
        } else {
            ranges.back().length += region.length;
        }
    }
    return ranges;
}

}  // namespace quorsel
