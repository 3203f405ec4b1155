// One search on a thread of its own, for front-ends whose user-interface thread
// must never wait for the network: start it, get the listener's calls on the
// search's thread, stop it at any moment.
#pragma once

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/access_point_search.h"

namespace quorsel {

class BackgroundSearch {
public:
    // Called on the search's thread once the search has returned, after its last
    // listener call (a stopped search calls it too).
    using FinishedCallback = std::function<void(const SearchOutcome&)>;

    BackgroundSearch() = default;
    // Stops a search that is still running and waits for its thread.
    ~BackgroundSearch();
    BackgroundSearch(const BackgroundSearch&) = delete;
    BackgroundSearch& operator=(const BackgroundSearch&) = delete;

    // Starts a search of addresses; network and listener must stay until Stop() or
    // Wait() has returned. A search started before is stopped first.
    void Start(ProbeNetwork& network, std::vector<Ipv4Address> addresses, const SearchSettings& settings,
               SearchListener& listener, FinishedCallback finished = {});
    // Asks the search to stop and waits for its thread (at most about one stop poll
    // interval). After it returns no listener or finished call comes. Does nothing
    // when no search was started.
    void Stop();
    // Waits for the search to end by itself.
    void Wait();
    // The outcome of the last search, once Stop() or Wait() has returned.
    const SearchOutcome& outcome() const { return outcome_; }

private:
    std::unique_ptr<SearchStop> stop_;
    std::vector<Ipv4Address> addresses_;
    SearchOutcome outcome_;
    std::thread thread_;
};

}  // namespace quorsel
