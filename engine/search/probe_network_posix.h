// The search's sockets on POSIX: non-blocking connects watched by one poll, and
// the machine's subnets from getifaddrs.
#pragma once

#include "engine/search/probe_network.h"

namespace quorsel {

class PosixProbeNetwork : public ProbeNetwork {
public:
    std::unique_ptr<ProbeConnection> Connect(const Ipv4Address& address, uint16_t port) override;
    bool Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) override;
    std::vector<LocalSubnet> LocalSubnets() override;
};

}  // namespace quorsel
