// The targets of a fleet update. Every address is probed first with the search's
// core; single addresses given by name get a row whatever the probe found, the
// addresses of ranges (and of the default targets) only when an access point answered.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/fleet/fleet.h"
#include "engine/search/access_point_search.h"
#include "engine/search/search_targets.h"

namespace quorsel {

struct FleetTargetPlan {
    std::vector<Ipv4Address> probed;  // every address to probe, each once
    std::vector<Ipv4Address> named;   // given as single addresses, in their order
    std::string error;                // empty when every target was valid
};

// Targets as ReadTargetArguments gives them: "a.b.c.d", "a.b.c.d/n", "a.b.c.d-e".
// A list that yields no address is an error.
FleetTargetPlan PlanFleetTargets(const std::vector<std::string>& targets);

// The default targets, all searched.
FleetTargetPlan PlanDefaultTargets(const std::vector<Ipv4Address>& addresses);

struct MissedPeer {
    Ipv4Address address{};
    ProbeMiss why = ProbeMiss::NoAnswer;
};

// "refused", "no answer", "silent": the same words as quorsel-scan --verbose.
const char* ProbeMissReason(ProbeMiss why);

// The fleet's rows: the named addresses in their order (an access point that fits is
// run; another model, no answer or no access point is decided here), then the access
// points the probe found among the other addresses, in address order (another
// model: skipped). Each address once.
std::vector<FleetTarget> FleetTargetsFrom(const FleetTargetPlan& plan, const std::vector<FoundPeer>& found,
                                          const std::vector<MissedPeer>& missed, const std::string& firmwareModel);

}  // namespace quorsel
