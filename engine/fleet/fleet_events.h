// The fleet's events for scripts (--json): JSON Lines with the report's key names.
// "plan" first (the firmware, the targets and every row), then "state" whenever a
// row's state, status or result changes, "progress" at most once per percent of a
// range, "restart" for each step of the restart watch, and at the end "end" and
// "recap" (the counts by result and the rows that were not updated).
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/fleet/fleet.h"
#include "engine/fleet/fleet_report.h"

namespace quorsel {

class FleetEventWriter {
public:
    // writeLine gets each line without its line end.
    FleetEventWriter(std::function<void(const std::string&)> writeLine, FleetReportTexts texts,
                     std::string firmwarePath);

    void Plan(const FleetReportHeader& header, const std::vector<FleetEntry>& entries, bool dryRun);
    // From any thread.
    void EntryChanged(size_t index, const FleetEntry& entry);
    void End(const FleetReportHeader& header, const std::vector<FleetEntry>& entries);
    // --retry-failed with an earlier report in which every access point ended:
    // {"event":"nothing-to-redo","report":PATH}.
    void NothingToRedo(const std::string& reportPath);

private:
    struct Row {
        std::string state;   // "waiting", "running", ... as last written
        std::string status;  // the code's name as last written
        std::string result;
        std::string restart;
        int percent = -1;
        uint32_t rangeTotal = 0;
    };

    std::function<void(const std::string&)> writeLine_;
    FleetReportTexts texts_;
    std::string firmwarePath_;
    std::mutex mutex_;
    std::vector<Row> rows_;
};

// "waiting", "running", "finished", "skipped", "not-started".
const char* FleetStateName(FleetState state);
// "awaited", "seen", "not-seen", "stopped".
const char* RestartStateName(RestartState state);

}  // namespace quorsel
