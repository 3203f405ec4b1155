// The access point's serial side: its boot code, which answers the wake-up bytes,
// and the loader, which receives the upload of one range in 1024-byte blocks,
// checks it and reports erasing, writing and the outcome with single letters.
// One range after the other, each on its own opening of the line by the updater.
// A close of the line is seen as a hang-up of the pseudo-terminal, which the next
// open clears: a line closed and opened again within a few milliseconds may go
// unnoticed, and the session that was cut off then ends with the idle time-out. The
// updater pauses a second between two ranges, so it never does that.
#pragma once

#include <chrono>
#include <cstdint>

#include "tools/apsim/access_point.h"
#include "tools/apsim/flash_store.h"
#include "tools/apsim/options.h"
#include "tools/apsim/pty_posix.h"

namespace quorsel::apsim {

struct SerialServiceConfig {
    AccessPoint accessPoint;
    FlashStore* flash = nullptr;  // not owned; null: ranges are checked but not stored
    SerialOptions line;           // loader length, wake-up, pacing, faults
    std::chrono::milliseconds idleTimeout{};
    std::chrono::milliseconds silentHold{};
    uint32_t exitAfterRanges = 0;  // 0: never
};

// Serves the line until a stop signal or the exit condition; returns the exit
// status (0, or 1 when the pseudo-terminal fails).
int RunSerialService(PtyMaster& pty, const SerialServiceConfig& config);

}  // namespace quorsel::apsim
