#include "engine/fleet/fleet_targets.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace quorsel {
namespace {

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Adds one address or range to the plan; false with the plan's error set when invalid.
bool AddTarget(const std::string& target, FleetTargetPlan& plan) {
    const TargetExpansion expansion = ExpandTargets({target});
    if (!expansion.error.empty()) {
        plan.error = expansion.error;
        return false;
    }
    auto& into = target.find('/') == std::string::npos ? plan.direct : plan.searched;
    into.insert(into.end(), expansion.addresses.begin(), expansion.addresses.end());
    if (plan.direct.size() + plan.searched.size() > SEARCH_MAX_ADDRESSES) {
        plan.error = "more than " + std::to_string(SEARCH_MAX_ADDRESSES) + " addresses";
        return false;
    }
    return true;
}

}  // namespace

FleetTargetPlan PlanFleetTargets(const std::vector<std::string>& arguments, const FleetTargetFileReader& readFile) {
    FleetTargetPlan plan;
    bool any = false;
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument[0] != '@') {
            any = true;
            if (!AddTarget(argument, plan)) return plan;
            continue;
        }
        const std::string path = argument.substr(1);
        const std::optional<std::string> contents = readFile(path);
        if (!contents) {
            plan.error = "cannot read the target file " + path;
            return plan;
        }
        std::istringstream lines(*contents);
        std::string line;
        unsigned number = 0;
        while (std::getline(lines, line)) {
            ++number;
            const std::string target = Trimmed(line.substr(0, line.find('#')));
            if (target.empty()) continue;
            any = true;
            if (!AddTarget(target, plan)) {
                plan.error = path + " line " + std::to_string(number) + ": " + plan.error;
                return plan;
            }
        }
    }
    plan.defaults = !any;
    return plan;
}

std::vector<FleetTarget> FleetTargetsFrom(const FleetTargetPlan& plan, const std::vector<FoundPeer>& found) {
    std::vector<FleetTarget> targets;
    std::set<Ipv4Address> seen;
    for (const Ipv4Address& address : plan.direct) {
        if (!seen.insert(address).second) continue;
        FleetTarget target;
        target.address = address;
        targets.push_back(target);
    }
    std::vector<FoundPeer> peers = found;
    std::sort(peers.begin(), peers.end(), [](const FoundPeer& a, const FoundPeer& b) { return a.address < b.address; });
    for (const FoundPeer& peer : peers) {
        if (peer.kind != PeerKind::ACCESS_POINT || !seen.insert(peer.address).second) continue;
        FleetTarget target;
        target.address = peer.address;
        target.modelCode = peer.modelCode;
        target.generationDigit = peer.generationDigit;
        target.skip = !peer.fitsFirmware;
        targets.push_back(target);
    }
    return targets;
}

}  // namespace quorsel
