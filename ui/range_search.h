// A search of targets the user names ("10.20.0.0/24"), for access points on a
// routed network that the machine's own subnets do not reach.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/search/probe_network.h"
#include "ui/search_runner.h"

namespace quorsel {

using TargetSearch = std::function<SearchRunner::Search(const std::vector<std::string>& targets)>;

// Searches built from this one cover exactly the targets given (addresses and
// a.b.c.d/n ranges); a target list that does not expand ends the search with its
// error. network must outlive every search built.
TargetSearch SearchOfTargets(ProbeNetwork& network, std::string firmwareModel);

}  // namespace quorsel
