#include "tools/fleet/fleet_options.h"

#include <charconv>
#include <string_view>

#include "job/command_line.h"

namespace quorsel {

namespace {
constexpr uint16_t REGION_0 = 0x0001;  // the serial-only region
}  // namespace

Result<FleetOptions, std::string> ParseFleetOptions(int argc, const char* const* argv) {
    FleetOptions options;
    bool regionsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool last = i + 1 >= argc;
        if (argument == "--jobs" || argument == "--report" || argument == "--password-file") {
            if (last) return Fail(std::string(argument) + " needs a value");
            const std::string_view value = argv[++i];
            if (argument == "--report") {
                options.reportPath = value;
            } else if (argument == "--password-file") {
                options.passwordFilePath = value;
            } else {
                size_t jobs = 0;
                const auto parsed = std::from_chars(value.data(), value.data() + value.size(), jobs);
                if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || jobs == 0 ||
                    jobs > FLEET_MAX_JOBS) {
                    return Fail("--jobs takes a number from 1 to " + std::to_string(FLEET_MAX_JOBS));
                }
                options.jobs = jobs;
            }
        } else if (argument.size() > 1 && argument[0] == '-' && argument[1] == '-') {
            return Fail("unknown option " + std::string(argument));
        } else if (!argument.empty() && argument[0] == '-') {
            // The letters of the firmware file's own command line.
            if (regionsGiven) return Fail(std::string("only one option token"));
            if (!ApplyOptionToken(argument, options.optionFlags)) {
                return Fail("invalid option letters " + std::string(argument));
            }
            if ((options.optionFlags & REGION_0) != 0) {
                return Fail(std::string("region 0 is written only over the serial line"));
            }
            regionsGiven = true;
        } else if (options.firmwarePath.empty()) {
            options.firmwarePath = argument;
        } else {
            options.targets.emplace_back(argument);
        }
    }
    if (options.firmwarePath.empty()) return Fail(std::string("no firmware file given"));
    return options;
}

}  // namespace quorsel
