// A fleet update: the same update run against many access points, at most a given
// number at once, each on its own thread with its own front-end services, and a
// stop (Ctrl-C) that never cuts off an access point that erases or writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/fleet/fleet_result.h"
#include "engine/fleet/restart_watch.h"
#include "engine/fleet/rollout.h"
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
// The reasons and diagnostics the fleet itself gives a row (English, like the run's diagnostics).
constexpr const char* FLEET_NO_PASSWORD_REASON = "no password given";
constexpr const char* FLEET_NO_THREAD_REASON = "its run could not start: no thread";
constexpr const char* FLEET_STOPPED_DIAGNOSTIC = "stopped by the fleet's stop request";

// One access point to update.
struct FleetTarget {
    Ipv4Address address{};
    std::string modelCode;     // from the search or the run's inquiry; empty while unknown
    char generationDigit = 0;  // byte 6 of the inquiry reply; 0 while unknown
    bool skip = false;         // the search found another model: listed, not updated
    // Set when the probe already decided this row (another model, no answer, not an
    // access point): listed, never run. NONE: run it (or, with skip, another model).
    FleetResult verdict = FleetResult::NONE;
    std::string reason;        // the verdict's one line
    std::string firmwarePath;  // the file for its model; empty: the fleet's programPath
};

enum class FleetState {
    WAITING,      // not started yet
    RUNNING,
    FINISHED,     // its run has ended; outcome says how
    SKIPPED,      // decided by the probe (result says how): never started
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
    std::string reason;                 // set by the fleet when no status text says why (else empty)
    bool flashTouched = false;          // a range header was accepted: its flash may be (partly) written
    bool stopped = false;               // its run was ended by a stop request
    uint64_t bytesWritten = 0;          // bytes the access point acknowledged
    std::chrono::steady_clock::time_point started{};
    std::chrono::steady_clock::time_point ended{};
    std::chrono::system_clock::time_point startedUtc{};  // for the report
    std::chrono::system_clock::time_point endedUtc{};
    std::string diagnostic;             // a failure's line: the step and what was awaited
    // With --await-restart, once it was updated: whether it was seen restarting.
    bool restartWatched = false;
    RestartState restart = RestartState::AWAITED;
    std::chrono::system_clock::time_point restartSeenAt{};

    bool Completed() const { return state == FleetState::FINISHED && outcome == STATUS_COMPLETE; }
    // Running time so far (WAITING, SKIPPED, NOT_STARTED: zero).
    std::chrono::milliseconds Elapsed(std::chrono::steady_clock::time_point now) const;
};

// Told about every change; called from the fleet's threads, never with its lock held.
class FleetObserver {
public:
    virtual ~FleetObserver() = default;
    virtual void EntryChanged(size_t index, const FleetEntry& entry) = 0;
    // A run has ended (after the EntryChanged that says so): the moment to save a report.
    virtual void RunEnded(size_t /*index*/, const FleetEntry& /*entry*/) {}
};

// Starts one run's thread; the platform's std::thread unless a test hands another.
// False when no thread could be started (the run is then that access point's failure).
using FleetThreadStarter = std::function<bool(std::thread& thread, std::function<void()> body)>;

struct FleetSettings {
    RunSettings run;                      // programPath, optionFlags, peer port, timeouts
    size_t jobs = FLEET_DEFAULT_JOBS;
    std::optional<std::string> password;  // code page 932; none: a new-generation run fails ("no password given")
    FleetThreadStarter startThread;       // empty: std::thread
    std::optional<Rollout> rollout;       // batches and a failure bound; none: every run as jobs allow
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

    // From any thread: what the restart watch found for the access point at address.
    void NoteRestart(const RestartWatchEntry& watched);

    std::vector<FleetEntry> Snapshot() const;
    size_t size() const { return slots_.size(); }

private:
    struct Slot;
    class RunFrontend;
    void StartRun(size_t index);
    void RunOne(size_t index);
    template <typename Change>
    void Update(size_t index, Change&& change);
    void JoinEnded();

    FleetSettings settings_;
    Network& network_;
    FleetObserver& observer_;
    std::vector<std::unique_ptr<Slot>> slots_;
    mutable std::mutex mutex_;
    std::condition_variable runEnded_;
    size_t running_ = 0;
    bool stopRequested_ = false;
    std::vector<size_t> ended_;  // runs whose thread has returned and is still to be joined
    // For the rollout: runs started, ended and failed so far, and whether its bound stopped it.
    size_t startedRuns_ = 0;
    size_t endedRuns_ = 0;
    size_t failedRuns_ = 0;
    bool rolloutStopped_ = false;
};

// The exit statuses of quorsel-fleet that the rows decide.
constexpr int FLEET_EXIT_UPDATED = 0;
constexpr int FLEET_EXIT_FAILED = 1;
constexpr int FLEET_EXIT_NOTHING_TO_UPDATE = 4;

// 0 when every access point that was to be updated was updated (at least one); 1 when
// any failed, was stopped or never started, or a named target gave no answer or was
// no access point; 4 when nothing was to be updated and nothing failed. A dry run's
// planned rows count as updated.
int FleetExitStatus(const std::vector<FleetEntry>& entries);

}  // namespace quorsel
