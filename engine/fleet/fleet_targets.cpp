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
    plan.search = true;
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

    const std::set<Ipv4Address> named(plan.named.begin(), plan.named.end());
    std::vector<Ipv4Address> order = plan.probed;
    if (plan.search) std::sort(order.begin(), order.end());
    std::vector<FleetTarget> targets;
    std::set<Ipv4Address> seen;
    for (const Ipv4Address& address : order) {
        if (!seen.insert(address).second) continue;
        const auto answer = answers.find(address);
        const bool accessPoint = answer != answers.end() && answer->second->kind == PeerKind::ACCESS_POINT;
        if (named.count(address) == 0) {
            // Found in a range or a search: listed only when an access point answered.
            if (accessPoint) targets.push_back(FromPeer(*answer->second, firmwareModel));
            continue;
        }
        if (accessPoint) {
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
    return targets;
}

void AssignFirmware(std::vector<FleetTarget>& targets, const FirmwareSet& firmware) {
    for (FleetTarget& target : targets) {
        if (target.modelCode.empty()) continue;
        if (target.verdict != FleetResult::NONE && target.verdict != FleetResult::SKIPPED_OTHER_MODEL) continue;
        if (const FirmwareFile* file = firmware.ForModel(target.modelCode)) {
            target.verdict = FleetResult::NONE;
            target.skip = false;
            target.reason.clear();
            target.firmwarePath = file->path;
        } else {
            target.verdict = FleetResult::SKIPPED_OTHER_MODEL;
            target.reason = "model " + target.modelCode + ", the firmware files are for " + firmware.ModelsText();
        }
    }
}

void LeaveOut(FleetTargetPlan& plan, const std::vector<Ipv4Address>& addresses) {
    const std::set<Ipv4Address> left(addresses.begin(), addresses.end());
    const auto isLeft = [&left](const Ipv4Address& address) { return left.count(address) > 0; };
    plan.probed.erase(std::remove_if(plan.probed.begin(), plan.probed.end(), isLeft), plan.probed.end());
    plan.named.erase(std::remove_if(plan.named.begin(), plan.named.end(), isLeft), plan.named.end());
}

}  // namespace quorsel
