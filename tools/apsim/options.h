// The simulator's command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "tools/apsim/faults.h"
#include "tools/apsim/serial_faults.h"
#include "tools/apsim/sim_limits.h"

namespace quorsel::apsim {

// The serial line's boot code and loader (--serial).
struct SerialOptions {
    uint32_t loaderLength = 0;        // bytes of loader before the range header in the upload
    uint32_t wakeAfter = DEFAULT_WAKE_AFTER;
    std::string bootNoise;            // sent before the "*"
    uint32_t baudRate = 0;            // 0: as fast as the pseudo-terminal goes
    std::string linkPath;             // empty: no link to the device
    SerialFaultPlan faults;
};

struct Options {
    bool showHelp = false;

    // What the simulated access point is.
    std::string model = "KRV001";  // six ASCII characters
    char generation = '2';         // '2' and above: new generation (password, stored bytes)
    std::string password;          // UTF-8 as given; compared in code page 932
    std::string flashPath;         // empty: ranges are checked but not stored

    // Where it listens.
    std::string listenAddress = "127.0.0.1";
    uint16_t port = DEFAULT_PORT;  // 0: any free port

    // When it ends on its own (0: never).
    uint32_t exitAfterRanges = 0;
    uint32_t maxConnections = 0;

    std::chrono::milliseconds idleTimeout = DEFAULT_IDLE_TIMEOUT;
    std::chrono::milliseconds silentHold = DEFAULT_SILENT_HOLD;

    // The pace of the flash work (0: none).
    std::chrono::milliseconds erasePause{0};
    std::chrono::milliseconds blockPause{0};

    // After a completed update: not listening for this long, then as before (0: never).
    std::chrono::milliseconds restartPause{0};

    LineEnd lineEnd = LineEnd::Lf;
    FaultPlan faults;

    // A serial line on a pseudo-terminal instead of the LAN service.
    bool serial = false;
    SerialOptions serialOptions;
};

// Parses argv[1..argc-1]; the error is a one-line message for the user.
Result<Options, std::string> ParseOptions(int argc, const char* const* argv);

// The --help text.
std::string UsageText();

}  // namespace quorsel::apsim
