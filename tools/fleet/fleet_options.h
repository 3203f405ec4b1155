// quorsel-fleet's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/options.h"
#include "common/result.h"
#include "engine/fleet/fleet.h"
#include "engine/fleet/rollout.h"

namespace quorsel {

enum class FleetAction {
    RUN,
    HELP,     // --help, -h: usage on standard output
    VERSION,  // --version
};

struct FleetOptions {
    FleetAction action = FleetAction::RUN;
    std::string firmwarePath;
    uint16_t optionFlags = OPTION_DEFAULT_REGIONS;
    size_t jobs = FLEET_DEFAULT_JOBS;
    std::string reportPath;        // empty: no report
    std::string passwordFilePath;  // empty: ask
    bool yes = false;              // --yes: update what a search of the default targets finds without asking
    std::vector<std::string> targets;  // as given: addresses, ranges, @FILE, @-
    std::vector<std::string> moreFirmware;  // --firmware, in their order
    bool dryRun = false;                // --dry-run: probe and plan, write nothing
    bool json = false;                  // --json: events on standard output, people's text on standard error
    std::string retryFailedPath;        // --retry-failed REPORT
    std::string skipUpdatedPath;        // --skip-updated REPORT
    std::vector<RolloutAmount> batches;     // --batches
    std::optional<RolloutAmount> maxFail;   // --max-fail
    std::optional<unsigned> awaitRestartMinutes;  // --await-restart[=MINUTES]

    // The first argument, then every --firmware.
    std::vector<std::string> FirmwarePaths() const;
};

// argv[1..argc-1]: FIRMWARE [-bepfz] [--jobs N] [--report FILE] [--password-file FILE]
// [--yes] [--firmware FILE]... [--dry-run] [--retry-failed REPORT | --skip-updated REPORT]
// [--batches LIST] [--max-fail N|P%] [--await-restart[=MINUTES]] [--json] [--] [TARGET...] (options and targets in any order after FIRMWARE;
// --opt=value as well as --opt value; after "--" everything is a target). The error
// is one line.
Result<FleetOptions, std::string> ParseFleetOptions(int argc, const char* const* argv);

// The option letters of the regions in optionFlags: "fz" for regions 4 and 5.
std::string RegionLetters(uint16_t optionFlags);

}  // namespace quorsel
