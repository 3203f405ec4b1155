// Bits of a job's option word.
#pragma once

#include <cstdint>

namespace quorsel {

constexpr uint16_t OPTION_REGION_MASK = 0x003F;       // bit n selects flash region n
constexpr uint16_t OPTION_SKIP_MODEL_CHECK = 0x4000;  // the LAN run does not compare model codes
constexpr uint16_t OPTION_DEFAULT_REGIONS = 0x0030;   // regions 4 and 5

}  // namespace quorsel
