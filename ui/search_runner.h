// One search for access points on a thread of its own, so that the thread of a
// dialog or prompt never waits for the network. The search's events are queued;
// the owner is woken to take them on its own thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/search/access_point_search.h"
#include "ui/search_model.h"

namespace quorsel {

class SearchRunner {
public:
    // Runs one whole search with the given listener and stop request (the targets,
    // the platform's sockets and the settings are bound in by the composition root).
    using Search = std::function<SearchOutcome(SearchListener& listener, const SearchStop& stop)>;
    // Called on the search's thread when events wait in a queue that was empty: the
    // owner then calls TakeEvents on its own thread (a posted message, a queued call,
    // a pipe). Never called once Stop has returned.
    using Wake = std::function<void()>;

    SearchRunner(Search search, Wake wake);
    ~SearchRunner();  // stops a search that still runs
    SearchRunner(const SearchRunner&) = delete;
    SearchRunner& operator=(const SearchRunner&) = delete;

    // Starts a new search; one that still runs is stopped first.
    void Start();
    // Asks the search to stop and returns once its thread has ended. Events it
    // queued before it ended stay to be taken.
    void Stop();
    // The events queued since the last call, oldest first. The last event of every
    // search is its Finished event.
    std::vector<SearchEvent> TakeEvents();

private:
    class Queue;

    Search search_;
    Wake wake_;
    std::shared_ptr<Queue> queue_;
    std::unique_ptr<SearchStop> stop_;
    std::thread thread_;
};

}  // namespace quorsel
