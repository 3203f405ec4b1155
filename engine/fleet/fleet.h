// A fleet update: the same update run against many access points, at most a given
// number at once, each on its own thread with its own front-end services, and a
// stop (Ctrl-C) that never cuts off an access point that erases or writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/fleet/fleet_result.h"
#include "engine/lan_protocol.h"
#include "engine/run_stop.h"
#include "engine/search/search_targets.h"
#include "engine/status_code.h"
#include "engine/transfer.h"
#include "engine/update_run.h"

namespace quorsel {

constexpr size_t FLEET_DEFAULT_JOBS = 8;
// More runs at once than this is refused (each is a thread and a socket).
constexpr size_t FLEET_MAX_JOBS = 256;

// One access point to update.
struct FleetTarget {
    Ipv4Address address{};
    std::string modelCode;     // from the search or the run's inquiry; empty while unknown
    char generationDigit = 0;  // byte 6 of the inquiry reply; 0 while unknown
    bool skip = false;         // the search found another model: listed, not updated
};

enum class FleetState {
    WAITING,      // not started yet
    RUNNING,
    FINISHED,     // its run has ended; outcome says how
    SKIPPED,      // another model: never started
    NOT_STARTED,  // the fleet was stopped before its turn
};

// One row of the fleet, as the front-end and the report see it.
struct FleetEntry {
    FleetTarget target;
    FleetState state = FleetState::WAITING;
    StatusCode lastCode = STATUS_NONE;  // the last code that sets a status text
    TransferCounters counters;          // of the current range
    bool busy = false;                  // the access point erases or writes
    bool awaited = false;               // a stop was asked for while it was busy
    StatusCode outcome = STATUS_NONE;   // FINISHED: the code that ended the run
    FleetResult result = FleetResult::NONE;  // once it has ended: how
    uint64_t bytesWritten = 0;          // bytes the access point acknowledged
    std::chrono::steady_clock::time_point started{};
    std::chrono::steady_clock::time_point ended{};
    std::string diagnostic;             // a failure's line: the step and what was awaited

    bool Completed() const { return state == FleetState::FINISHED && outcome == STATUS_COMPLETE; }
    // Running time so far (WAITING, SKIPPED, NOT_STARTED: zero).
    std::chrono::milliseconds Elapsed(std::chrono::steady_clock::time_point now) const;
};

// Told about every change; called from the fleet's threads, never with its lock held.
class FleetObserver {
public:
    virtual ~FleetObserver() = default;
    virtual void EntryChanged(size_t index, const FleetEntry& entry) = 0;
};

struct FleetSettings {
    RunSettings run;                      // programPath, optionFlags, peer port, timeouts
    size_t jobs = FLEET_DEFAULT_JOBS;
    std::optional<std::string> password;  // code page 932; none: a new-generation run ends aborted
};

// What a stop request found.
struct StopAnswer {
    size_t busy = 0;     // runs that go on because their access point erases or writes
    size_t stopped = 0;  // runs told to end now
    bool repeated = false;
};

class Fleet {
public:
    // network is the platform's; each run reaches it through a stoppable network of its own.
    Fleet(FleetSettings settings, std::vector<FleetTarget> targets, Network& network, FleetObserver& observer);
    ~Fleet();
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // Runs the fleet to its end on the calling thread.
    void Run();
    // From any thread: no new run starts, runs whose access point is not busy end at
    // once, busy ones finish (and the ranges after theirs are not written).
    StopAnswer RequestStop();

    std::vector<FleetEntry> Snapshot() const;
    size_t size() const { return slots_.size(); }

private:
    struct Slot;
    class RunFrontend;
    void StartRun(size_t index);
    void RunOne(size_t index);
    template <typename Change>
    void Update(size_t index, Change&& change);

    FleetSettings settings_;
    Network& network_;
    FleetObserver& observer_;
    std::vector<std::unique_ptr<Slot>> slots_;
    mutable std::mutex mutex_;
    std::condition_variable runEnded_;
    size_t running_ = 0;
    bool stopRequested_ = false;
};

// 0 when every access point that fits was updated, 1 when any failed, was stopped or
// never started, or when there was none to update.
int FleetExitStatus(const std::vector<FleetEntry>& entries);

}  // namespace quorsel
