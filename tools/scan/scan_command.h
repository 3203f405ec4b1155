// quorsel-scan from parsed options to exit status, over any ProbeNetwork.
#pragma once

#include <ostream>
#include <string>

#include "common/result.h"
#include "engine/search/probe_network.h"
#include "engine/search/search_targets.h"
#include "tools/scan/scan_options.h"

namespace quorsel::scan {

constexpr int EXIT_FOUND = 0;
constexpr int EXIT_NONE_FOUND = 1;
constexpr int EXIT_BAD_ARGUMENTS = 2;
constexpr int EXIT_SEARCH_FAILED = 3;

// Searches the targets (their @FILE read through readTargetFile; or the default
// targets of network's subnets, naming on err the subnets left out) and prints the
// result to out; messages go to err. Returns the exit status.
int RunScan(const ScanOptions& options, ProbeNetwork& network, std::ostream& out, std::ostream& err,
            const TargetFileReader& readTargetFile);

}  // namespace quorsel::scan
