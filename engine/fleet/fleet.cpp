#include "engine/fleet/fleet.h"

#include <exception>
#include <utility>

#include "engine/power_on_wait.h"
#include "engine/serial_line.h"

namespace quorsel {

std::chrono::milliseconds FleetEntry::Elapsed(std::chrono::steady_clock::time_point now) const {
    if (state == FleetState::RUNNING) return std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
    if (state == FleetState::FINISHED) return std::chrono::duration_cast<std::chrono::milliseconds>(ended - started);
    return std::chrono::milliseconds{0};
}

namespace {

// What a stopped run's diagnostic says: that it was stopped, and at which step.
std::string StoppedDiagnostic(const std::string& failure) {
    const std::string step = failure.substr(0, failure.find(':'));
    return step.empty() ? std::string(FLEET_STOPPED_DIAGNOSTIC)
                        : std::string(FLEET_STOPPED_DIAGNOSTIC) + " while " + step;
}

bool StartStdThread(std::thread& thread, std::function<void()> body) {
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::exception&) {  // no thread: task limit, memory
        return false;
    }
}

}  // namespace

struct Fleet::Slot {
    FleetEntry entry;
    RunStopSwitch stop;
    InquiryTap tap;
    std::thread thread;
    uint64_t rangeBase = 0;        // bytes of the ranges before the current one
    bool passwordMissing = false;  // its access point asked for a password and none was given
};

// The front-end services of one run: its own sink, password and (never used on the
// LAN) power-on prompt and serial ports. Everything it learns goes into its slot.
class Fleet::RunFrontend : public StatusSink, public PasswordPrompt, public PowerOnPrompt, public SerialPorts {
public:
    RunFrontend(Fleet& fleet, size_t index) : fleet_(fleet), index_(index), slot_(*fleet.slots_[index]) {}

    void Notify(StatusCode code, const TransferCounters& counters) override { Handle(code, counters); }
    void Post(StatusCode code, const TransferCounters& counters) override { Handle(code, counters); }
    void Diagnose(const std::string& line) override {
        fleet_.Update(index_, [&](FleetEntry& entry) { entry.diagnostic = line; });
    }
    std::optional<std::string> AskPassword() override {
        if (!fleet_.settings_.password) slot_.passwordMissing = true;  // the run's own thread
        return fleet_.settings_.password;
    }
    bool Show(PowerOnWait&) override { return false; }
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t, uint32_t) override {
        return quorsel::Fail(SerialOpenError::OpenFailed);
    }

private:
    void Handle(StatusCode code, const TransferCounters& counters) {
        fleet_.Update(index_, [&](FleetEntry& entry) {
            if (entry.target.modelCode.empty() && slot_.tap.Complete()) {
                const std::string line = slot_.tap.Line();
                entry.target.modelCode = line.substr(0, MODEL_CODE_LENGTH);
                entry.target.generationDigit = line.size() > MODEL_CODE_LENGTH ? line[MODEL_CODE_LENGTH] : 0;
            }
            if (code == STATUS_PROGRESS || code == STATUS_SERIAL_PROGRESS) {
                if (counters.done < entry.counters.done || counters.total != entry.counters.total) {
                    // A new range: the one before it is over, and with it its flash work.
                    slot_.rangeBase += entry.counters.done;
                    if (entry.busy && counters.done == 0) {
                        entry.busy = false;
                        entry.awaited = false;
                        slot_.stop.SetBusy(false);
                    }
                }
                entry.counters = counters;
                entry.bytesWritten = slot_.rangeBase + counters.done;
                return;
            }
            if (code == STATUS_WRITING || code == STATUS_ERASING || code == STATUS_FLASH_WRITING) {
                entry.flashTouched = true;  // its range header was accepted
                entry.busy = true;
                slot_.stop.SetBusy(true);
                if (slot_.stop.StopRequested()) entry.awaited = true;
            }
            if (IsFinalStatus(code)) {
                // A failure that a stop caused (the access point was not busy) is the stop's.
                if (code != STATUS_COMPLETE && slot_.stop.StopNow()) {
                    code = STATUS_ABORTED;
                    entry.stopped = true;
                    entry.diagnostic = StoppedDiagnostic(entry.diagnostic);
                }
                entry.counters = counters;
                entry.busy = false;
                entry.awaited = false;
                slot_.stop.SetBusy(false);
            }
            entry.lastCode = code;
        });
    }

    Fleet& fleet_;
    size_t index_;
    Slot& slot_;
};

Fleet::Fleet(FleetSettings settings, std::vector<FleetTarget> targets, Network& network, FleetObserver& observer)
    : settings_(std::move(settings)), network_(network), observer_(observer) {
    for (FleetTarget& target : targets) {
        auto slot = std::make_unique<Slot>();
        slot->entry.target = std::move(target);
        FleetTarget& given = slot->entry.target;
        if (given.skip && given.verdict == FleetResult::NONE) given.verdict = FleetResult::SKIPPED_OTHER_MODEL;
        if (given.verdict != FleetResult::NONE) {
            given.skip = true;
            slot->entry.state = FleetState::SKIPPED;
            slot->entry.result = given.verdict;
            slot->entry.reason = given.reason;
            if (given.verdict == FleetResult::NO_ANSWER || given.verdict == FleetResult::NOT_AN_ACCESS_POINT) {
                slot->entry.diagnostic = "probing the address: " + given.reason;
            }
        }
        slots_.push_back(std::move(slot));
    }
}

Fleet::~Fleet() {
    RequestStop();
    for (auto& slot : slots_) {
        if (slot->thread.joinable()) slot->thread.join();
    }
}

template <typename Change>
void Fleet::Update(size_t index, Change&& change) {
    FleetEntry copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(slots_[index]->entry);
        copy = slots_[index]->entry;
    }
    observer_.EntryChanged(index, copy);
}

void Fleet::Run() {
    const size_t jobs = settings_.jobs == 0 ? 1 : settings_.jobs;
    size_t next = 0;
    for (;;) {
        std::vector<size_t> starting;
        bool over = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // The rollout lets the next run start, keeps it for the batch before to end, or stops.
            const auto gateOpen = [&] {
                if (!settings_.rollout || slots_[next]->entry.state != FleetState::WAITING) return true;
                const RolloutGate gate = settings_.rollout->Gate(startedRuns_, endedRuns_, failedRuns_);
                if (gate == RolloutGate::STOP) rolloutStopped_ = true;
                return gate == RolloutGate::START;
            };
            const auto canStart = [&] {
                return !stopRequested_ && !rolloutStopped_ && running_ < jobs && next < slots_.size() && gateOpen();
            };
            runEnded_.wait(lock, [&] { return !ended_.empty() || canStart() || running_ == 0; });
            while (canStart()) {
                FleetEntry& entry = slots_[next]->entry;
                if (entry.state == FleetState::WAITING) {
                    ++running_;
                    ++startedRuns_;
                    entry.state = FleetState::RUNNING;
                    entry.started = std::chrono::steady_clock::now();
                    entry.startedUtc = std::chrono::system_clock::now();
                    starting.push_back(next);
                }
                ++next;
            }
            over = ended_.empty() && starting.empty() && running_ == 0;
        }
        JoinEnded();
        if (over) break;  // stopped, or every target has had its turn and its run has ended
        for (size_t index : starting) StartRun(index);
    }
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rolloutStopped_ && !stopRequested_) reason = settings_.rollout->StopReason(failedRuns_);
    }
    for (size_t index = 0; index < slots_.size(); ++index) {
        if (slots_[index]->entry.state != FleetState::WAITING) continue;  // no run is left to change it
        Update(index, [&reason](FleetEntry& entry) {
            entry.state = FleetState::NOT_STARTED;
            entry.result = FleetResult::STOPPED_BEFORE_START;
            entry.reason = reason;
        });
    }
}

void Fleet::JoinEnded() {
    std::vector<size_t> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended.swap(ended_);
    }
    for (size_t index : ended) {
        if (slots_[index]->thread.joinable()) slots_[index]->thread.join();
    }
}

void Fleet::StartRun(size_t index) {
    Update(index, [](FleetEntry&) {});
    const FleetThreadStarter& start = settings_.startThread ? settings_.startThread : FleetThreadStarter(StartStdThread);
    if (start(slots_[index]->thread, [this, index] { RunOne(index); })) return;
    // No thread: this access point's failure; the others go on.
    Update(index, [](FleetEntry& entry) {
        entry.state = FleetState::FINISHED;
        entry.outcome = STATUS_CONNECT_FAILED;
        entry.result = FleetResult::FAILED_BEFORE_WRITING;
        entry.reason = FLEET_NO_THREAD_REASON;
        entry.diagnostic = FLEET_NO_THREAD_REASON;
        entry.ended = std::chrono::steady_clock::now();
        entry.endedUtc = std::chrono::system_clock::now();
    });
    observer_.RunEnded(index, slots_[index]->entry);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        ++endedRuns_;
        ++failedRuns_;
    }
}

void Fleet::RunOne(size_t index) {
    Slot& slot = *slots_[index];
    RunSettings settings = settings_.run;
    settings.peer.address = slot.entry.target.address;  // written before the thread started
    if (!slot.entry.target.firmwarePath.empty()) settings.programPath = slot.entry.target.firmwarePath;
    RunFrontend frontend(*this, index);
    StoppableNetwork network(network_, slot.stop, &slot.tap);
    RunServices services{frontend,
                         frontend,
                         frontend,
                         network,
                         frontend,
                         [&slot](std::chrono::milliseconds pause) { slot.stop.Sleep(pause); },
                         [](const char*) {}};
    const StatusCode result = RunUpdate(settings, services);
    FleetEntry ended;
    Update(index, [&](FleetEntry& entry) {
        entry.state = FleetState::FINISHED;
        entry.outcome = entry.lastCode == STATUS_ABORTED ? STATUS_ABORTED : result;
        entry.ended = std::chrono::steady_clock::now();
        entry.endedUtc = std::chrono::system_clock::now();
        if (entry.outcome == STATUS_COMPLETE) {
            entry.result = FleetResult::UPDATED;
        } else if (entry.flashTouched) {
            entry.result = FleetResult::FAILED_WHILE_WRITING;
        } else if (entry.stopped) {
            entry.result = FleetResult::STOPPED;
        } else {
            entry.result = FleetResult::FAILED_BEFORE_WRITING;
            if (slot.passwordMissing) entry.reason = FLEET_NO_PASSWORD_REASON;
        }
        ended = entry;
    });
    observer_.RunEnded(index, ended);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        ++endedRuns_;
        if (ended.result == FleetResult::FAILED_BEFORE_WRITING || ended.result == FleetResult::FAILED_WHILE_WRITING) {
            ++failedRuns_;
        }
        ended_.push_back(index);
    }
    runEnded_.notify_all();
}

StopAnswer Fleet::RequestStop() {
    StopAnswer answer;
    std::vector<size_t> awaited;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answer.repeated = stopRequested_;
        stopRequested_ = true;
        for (size_t index = 0; index < slots_.size(); ++index) {
            Slot& slot = *slots_[index];
            if (slot.entry.state != FleetState::RUNNING) continue;
            slot.stop.RequestStop();
            if (slot.entry.busy) {
                ++answer.busy;
                if (!slot.entry.awaited) {
                    slot.entry.awaited = true;
                    awaited.push_back(index);
                }
            } else {
                ++answer.stopped;
            }
        }
    }
    runEnded_.notify_all();
    for (size_t index : awaited) Update(index, [](FleetEntry&) {});
    return answer;
}

void Fleet::NoteRestart(const RestartWatchEntry& watched) {
    for (size_t index = 0; index < slots_.size(); ++index) {
        if (slots_[index]->entry.target.address != watched.address) continue;
        Update(index, [&watched](FleetEntry& entry) {
            entry.restartWatched = true;
            entry.restart = watched.state;
            entry.restartSeenAt = watched.seenAt;
        });
    }
}

std::vector<FleetEntry> Fleet::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FleetEntry> entries;
    entries.reserve(slots_.size());
    for (const auto& slot : slots_) entries.push_back(slot->entry);
    return entries;
}

int FleetExitStatus(const std::vector<FleetEntry>& entries) {
    bool updated = false;
    for (const FleetEntry& entry : entries) {
        if (entry.result == FleetResult::UPDATED || entry.result == FleetResult::PLANNED) {
            updated = true;
        } else if (entry.result != FleetResult::SKIPPED_OTHER_MODEL) {
            return FLEET_EXIT_FAILED;  // failed, stopped, never started, or a named target that is no access point here
        }
    }
    return updated ? FLEET_EXIT_UPDATED : FLEET_EXIT_NOTHING_TO_UPDATE;
}

}  // namespace quorsel
