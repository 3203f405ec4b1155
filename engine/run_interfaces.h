// What the update run needs from its front-end. The run never knows which
// front-end (desktop dialogs, terminal, tests) serves it.
#pragma once

#include <optional>
#include <string>

#include "engine/status_code.h"
#include "engine/transfer.h"

namespace quorsel {

class StatusSink {
public:
    virtual ~StatusSink() = default;
    // Synchronous: returns once the front-end has handled the code, any message box included.
    virtual void Notify(StatusCode code, const TransferCounters& counters) = 0;
    // Posted: handed over without waiting (the abort after a cancelled power-on prompt).
    virtual void Post(StatusCode code, const TransferCounters& counters) = 0;
    // After a failure: one line naming the step and what was awaited.
    virtual void Diagnose(const std::string& line) = 0;
};

class PasswordPrompt {
public:
    virtual ~PasswordPrompt() = default;
    // The password as code page 932 bytes (at most 15), or nullopt when cancelled.
    virtual std::optional<std::string> AskPassword() = 0;
};

// Raises status codes on the run's worker: the counters are updated first, then the
// front-end is notified synchronously.
class StatusRaiser {
public:
    StatusRaiser(StatusSink& sink, TransferCounters& counters) : sink_(sink), counters_(counters) {}
    void Raise(StatusCode code) {
        last_ = code;
        sink_.Notify(code, counters_);
    }
    void Post(StatusCode code) {
        last_ = code;
        sink_.Post(code, counters_);
    }
    // Raises a failure's code and tells the front-end which step it was waiting at.
    void Fail(StatusCode code, const std::string& diagnostic) {
        sink_.Diagnose(diagnostic);
        Raise(code);
    }
    TransferCounters& counters() { return counters_; }
    // The code raised last: the outcome of a run once it has ended.
    StatusCode last() const { return last_; }

private:
    StatusSink& sink_;
    TransferCounters& counters_;
    StatusCode last_ = STATUS_NONE;
};

}  // namespace quorsel
