#include "engine/fleet/fleet.h"

#include <utility>

#include "engine/power_on_wait.h"
#include "engine/serial_line.h"

namespace quorsel {

std::chrono::milliseconds FleetEntry::Elapsed(std::chrono::steady_clock::time_point now) const {
    if (state == FleetState::RUNNING) return std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
    if (state == FleetState::FINISHED) return std::chrono::duration_cast<std::chrono::milliseconds>(ended - started);
    return std::chrono::milliseconds{0};
}

struct Fleet::Slot {
    FleetEntry entry;
    RunStopSwitch stop;
    InquiryTap tap;
    std::thread thread;
    uint64_t rangeBase = 0;  // bytes of the ranges before the current one
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
    std::optional<std::string> AskPassword() override { return fleet_.settings_.password; }
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
                entry.target.generationDigit = line.size() > MODEL_CODE_LENGTH ? line[MODEL_CODE_LENGTH] : '?';
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
                entry.busy = true;
                slot_.stop.SetBusy(true);
                if (slot_.stop.StopRequested()) entry.awaited = true;
            }
            if (IsFinalStatus(code)) {
                // A failure that a stop caused (the access point was not busy) is the stop's.
                if (code != STATUS_COMPLETE && slot_.stop.StopNow()) {
                    code = STATUS_ABORTED;
                    entry.diagnostic = "stopped on request" +
                                       (entry.diagnostic.empty() ? std::string() : " while " + entry.diagnostic);
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
        if (slot->entry.target.skip) slot->entry.state = FleetState::SKIPPED;
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
        {
            std::unique_lock<std::mutex> lock(mutex_);
            runEnded_.wait(lock, [&] { return stopRequested_ || running_ < jobs; });
            while (!stopRequested_ && running_ < jobs && next < slots_.size()) {
                FleetEntry& entry = slots_[next]->entry;
                if (entry.state == FleetState::WAITING) {
                    ++running_;
                    entry.state = FleetState::RUNNING;
                    entry.started = std::chrono::steady_clock::now();
                    starting.push_back(next);
                }
                ++next;
            }
            if (starting.empty()) {
                // Stopped, or every target has had its turn: wait for the last runs.
                runEnded_.wait(lock, [&] { return running_ == 0; });
                break;
            }
        }
        for (size_t index : starting) StartRun(index);
    }
    for (size_t index = 0; index < slots_.size(); ++index) {
        if (slots_[index]->entry.state != FleetState::WAITING) continue;  // no run is left to change it
        Update(index, [](FleetEntry& entry) { entry.state = FleetState::NOT_STARTED; });
    }
    for (auto& slot : slots_) {
        if (slot->thread.joinable()) slot->thread.join();
    }
}

void Fleet::StartRun(size_t index) {
    Update(index, [](FleetEntry&) {});
    slots_[index]->thread = std::thread([this, index] { RunOne(index); });
}

void Fleet::RunOne(size_t index) {
    Slot& slot = *slots_[index];
    RunSettings settings = settings_.run;
    settings.peer.address = slot.entry.target.address;  // written before the thread started
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
    Update(index, [&](FleetEntry& entry) {
        entry.state = FleetState::FINISHED;
        entry.outcome = entry.lastCode == STATUS_ABORTED ? STATUS_ABORTED : result;
        entry.ended = std::chrono::steady_clock::now();
    });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
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

std::vector<FleetEntry> Fleet::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FleetEntry> entries;
    entries.reserve(slots_.size());
    for (const auto& slot : slots_) entries.push_back(slot->entry);
    return entries;
}

int FleetExitStatus(const std::vector<FleetEntry>& entries) {
    size_t fitting = 0;
    for (const FleetEntry& entry : entries) {
        if (entry.state == FleetState::SKIPPED) continue;
        ++fitting;
        if (!entry.Completed()) return 1;
    }
    return fitting == 0 ? 1 : 0;
}

}  // namespace quorsel
