#include "engine/background_search.h"

namespace quorsel {

BackgroundSearch::~BackgroundSearch() { Stop(); }

void BackgroundSearch::Start(ProbeNetwork& network, std::vector<Ipv4Address> addresses, const SearchSettings& settings,
                             SearchListener& listener, FinishedCallback finished) {
    Stop();
    stop_ = std::make_unique<SearchStop>();
    addresses_ = std::move(addresses);
    outcome_ = {};
    thread_ = std::thread([this, &network, settings, &listener, finished = std::move(finished)] {
        outcome_ = SearchAccessPoints(network, addresses_, settings, listener, *stop_);
        if (finished) finished(outcome_);
    });
}

void BackgroundSearch::Stop() {
    if (stop_) stop_->Request();
    Wait();
}

void BackgroundSearch::Wait() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace quorsel
