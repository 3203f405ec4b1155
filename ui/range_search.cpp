#include "ui/range_search.h"

#include <utility>

#include "engine/search/search_targets.h"

namespace quorsel {

TargetSearch SearchOfTargets(ProbeNetwork& network, std::string firmwareModel) {
    return [&network, model = std::move(firmwareModel)](const std::vector<std::string>& targets) {
        return SearchRunner::Search([&network, model, targets](SearchListener& listener, const SearchStop& stop) {
            TargetExpansion expansion = ExpandTargets(targets);
            if (!expansion.error.empty()) {
                SearchOutcome outcome;
                outcome.error = expansion.error;
                return outcome;
            }
            SearchSettings settings;
            settings.firmwareModel = model;
            return SearchAccessPoints(network, expansion.addresses, settings, listener, stop);
        });
    };
}

}  // namespace quorsel
