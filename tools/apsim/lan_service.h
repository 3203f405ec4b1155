// The access point's LAN update service: answers "INQR" and "FLSH" connections one
// after the other and stores every range that arrives whole and intact.
#pragma once

#include <chrono>
#include <cstdint>

#include "tools/apsim/access_point.h"
#include "tools/apsim/faults.h"
#include "tools/apsim/flash_store.h"
#include "tools/apsim/tcp.h"

namespace quorsel::apsim {

struct LanServiceConfig {
    AccessPoint accessPoint;
    FlashStore* flash = nullptr;  // not owned; null: ranges are checked but not stored
    std::chrono::milliseconds idleTimeout{};
    std::chrono::milliseconds silentHold{};
    std::chrono::milliseconds erasePause{0};  // before the "S" line
    std::chrono::milliseconds blockPause{0};  // before each data block's answer
    LineEnd lineEnd = LineEnd::Lf;
    FaultPlan faults;
    uint32_t exitAfterRanges = 0;  // 0: never
    uint32_t maxConnections = 0;   // 0: never
    // After a completed update (see RESTART_SETTLE_TIME), stop listening this long,
    // then answer again as before, as an access point that is power-cycled. 0: never.
    std::chrono::milliseconds restartPause{0};
};

// Serves connections until a stop signal or an exit condition; returns the exit status
// (0, or 1 when the listening socket fails).
int RunLanService(TcpListener& listener, const LanServiceConfig& config);

}  // namespace quorsel::apsim
