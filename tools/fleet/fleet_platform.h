// The platform's sockets for quorsel-fleet: the network the runs use and the search's.
#pragma once

#include <memory>

#include "engine/lan_protocol.h"
#include "engine/search/probe_network.h"

namespace quorsel {

// The process's own settings before anything else: a report that outgrows the file
// size limit is a failed write, not the process's end.
void PrepareFleetProcess();
std::unique_ptr<Network> MakeFleetNetwork();
std::unique_ptr<ProbeNetwork> MakeFleetProbeNetwork();

}  // namespace quorsel
