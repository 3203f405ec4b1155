#include "tools/fleet/fleet_options.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "job/command_line.h"
#include "res/texts.h"

namespace quorsel {

namespace {
constexpr uint16_t REGION_0 = 0x0001;  // the serial-only region
// The region letters and their bits, as the firmware file's own command line takes them.
constexpr std::string_view REGION_LETTERS = "bepfz";
constexpr uint16_t REGION_BITS[] = {0x0001, 0x0002, 0x000C, 0x0010, 0x0020};

bool TakesValue(std::string_view name) {
    return name == "--jobs" || name == "--report" || name == "--password-file" || name == "--firmware" ||
           name == "--retry-failed" || name == "--skip-updated" || name == "--batches" || name == "--max-fail";
}

// --await-restart=MINUTES: 1 to RESTART_WATCH_MAX_MINUTES.
std::optional<unsigned> ParseMinutes(std::string_view value) {
    unsigned minutes = 0;
    const auto parsed = std::from_chars(value.data(), value.data() + value.size(), minutes);
    if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || minutes == 0 ||
        minutes > RESTART_WATCH_MAX_MINUTES) {
        return std::nullopt;
    }
    return minutes;
}

std::optional<std::string> SetValue(std::string_view name, std::string_view value, FleetOptions& options) {
    if (name == "--report") {
        if (value.empty()) return std::string("--report needs a file name");
        options.reportPath = value;
    } else if (name == "--password-file") {
        if (value.empty()) return std::string("--password-file needs a file name");
        options.passwordFilePath = value;
    } else if (name == "--firmware") {
        if (value.empty()) return std::string("--firmware needs a file name");
        options.moreFirmware.emplace_back(value);
    } else if (name == "--retry-failed" || name == "--skip-updated") {
        if (value.empty()) return std::string(name) + " needs a report file";
        (name == "--retry-failed" ? options.retryFailedPath : options.skipUpdatedPath) = value;
    } else if (name == "--batches") {
        auto batches = ParseBatches(value);
        if (!batches) return batches.error();
        options.batches = batches.value();
    } else if (name == "--max-fail") {
        auto bound = ParseMaxFail(value);
        if (!bound) return bound.error();
        options.maxFail = bound.value();
    } else {
        size_t jobs = 0;
        const auto parsed = std::from_chars(value.data(), value.data() + value.size(), jobs);
        if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || jobs == 0 ||
            jobs > FLEET_MAX_JOBS) {
            return "--jobs takes a number from 1 to " + std::to_string(FLEET_MAX_JOBS);
        }
        options.jobs = jobs;
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> FleetOptions::FirmwarePaths() const {
    std::vector<std::string> paths{firmwarePath};
    paths.insert(paths.end(), moreFirmware.begin(), moreFirmware.end());
    return paths;
}

std::string RegionLetters(uint16_t optionFlags) {
    std::string letters;
    for (size_t k = 0; k < REGION_LETTERS.size(); ++k) {
        if ((optionFlags & REGION_BITS[k]) == REGION_BITS[k]) letters += REGION_LETTERS[k];
    }
    return letters;
}

Result<FleetOptions, std::string> ParseFleetOptions(int argc, const char* const* argv) {
    FleetOptions options;
    bool regionsGiven = false;
    bool optionsEnded = false;
    bool skipModelCheck = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool option = !optionsEnded && argument.size() > 1 && argument[0] == '-';
        if (!option) {
            if (options.firmwarePath.empty() && options.targets.empty() && !argument.empty()) {
                options.firmwarePath = argument;
            } else {
                options.targets.emplace_back(argument);
            }
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            options.action = FleetAction::HELP;
            return options;
        } else if (argument == "--version") {
            options.action = FleetAction::VERSION;
            return options;
        } else if (argument == "--yes") {
            options.yes = true;
        } else if (argument == "--dry-run") {
            options.dryRun = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--await-restart" || argument.rfind("--await-restart=", 0) == 0) {
            const size_t equals = argument.find('=');
            if (equals == std::string_view::npos) {
                options.awaitRestartMinutes = static_cast<unsigned>(RESTART_WATCH_DEFAULT_BOUND.count());
            } else if (!(options.awaitRestartMinutes = ParseMinutes(argument.substr(equals + 1)))) {
                return Fail("--await-restart takes minutes from 1 to " + std::to_string(RESTART_WATCH_MAX_MINUTES));
            }
        } else if (argument.rfind("--", 0) == 0) {
            const size_t equals = argument.find('=');
            const std::string_view name = argument.substr(0, equals);
            if (!TakesValue(name)) return Fail("unknown option " + std::string(name));
            std::string_view value;
            if (equals != std::string_view::npos) {
                value = argument.substr(equals + 1);
            } else {
                if (i + 1 >= argc) return Fail(std::string(name) + " needs a value");
                value = argv[++i];
            }
            if (auto error = SetValue(name, value, options)) return Fail(*error);
        } else {
            // The letters of the firmware file's own command line.
            if (regionsGiven) return Fail(std::string("only one option token"));
            uint16_t flags = OPTION_DEFAULT_REGIONS;
            if (!ApplyOptionToken(argument, flags)) return Fail("invalid option letters " + std::string(argument));
            skipModelCheck = (flags & OPTION_SKIP_MODEL_CHECK) != 0;
            if ((flags & REGION_0) != 0) return Fail(std::string("region 0 is written only over the serial line"));
            options.optionFlags = flags;
            regionsGiven = true;
        }
    }
    if (options.firmwarePath.empty()) return Fail(std::string("no firmware file given"));
    if (!options.retryFailedPath.empty() && !options.skipUpdatedPath.empty()) {
        return Fail(std::string("--retry-failed and --skip-updated do not go together"));
    }
    if (!options.retryFailedPath.empty() && !options.targets.empty()) {
        return Fail(std::string("--retry-failed takes its targets from the report: give no TARGET"));
    }
    if (skipModelCheck) {
        // Another model's firmware is written to one access point at a time, by the firmware file itself.
        std::string text = TEXT_FLEET_NO_SKIP_MODEL_CHECK_FORMAT;
        text.replace(text.find("%1"), 2, options.firmwarePath);
        return Fail(text);
    }
    return options;
}

}  // namespace quorsel
