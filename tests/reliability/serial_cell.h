// One cell of the serial fault matrix, played at engine level: a whole serial run
// of region 4 against scripted serial lines whose access point misbehaves at one
// step in one way.
#pragma once

#include <chrono>
#include <string>

#include "engine/status_code.h"
#include "tests/reliability/fault_cells.h"

namespace quorsel::testing {

struct SerialCellOutcome {
    StatusCode code = STATUS_NONE;
    bool completeRaised = false;       // STATUS_COMPLETE was handed to the front-end at all
    std::chrono::milliseconds elapsed{0};
    size_t linesOpened = 0;
    size_t linesReleased = 0;
    size_t descriptorsBefore = 0;
    size_t descriptorsAfter = 0;
};

// Runs the cell with the firmware at path; the prompt waits `patience` for the
// access point before giving up.
SerialCellOutcome RunSerialCell(const std::string& path, const SerialStep& step, Fault fault,
                                std::chrono::milliseconds patience);

}  // namespace quorsel::testing
