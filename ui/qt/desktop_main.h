// Entry into the desktop front-end, kept free of Qt types; the desktop module's
// entry point calls it.
#pragma once

#include <string>

#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/run_log.h"
#include "engine/search/probe_network.h"
#include "engine/serial_line.h"

namespace quorsel {

// Creates the application object and runs the whole start-up with the dialogs;
// returns the process exit status. Only argv[0] is handed to Qt, so that no
// updater argument is taken for a Qt option. The settings dialog's search runs on
// probeNetwork and marks the access points of firmwareModel (may be empty).
int RunDesktop(int argc, char** argv, Network& network, SerialPorts& serialPorts, PeerTimeouts timeouts,
               const std::string& commandLine, const std::string& executablePath, ProbeNetwork& probeNetwork,
               const std::string& firmwareModel, RunLog* log = nullptr);

}  // namespace quorsel
