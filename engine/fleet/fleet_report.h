// The report of a fleet update as JSON: the program, its start and end, the firmware
// file (name, size, SHA-256, model), the regions and the targets as given, and one
// record per access point. Saved atomically after each run and at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/fleet/fleet.h"

namespace quorsel {

struct FleetFirmware {
    std::string path;
    uint64_t size = 0;
    std::string sha256;  // 64 hexadecimal digits
    std::string modelCode;
};

struct FleetReportHeader {
    std::string version;                   // the project's version
    std::vector<FleetFirmware> firmware;
    std::string regions;                   // option letters, "fz"
    std::vector<std::string> targets;      // as given on the command line
    std::chrono::system_clock::time_point started{};
    std::optional<std::chrono::system_clock::time_point> ended;  // none while the fleet runs
    std::optional<int> exitStatus;                                // none while the fleet runs
};

// What the report says about a code: its status text for an access point, and the
// exit status the firmware file's own updater gives for it.
struct FleetReportTexts {
    std::function<std::string(StatusCode, const Ipv4Address&)> statusText;
    std::function<int(StatusCode)> exitStatus;
    std::string notStartedText;
};

// "2026-12-09T05:41:07Z".
std::string FormatUtc(std::chrono::system_clock::time_point time);

// "new" for a generation digit of 2 and above, "old" below; "" when unknown.
const char* GenerationName(char generationDigit);

// The report, pretty-printed, ending with a line end. "finished" is true once the
// header has its end.
std::string FleetReportJson(const FleetReportHeader& header, const std::vector<FleetEntry>& entries,
                            const FleetReportTexts& texts);

// Replaces the file at path with text: written to a temporary file in the same
// folder, then renamed over it, so the file is always either the old or the new
// report. The error says what failed; the file is then unchanged.
std::optional<std::string> ReplaceFileAtomically(const std::string& path, const std::string& text);

}  // namespace quorsel
