// A staged rollout: the access points to update run in batches (--batches), and no
// new run starts once more of them have failed than the rollout allows (--max-fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace quorsel {

// A --batches list holds at most this many entries, a count in it at most this much.
constexpr size_t ROLLOUT_MAX_BATCH_ENTRIES = 64;
constexpr uint32_t ROLLOUT_MAX_COUNT = 1000000;
constexpr uint32_t ROLLOUT_FULL_PERCENT = 100;

// One entry of --batches or --max-fail: a count, or a percentage of the access points
// to update.
struct RolloutAmount {
    uint32_t value = 0;
    bool percent = false;

    // What it is for count access points (a percentage rounded down).
    size_t Of(size_t count) const;
    std::string Text() const;  // "5" or "25%", as given
};

// "1,5,25%,100%": numbers from 1, percentages from 1% to 100%. Each entry is the size
// of one batch; the last one is taken again until every access point had its turn
// (as a staged rollout in Ansible's "serial" reads). The error is one line.
Result<std::vector<RolloutAmount>, std::string> ParseBatches(std::string_view list);

// "N" (from 0) or "P%" (0% to 100%): the failures a rollout tolerates. The error is
// one line.
Result<RolloutAmount, std::string> ParseMaxFail(std::string_view text);

// The batch sizes for count access points: each entry of the list in turn (a
// percentage rounded down, at least 1), the last one repeated, cut so that they add
// up to count exactly. An empty list: one batch of all.
std::vector<size_t> BatchSizes(const std::vector<RolloutAmount>& batches, size_t count);

// What a rollout lets happen next.
enum class RolloutGate {
    START,           // the next run may start
    WAIT_FOR_BATCH,  // it opens a new batch: the runs started before it must end first
    STOP,            // more have failed than allowed: no new run starts
};

class Rollout {
public:
    // count access points to update, run in order; no bound: failures never stop it.
    Rollout(size_t count, const std::vector<RolloutAmount>& batches, std::optional<RolloutAmount> maxFail);

    // Whether run `next` (0-based, runs start in order) may start, when `ended` of the
    // runs started so far have ended and `failed` of those failed.
    RolloutGate Gate(size_t next, size_t ended, size_t failed) const;
    // More have failed than the bound allows.
    bool FailureBoundPassed(size_t failed) const;

    const std::vector<size_t>& batchSizes() const { return sizes_; }
    // The reason the runs left out give: "3 failed, more than --max-fail 2".
    std::string StopReason(size_t failed) const;

private:
    size_t count_;
    std::vector<size_t> sizes_;
    std::vector<size_t> starts_;  // index of each batch's first run
    std::optional<RolloutAmount> maxFail_;
};

}  // namespace quorsel
