// A stop request from SIGINT or SIGTERM, seen by every wait of the simulator.
#pragma once

namespace quorsel::apsim {

// Installs the handlers for SIGINT and SIGTERM (without restarting interrupted calls,
// so a blocked wait returns at once) and ignores SIGPIPE.
bool InstallStopHandlers();
bool StopRequested();

}  // namespace quorsel::apsim
