#include "engine/fleet/restart_watch.h"

#include <algorithm>
#include <map>

#include "engine/search/probe_network.h"

namespace quorsel {

namespace {

// What one probe round heard: the model each address answered with.
class RoundListener : public SearchListener {
public:
    void OnFound(const FoundPeer& peer) override {
        if (peer.kind == PeerKind::ACCESS_POINT) models[peer.address] = peer.modelCode;
    }
    void OnProgress(size_t, size_t) override {}
    std::map<Ipv4Address, std::string> models;
};

}  // namespace

void RestartWatchStop::Request() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
    }
    search_.Request();
    changed_.notify_all();
}

bool RestartWatchStop::Requested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

void RestartWatchStop::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

bool RestartWatchStop::Pause(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, pause, [this] { return requested_ || woken_; });
    woken_ = false;
    return !requested_;
}

RestartWatch::RestartWatch(ProbeNetwork& network, RestartWatchSettings settings, RestartWatchClock& clock,
                           RestartWatchListener& listener, RestartWatchStop& stop)
    : network_(network), settings_(std::move(settings)), clock_(clock), listener_(listener), stop_(stop) {}

void RestartWatch::Add(const Ipv4Address& address, const std::string& model) {
    RestartWatchEntry entry;
    entry.address = address;
    entry.model = model;
    entry.deadline = clock_.Now() + settings_.bound;
    bool idle = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        idle = std::none_of(entries_.begin(), entries_.end(),
                            [](const RestartWatchEntry& e) { return e.state == RestartState::AWAITED; });
        entries_.push_back(entry);
    }
    listener_.RestartChanged(entry);
    // A watch with nothing to ask sleeps until this; one that asks keeps its pace.
    if (idle) stop_.Wake();
}

void RestartWatch::Close() {
    bool idle = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        idle = std::none_of(entries_.begin(), entries_.end(),
                            [](const RestartWatchEntry& e) { return e.state == RestartState::AWAITED; });
    }
    if (idle) stop_.Wake();  // nothing left to ask: end now rather than after the pause
}

std::vector<RestartWatchEntry> RestartWatch::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

void RestartWatch::Change(const RestartWatchEntry& changed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (RestartWatchEntry& entry : entries_) {
            if (entry.address == changed.address && entry.state == RestartState::AWAITED) entry = changed;
        }
    }
    listener_.RestartChanged(changed);
}

void RestartWatch::Round(const std::vector<RestartWatchEntry>& awaited) {
    std::vector<Ipv4Address> addresses;
    for (const RestartWatchEntry& entry : awaited) addresses.push_back(entry.address);
    RoundListener heard;
    const SearchOutcome outcome = SearchAccessPoints(network_, addresses, settings_.search, heard, stop_.search());
    // A round that was stopped, or that the platform could not make, says nothing
    // about the access points.
    if (outcome.stopped || !outcome.error.empty()) return;
    for (RestartWatchEntry entry : awaited) {
        const auto answer = heard.models.find(entry.address);
        const bool itself = answer != heard.models.end() && answer->second == entry.model;
        if (!itself) {
            if (entry.wentQuiet) continue;
            entry.wentQuiet = true;
        } else if (entry.wentQuiet) {
            entry.state = RestartState::SEEN;
            entry.seenAt = clock_.WallNow();
        } else {
            continue;  // still up: the restart has not begun
        }
        Change(entry);
    }
}

void RestartWatch::Run() {
    for (;;) {
        const auto roundStart = clock_.Now();
        std::vector<RestartWatchEntry> awaited;
        std::vector<RestartWatchEntry> expired;
        bool closed = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed = closed_;
            for (const RestartWatchEntry& entry : entries_) {
                if (entry.state != RestartState::AWAITED) continue;
                (roundStart >= entry.deadline ? expired : awaited).push_back(entry);
            }
        }
        if (stop_.Requested()) break;
        for (RestartWatchEntry entry : expired) {
            entry.state = RestartState::NOT_SEEN;
            Change(entry);
        }
        if (awaited.empty() && closed) return;
        if (!awaited.empty()) Round(awaited);
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - roundStart);
        if (!clock_.Pause(std::max(settings_.interval - spent, std::chrono::milliseconds{0}), stop_)) break;
    }
    // Stopped: whatever is still awaited ends so.
    for (RestartWatchEntry entry : Snapshot()) {
        if (entry.state != RestartState::AWAITED) continue;
        entry.state = RestartState::STOPPED;
        Change(entry);
    }
}

}  // namespace quorsel
