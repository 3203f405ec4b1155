// What a search of the local network probes: IPv4 addresses and CIDR ranges
// expanded to single addresses, and the default targets from the machine's own
// interfaces.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/result.h"

namespace quorsel {

// An IPv4 address in network byte order, as PeerAddress holds it.
using Ipv4Address = std::array<uint8_t, 4>;

// A search never probes more addresses than this; a larger one is refused.
constexpr size_t SEARCH_MAX_ADDRESSES = 4096;
// A default target (an interface's subnet) is never wider than this prefix around
// the machine's own address.
constexpr unsigned DEFAULT_TARGET_PREFIX_CAP = 22;
// The access point's factory address, always among the default targets.
constexpr Ipv4Address FACTORY_ADDRESS = {192, 168, 1, 254};

// One IPv4 address of this machine and the prefix length of its subnet.
struct LocalSubnet {
    Ipv4Address address{};
    unsigned prefixLength = 32;
};

struct TargetExpansion {
    std::vector<Ipv4Address> addresses;  // in the order given, each address once
    std::string error;                   // empty when every target was valid and the total fits
};

// Expands "a.b.c.d" and "a.b.c.d/n" targets. A range leaves out its network and
// broadcast addresses (prefixes up to /30); 0.0.0.0, multicast and 255.255.255.255
// are never probed. More than SEARCH_MAX_ADDRESSES in all is an error that says so.
TargetExpansion ExpandTargets(const std::vector<std::string>& targets);

// The default targets: each subnet (capped at DEFAULT_TARGET_PREFIX_CAP around its
// own address) without the machine's own addresses, then FACTORY_ADDRESS.
// Loopback and interfaces that are down are left out by whoever lists the subnets.
TargetExpansion DefaultTargets(const std::vector<LocalSubnet>& subnets);

// Reads a target file; path "-" is standard input.
using TargetFileReader = std::function<Result<std::string, std::string>(const std::string& path)>;
// "@FILE" and "@-" replaced by their lines ('#' starts a comment, blank lines left
// out); plain arguments kept. An empty overall list is the caller's error.
Result<std::vector<std::string>, std::string> ReadTargetArguments(const std::vector<std::string>& arguments,
                                                                  const TargetFileReader& read);

// "10.0.0.2" for printing.
std::string FormatAddress(const Ipv4Address& address);

}  // namespace quorsel
