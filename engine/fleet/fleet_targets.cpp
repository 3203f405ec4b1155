#include "engine/fleet/fleet_targets.h"

#include <algorithm>
#include <map>
#include <set>

#include "res/texts.h"

namespace quorsel {
namespace {

FleetTarget FromPeer(const FoundPeer& peer, const std::string& firmwareModel) {
    FleetTarget target;
    target.address = peer.address;
    target.modelCode = peer.modelCode;
    target.generationDigit = peer.generationDigit;
    if (!peer.fitsFirmware) {
        target.verdict = FleetResult::SKIPPED_OTHER_MODEL;
        target.reason = "model " + peer.modelCode + ", the firmware file is for " + firmwareModel;
    }
    return target;
}

}  // namespace

FleetTargetPlan PlanFleetTargets(const std::vector<std::string>& targets) {
    FleetTargetPlan plan;
    if (targets.empty()) {
        plan.error = TEXT_FLEET_NO_ADDRESS;
        return plan;
    }
    TargetExpansion expansion = ExpandTargets(targets);
    if (!expansion.error.empty()) {
        plan.error = expansion.error;
        return plan;
    }
    if (expansion.addresses.empty()) {
        plan.error = TEXT_FLEET_NO_ADDRESS;
        return plan;
    }
    plan.probed = std::move(expansion.addresses);
    plan.named = std::move(expansion.named);
    return plan;
}

FleetTargetPlan PlanDefaultTargets(const std::vector<Ipv4Address>& addresses) {
    FleetTargetPlan plan;
    plan.probed = addresses;
    return plan;
}

const char* ProbeMissReason(ProbeMiss why) {
    switch (why) {
        case ProbeMiss::Refused: return "refused";
        case ProbeMiss::NoAnswer: return "no answer";
        case ProbeMiss::Silent: return "silent";
    }
    return "no answer";
}

std::vector<FleetTarget> FleetTargetsFrom(const FleetTargetPlan& plan, const std::vector<FoundPeer>& found,
                                          const std::vector<MissedPeer>& missed, const std::string& firmwareModel) {
    std::map<Ipv4Address, const FoundPeer*> answers;
    for (const FoundPeer& peer : found) answers[peer.address] = &peer;
    std::map<Ipv4Address, ProbeMiss> misses;
    for (const MissedPeer& miss : missed) misses[miss.address] = miss.why;

    std::vector<FleetTarget> targets;
    std::set<Ipv4Address> seen;
    for (const Ipv4Address& address : plan.named) {
        if (!seen.insert(address).second) continue;
        const auto answer = answers.find(address);
        if (answer != answers.end() && answer->second->kind == PeerKind::ACCESS_POINT) {
            targets.push_back(FromPeer(*answer->second, firmwareModel));
            continue;
        }
        FleetTarget target;
        target.address = address;
        if (answer != answers.end()) {
            target.verdict = FleetResult::NOT_AN_ACCESS_POINT;
            target.reason = TEXT_SEARCH_NOT_ACCESS_POINT;
        } else {
            const auto miss = misses.find(address);
            target.verdict = FleetResult::NO_ANSWER;
            target.reason = ProbeMissReason(miss == misses.end() ? ProbeMiss::NoAnswer : miss->second);
        }
        targets.push_back(target);
    }
    std::vector<FoundPeer> peers = found;
    std::sort(peers.begin(), peers.end(), [](const FoundPeer& a, const FoundPeer& b) { return a.address < b.address; });
    for (const FoundPeer& peer : peers) {
        if (peer.kind != PeerKind::ACCESS_POINT || !seen.insert(peer.address).second) continue;
        targets.push_back(FromPeer(peer, firmwareModel));
    }
    return targets;
}

}  // namespace quorsel
