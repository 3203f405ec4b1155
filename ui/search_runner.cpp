#include "ui/search_runner.h"

#include <utility>

namespace quorsel {

// The events of the searches, handed from the search's thread to the owner's.
class SearchRunner::Queue : public SearchListener {
public:
    explicit Queue(Wake wake) : wake_(std::move(wake)) {}

    void OnFound(const FoundPeer& peer) override {
        SearchEvent event;
        event.kind = SearchEvent::Kind::Found;
        event.peer = peer;
        Push(std::move(event));
    }
    void OnProgress(size_t probed, size_t total) override {
        SearchEvent event;
        event.kind = SearchEvent::Kind::Progress;
        event.probed = probed;
        event.total = total;
        Push(std::move(event));
    }
    void Finish(SearchOutcome outcome) {
        SearchEvent event;
        event.kind = SearchEvent::Kind::Finished;
        event.outcome = std::move(outcome);
        Push(std::move(event));
    }
    std::vector<SearchEvent> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    void Push(SearchEvent event) {
        bool wasEmpty = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wasEmpty = events_.empty();
            events_.push_back(std::move(event));
        }
        // One wake per batch: the owner takes everything that is queued by then.
        if (wasEmpty && wake_) wake_();
    }

    Wake wake_;
    std::mutex mutex_;
    std::vector<SearchEvent> events_;
};

SearchRunner::SearchRunner(Search search, Wake wake)
    : search_(std::move(search)), wake_(std::move(wake)), queue_(std::make_shared<Queue>(wake_)) {}

SearchRunner::~SearchRunner() { Stop(); }

void SearchRunner::Start() {
    Stop();
    queue_->Take();  // what an earlier search left belongs to it
    stop_ = std::make_unique<SearchStop>();
    if (!search_) {
        SearchOutcome outcome;
        outcome.error = "no search was set up";
        queue_->Finish(std::move(outcome));
        return;
    }
    thread_ = std::thread([search = search_, queue = queue_, stop = stop_.get()] {
        queue->Finish(search(*queue, *stop));
    });
}

void SearchRunner::Stop() {
    if (stop_) stop_->Request();
    if (thread_.joinable()) thread_.join();
}

std::vector<SearchEvent> SearchRunner::TakeEvents() { return queue_->Take(); }

}  // namespace quorsel
