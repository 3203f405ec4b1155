#include "ui/default_search.h"

#include <utility>

namespace quorsel {

SearchRunner::Search DefaultSearch(ProbeNetwork& network, std::string firmwareModel) {
    return [&network, model = std::move(firmwareModel)](SearchListener& listener, const SearchStop& stop) {
        TargetExpansion targets = DefaultTargets(network.LocalSubnets());
        if (!targets.error.empty()) {
            SearchOutcome outcome;
            outcome.error = targets.error;
            return outcome;
        }
        SearchSettings settings;
        settings.firmwareModel = model;
        SearchOutcome outcome = SearchAccessPoints(network, targets.addresses, settings, listener, stop);
        outcome.subnets = std::move(targets.subnets);
        outcome.leftOut = std::move(targets.leftOut);
        return outcome;
    };
}

}  // namespace quorsel
