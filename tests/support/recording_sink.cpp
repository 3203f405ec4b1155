#include "tests/support/recording_sink.h"

#include <algorithm>

namespace quorsel::testing {

void RecordingSink::Notify(StatusCode code, const TransferCounters& counters) {
    entries_.push_back(Entry{code, counters, false});
    if (onNotify) onNotify(code, counters);
}

void RecordingSink::Post(StatusCode code, const TransferCounters& counters) {
    entries_.push_back(Entry{code, counters, true});
}

void RecordingSink::Diagnose(const std::string& line) { diagnostics_.push_back(line); }

std::vector<StatusCode> RecordingSink::codes() const {
    std::vector<StatusCode> result;
    for (const Entry& entry : entries_) result.push_back(entry.code);
    return result;
}

size_t RecordingSink::Count(StatusCode code) const {
    return static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(), [code](const Entry& entry) { return entry.code == code; }));
}

StatusCode RecordingSink::last() const { return entries_.empty() ? STATUS_NONE : entries_.back().code; }

}  // namespace quorsel::testing
