#include "tools/fleet/fleet_platform.h"

#include <signal.h>

#include "engine/posix_network.h"
#include "engine/search/probe_network_posix.h"

namespace quorsel {

void PrepareFleetProcess() { ::signal(SIGXFSZ, SIG_IGN); }

std::unique_ptr<Network> MakeFleetNetwork() { return std::make_unique<PosixNetwork>(); }
std::unique_ptr<ProbeNetwork> MakeFleetProbeNetwork() { return std::make_unique<PosixProbeNetwork>(); }

}  // namespace quorsel
