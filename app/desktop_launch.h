// Start-up's choice of front-end: the desktop module when a display is usable and
// the module loads, the terminal otherwise.
#pragma once

#include <optional>
#include <string>

#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/run_log.h"
#include "engine/search/probe_network.h"
#include "engine/serial_line.h"

namespace quorsel {

// Where the desktop module is looked for, in this order: the folder of the running
// updater's real file (a firmware file carries its module beside it; so does the
// build tree), then the installed library folder fixed at build time. Nowhere else:
// no environment variable and no current directory adds a place.
std::string ModuleBesideExecutable(const std::string& executablePath, const char* fileName);

// Runs the whole start-up through the desktop module, when a display is usable and
// the module is found, loads and takes the services; its exit status. nullopt: the
// terminal front-end is to be used. When a display was named but is not used, one
// line on standard error says why. The settings dialog's search runs on
// probeNetwork and marks the access points of firmwareModel.
std::optional<int> RunDesktopModule(int argc, char** argv, Network& network, SerialPorts& serialPorts,
                                    const PeerTimeouts& timeouts, const std::string& commandLine,
                                    const std::string& executablePath, ProbeNetwork& probeNetwork,
                                    const std::string& firmwareModel, RunLog* runLog = nullptr);

}  // namespace quorsel
