// An earlier fleet report read back: which access points to redo (--retry-failed)
// and which were already updated with the same firmware (--skip-updated).
#pragma once

#include <string>
#include <vector>

#include "common/result.h"
#include "engine/fleet/firmware_set.h"
#include "engine/search/search_targets.h"

namespace quorsel {

struct EarlierFirmware {
    std::string path;
    std::string model;
    std::string sha256;
};

struct EarlierAccessPoint {
    Ipv4Address address{};
    std::string model;     // empty when the report has none
    std::string result;    // "updated", "failed-before-writing", ... as written
    std::string firmware;  // the path of the file it got; empty when none
};

struct EarlierReport {
    std::string path;  // where it was read from, for messages
    std::vector<EarlierFirmware> firmware;
    std::vector<EarlierAccessPoint> accessPoints;  // in the report's order
};

// Reads a report's text (its keys as quorsel-fleet writes them). The error is one
// line that names the report.
Result<EarlierReport, std::string> ParseEarlierReport(const std::string& text, const std::string& path);

// The earlier report was made with the firmware at hand: every file it names for a
// model that has a file here has the same SHA-256, and at least one model is shared.
// The error is one line that names both files.
Result<bool, std::string> CheckSameFirmware(const EarlierReport& report, const FirmwareSet& firmware);

// Whether an access point with this result is redone by --retry-failed: every result
// but "updated", "skipped-other-model" and "not-an-access-point".
bool NeedsRetry(const std::string& result);

// --retry-failed: the addresses to redo, in the report's order, once the firmware
// check has passed. An empty list means nothing is left to redo.
Result<std::vector<Ipv4Address>, std::string> RetryTargets(const EarlierReport& report, const FirmwareSet& firmware);

// --skip-updated: the addresses the report shows updated with the very file (same
// SHA-256) that the set holds for their model now.
std::vector<Ipv4Address> UpdatedWithSameFirmware(const EarlierReport& report, const FirmwareSet& firmware);

}  // namespace quorsel
