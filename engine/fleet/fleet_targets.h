// The targets of a fleet update: addresses are updated as given, CIDR ranges (and,
// when nothing is given, the default targets) are searched first.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/search/access_point_search.h"
#include "engine/fleet/fleet.h"
#include "engine/search/search_targets.h"

namespace quorsel {

struct FleetTargetPlan {
    std::vector<Ipv4Address> direct;    // single addresses, updated without a search
    std::vector<Ipv4Address> searched;  // from ranges: only the access points found are updated
    bool defaults = false;              // no target was given: the caller fills searched
    std::string error;                  // empty when every target was valid
};

// Reads one @FILE: its lines, or nullopt when it cannot be read.
using FleetTargetFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// "a.b.c.d", "a.b.c.d/n" and "@FILE" (one target per line; '#' starts a comment).
FleetTargetPlan PlanFleetTargets(const std::vector<std::string>& arguments, const FleetTargetFileReader& readFile);

// The fleet's rows: the direct addresses, then every access point the search of
// plan.searched found (another model: skipped). Each address once.
std::vector<FleetTarget> FleetTargetsFrom(const FleetTargetPlan& plan, const std::vector<FoundPeer>& found);

}  // namespace quorsel
