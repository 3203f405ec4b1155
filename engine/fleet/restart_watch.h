// After an update the access point has to be power-cycled by hand, and the protocol
// reads no version: the one sign that it restarted is that it stopped answering the
// inquiry and then answered again with the same model. The watch asks every access
// point handed to it (the search's probe, "INQR" and nothing else) every
// RESTART_WATCH_INTERVAL until it has seen that or its bound has passed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/search/access_point_search.h"
#include "engine/search/search_targets.h"

namespace quorsel {

class ProbeNetwork;

constexpr std::chrono::milliseconds RESTART_WATCH_INTERVAL{2000};
// --await-restart without minutes; more than RESTART_WATCH_MAX_MINUTES is refused.
constexpr std::chrono::minutes RESTART_WATCH_DEFAULT_BOUND{30};
constexpr unsigned RESTART_WATCH_MAX_MINUTES = 24 * 60;

enum class RestartState {
    AWAITED,   // still answering as before, or not answering yet again
    SEEN,      // stopped answering, then answered again with the same model
    NOT_SEEN,  // the bound passed first
    STOPPED,   // the watch was stopped first
};

struct RestartWatchEntry {
    Ipv4Address address{};
    std::string model;
    RestartState state = RestartState::AWAITED;
    bool wentQuiet = false;  // it has stopped answering at least once
    std::chrono::steady_clock::time_point deadline{};
    std::chrono::system_clock::time_point seenAt{};  // SEEN: when it answered again
};

// Ends a watch's pause at once: a stop (Ctrl-C), or a wake-up when something was
// added or no more will come.
class RestartWatchStop {
public:
    void Request();
    bool Requested() const;
    // Waits up to pause; returns early on a stop or a wake-up. False when stopped.
    bool Pause(std::chrono::milliseconds pause);
    void Wake();
    // For the probe rounds: requested together with the watch.
    const SearchStop& search() const { return search_; }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool woken_ = false;
    SearchStop search_;
};

// The watch's time, so that tests take no real minutes.
class RestartWatchClock {
public:
    virtual ~RestartWatchClock() = default;
    virtual std::chrono::steady_clock::time_point Now() = 0;
    virtual std::chrono::system_clock::time_point WallNow() = 0;
    // Waits pause or less (see RestartWatchStop::Pause); false when stopped.
    virtual bool Pause(std::chrono::milliseconds pause, RestartWatchStop& stop) = 0;
};

class SystemRestartWatchClock : public RestartWatchClock {
public:
    std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point WallNow() override { return std::chrono::system_clock::now(); }
    bool Pause(std::chrono::milliseconds pause, RestartWatchStop& stop) override { return stop.Pause(pause); }
};

// Told about each entry's change of state, on the thread that runs the watch.
class RestartWatchListener {
public:
    virtual ~RestartWatchListener() = default;
    virtual void RestartChanged(const RestartWatchEntry& entry) = 0;
};

struct RestartWatchSettings {
    std::chrono::milliseconds interval = RESTART_WATCH_INTERVAL;
    std::chrono::milliseconds bound = RESTART_WATCH_DEFAULT_BOUND;  // per access point, from its Add
    SearchSettings search;  // the probe's port and bounds (firmwareModel is not used)
};

class RestartWatch {
public:
    RestartWatch(ProbeNetwork& network, RestartWatchSettings settings, RestartWatchClock& clock,
                 RestartWatchListener& listener, RestartWatchStop& stop);

    // From any thread: watch an access point that was just updated.
    void Add(const Ipv4Address& address, const std::string& model);
    // From any thread: nothing more will be added; Run returns once every entry is decided.
    void Close();

    // Asks, pauses and asks again until every entry is decided and Close was called,
    // or until the stop; entries still awaited then end STOPPED.
    void Run();

    std::vector<RestartWatchEntry> Snapshot() const;

private:
    // One probe of every awaited address; the entries that changed.
    void Round(const std::vector<RestartWatchEntry>& awaited);
    void Change(const RestartWatchEntry& entry);

    ProbeNetwork& network_;
    const RestartWatchSettings settings_;
    RestartWatchClock& clock_;
    RestartWatchListener& listener_;
    RestartWatchStop& stop_;
    mutable std::mutex mutex_;
    std::vector<RestartWatchEntry> entries_;
    bool closed_ = false;
};

}  // namespace quorsel
