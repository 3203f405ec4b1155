// quorsel-fleet's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/options.h"
#include "common/result.h"
#include "engine/fleet/fleet.h"

namespace quorsel {

struct FleetOptions {
    std::string firmwarePath;
    uint16_t optionFlags = OPTION_DEFAULT_REGIONS;
    size_t jobs = FLEET_DEFAULT_JOBS;
    std::string reportPath;        // empty: no report
    std::string passwordFilePath;  // empty: ask
    std::vector<std::string> targets;
};

// argv[1..argc-1]: FIRMWARE [-bepfzi] [--jobs N] [--report FILE] [--password-file FILE] TARGET...
// (options and targets in any order after FIRMWARE). The error is one line.
Result<FleetOptions, std::string> ParseFleetOptions(int argc, const char* const* argv);

}  // namespace quorsel
