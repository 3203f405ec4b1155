#include "tools/fleet/fleet_platform.h"

#include "engine/network_win32.h"
#include "engine/search/probe_network_win32.h"

namespace quorsel {

void PrepareFleetProcess() {}  // Windows has no file size signal

std::unique_ptr<Network> MakeFleetNetwork() { return std::make_unique<Win32Network>(); }
std::unique_ptr<ProbeNetwork> MakeFleetProbeNetwork() { return std::make_unique<Win32ProbeNetwork>(); }

}  // namespace quorsel
