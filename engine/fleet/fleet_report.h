// The report of a fleet update as JSON: the firmware file, its model and regions,
// the start and end, and one record per access point.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/fleet/fleet.h"

namespace quorsel {

struct FleetReportHeader {
    std::string firmwarePath;
    std::string modelCode;
    uint16_t optionFlags = 0;
    std::chrono::system_clock::time_point started{};
    std::chrono::system_clock::time_point ended{};
    int exitStatus = 0;
};

// What the report says about a code: its status text for an access point, and the
// exit status the firmware file's own updater gives for it.
struct FleetReportTexts {
    std::function<std::string(StatusCode, const Ipv4Address&)> statusText;
    std::function<int(StatusCode)> exitStatus;
    std::string skippedText;
    std::string notStartedText;
};

// "STATUS_COMPLETE" for 278; "STATUS_NONE" for a code that has no name.
const char* StatusCodeName(StatusCode code);

// "2026-12-09T05:41:07Z".
std::string FormatUtc(std::chrono::system_clock::time_point time);

// The report, pretty-printed, ending with a line end.
std::string FleetReportJson(const FleetReportHeader& header, const std::vector<FleetEntry>& entries,
                            const FleetReportTexts& texts);

}  // namespace quorsel
