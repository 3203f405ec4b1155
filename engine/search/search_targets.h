// What a search of the local network probes: IPv4 addresses and ranges expanded to
// single addresses, the default targets from the machine's own interfaces, and the
// target files named on a command line.
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
    std::vector<Ipv4Address> addresses;  // merged: every address once, in the order first given
    std::vector<Ipv4Address> named;      // those given as single addresses (a.b.c.d), each once
    std::string error;                   // empty when every target was valid and the total fits
    std::vector<std::string> leftOut;    // default targets: subnets left out, "10.1.0.0/22"
    std::vector<std::string> subnets;    // default targets: subnets searched, in the same form
};

// Expands "a.b.c.d", "a.b.c.d/n" and "a.b.c.d-e" (the last part from d to e)
// targets. A CIDR range leaves out its network and broadcast addresses (prefixes up
// to /30). Overlapping targets are merged, so each address is probed once.
// 0.0.0.0/8, 224.0.0.0/4 (multicast), 240.0.0.0/4 and 255.255.255.255 are never
// probed: a target that holds nothing else is an error, as is an empty list and more
// than SEARCH_MAX_ADDRESSES addresses in all (refused without expanding them).
TargetExpansion ExpandTargets(const std::vector<std::string>& targets);

// The default targets: each subnet (capped at DEFAULT_TARGET_PREFIX_CAP around its
// own address) without the machine's own addresses, then FACTORY_ADDRESS. Subnets
// are taken whole, in the order given (the machine's first address first), while the
// total stays within SEARCH_MAX_ADDRESSES; each one that no longer fits is named in
// leftOut and the rest are still tried. Never an error.
// Loopback and interfaces that are down are left out by whoever lists the subnets.
TargetExpansion DefaultTargets(const std::vector<LocalSubnet>& subnets);

// Reads one target file named on the command line; "-" is standard input. The
// error is a line for the user that names the file.
using TargetFileReader = std::function<Result<std::string, std::string>(const std::string& path)>;

// The targets as given, with each "@FILE" (and "@-", standard input) replaced by
// the lines of that file: '#' starts a comment, blanks around a target and blank
// lines are skipped. Fails with the error of the first file that cannot be read.
Result<std::vector<std::string>, std::string> ReadTargetArguments(const std::vector<std::string>& arguments,
                                                                  const TargetFileReader& read);

// "10.0.0.2" for printing.
std::string FormatAddress(const Ipv4Address& address);

}  // namespace quorsel
