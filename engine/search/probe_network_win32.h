// The search's sockets on Windows: Windows Sockets 1.1 (wsock32) sockets made
// non-blocking with FIONBIO and watched by one select, and the machine's subnets
// from GetAdaptersAddresses (iphlpapi).
#pragma once

#include "engine/search/probe_network.h"

namespace quorsel {

class Win32ProbeNetwork : public ProbeNetwork {
public:
    // Starts the sockets library (version 1.1) for the network's lifetime; when it
    // cannot start, no connection can be made.
    Win32ProbeNetwork();
    ~Win32ProbeNetwork() override;
    Win32ProbeNetwork(const Win32ProbeNetwork&) = delete;
    Win32ProbeNetwork& operator=(const Win32ProbeNetwork&) = delete;

    std::unique_ptr<ProbeConnection> Connect(const Ipv4Address& address, uint16_t port) override;
    // One select over every entry: FD_SETSIZE is raised to SEARCH_MAX_JOBS for it.
    bool Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) override;
    std::vector<LocalSubnet> LocalSubnets() override;

private:
    bool started_ = false;
};

// The IPv4 addresses of the adapters that are up and not loopback, with their
// on-link prefix lengths (local_subnets_win32.cpp: it needs the Winsock 2 headers
// of iphlpapi, which do not mix with the Winsock 1.1 ones).
std::vector<LocalSubnet> AdapterSubnets();

}  // namespace quorsel
