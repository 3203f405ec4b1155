// The targets of a fleet update. Every address is probed first with the search's
// core; single addresses given by name get a row whatever the probe found, the
// addresses of ranges (and of the default targets) only when an access point answered.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/fleet/firmware_set.h"
#include "engine/fleet/fleet.h"
#include "engine/search/access_point_search.h"
#include "engine/search/search_targets.h"

namespace quorsel {

struct FleetTargetPlan {
    std::vector<Ipv4Address> probed;  // every address to probe, each once, in the order first given
    std::vector<Ipv4Address> named;   // given as single addresses, in their order
    std::string error;                // empty when every target was valid
    bool search = false;              // the default targets: the access points found run in address order
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

// The fleet's rows, in the order the targets were given, a range in address order
// (and a search of the default targets in address order): every named address (an
// access point that fits is run; another model, no answer or no access point is
// decided here), and the access points the probe found among the other addresses
// (another model: skipped). Each address once.
std::vector<FleetTarget> FleetTargetsFrom(const FleetTargetPlan& plan, const std::vector<FoundPeer>& found,
                                          const std::vector<MissedPeer>& missed, const std::string& firmwareModel);

// Several firmware files: each access point that answered gets the file of its model
// (firmwarePath); one whose model has none is skipped-other-model, and its reason
// names the models at hand.
void AssignFirmware(std::vector<FleetTarget>& targets, const FirmwareSet& firmware);

// --skip-updated: leaves these addresses out of the plan, so that nothing reaches them.
void LeaveOut(FleetTargetPlan& plan, const std::vector<Ipv4Address>& addresses);

}  // namespace quorsel
