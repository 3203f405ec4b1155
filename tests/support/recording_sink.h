// A StatusSink that records everything the run hands to its front-end.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/run_interfaces.h"
#include "engine/status_code.h"
#include "engine/transfer.h"

namespace quorsel::testing {

class RecordingSink : public StatusSink {
public:
    struct Entry {
        StatusCode code;
        TransferCounters counters;  // as they stood when the code was handed over
        bool posted;                // Post instead of Notify
    };

    void Notify(StatusCode code, const TransferCounters& counters) override;
    void Post(StatusCode code, const TransferCounters& counters) override;
    void Diagnose(const std::string& line) override;

    // Every code in order, notified and posted.
    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<StatusCode> codes() const;
    size_t Count(StatusCode code) const;
    // The last code handed over, or STATUS_NONE.
    StatusCode last() const;
    const std::vector<std::string>& diagnostics() const { return diagnostics_; }

    // Called inside Notify, after recording: lets a test act while the run waits.
    std::function<void(StatusCode, const TransferCounters&)> onNotify;

private:
    std::vector<Entry> entries_;
    std::vector<std::string> diagnostics_;
};

}  // namespace quorsel::testing
