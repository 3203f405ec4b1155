#include "engine/fleet/rollout.h"

#include <algorithm>
#include <charconv>

namespace quorsel {

namespace {

// A number with nothing else around it, at most max.
bool ParseNumber(std::string_view text, uint32_t max, uint32_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && value <= max;
}

// "N" or "P%"; minimum applies to both.
bool ParseAmount(std::string_view text, uint32_t minimum, RolloutAmount& amount) {
    amount.percent = !text.empty() && text.back() == '%';
    if (amount.percent) text.remove_suffix(1);
    const uint32_t max = amount.percent ? ROLLOUT_FULL_PERCENT : ROLLOUT_MAX_COUNT;
    return ParseNumber(text, max, amount.value) && amount.value >= minimum;
}

}  // namespace

size_t RolloutAmount::Of(size_t count) const {
    if (!percent) return value;
    return static_cast<size_t>((static_cast<uint64_t>(count) * value) / ROLLOUT_FULL_PERCENT);
}

std::string RolloutAmount::Text() const { return std::to_string(value) + (percent ? "%" : ""); }

Result<std::vector<RolloutAmount>, std::string> ParseBatches(std::string_view list) {
    const std::string usage = " (numbers from 1 or percentages from 1% to 100%, separated by commas, e.g. 1,5,25%,100%)";
    std::vector<RolloutAmount> batches;
    size_t begin = 0;
    for (;;) {
        const size_t comma = list.find(',', begin);
        const std::string_view item = list.substr(begin, comma == std::string_view::npos ? comma : comma - begin);
        RolloutAmount amount;
        if (!ParseAmount(item, 1, amount)) {
            return Fail("--batches: '" + std::string(item) + "' is not a batch size" + usage);
        }
        if (batches.size() == ROLLOUT_MAX_BATCH_ENTRIES) {
            return Fail("--batches takes at most " + std::to_string(ROLLOUT_MAX_BATCH_ENTRIES) + " entries");
        }
        batches.push_back(amount);
        if (comma == std::string_view::npos) break;
        begin = comma + 1;
    }
    return batches;
}

Result<RolloutAmount, std::string> ParseMaxFail(std::string_view text) {
    RolloutAmount amount;
    if (!ParseAmount(text, 0, amount)) {
        return Fail("--max-fail: '" + std::string(text) + "' is not a number of access points (from 0) or a percentage (0% to 100%)");
    }
    return amount;
}

std::vector<size_t> BatchSizes(const std::vector<RolloutAmount>& batches, size_t count) {
    std::vector<size_t> sizes;
    size_t left = count;
    size_t entry = 0;
    while (left > 0) {
        if (batches.empty()) {
            sizes.push_back(left);
            break;
        }
        const size_t size = std::min(left, std::max<size_t>(1, batches[entry].Of(count)));
        sizes.push_back(size);
        left -= size;
        if (entry + 1 < batches.size()) ++entry;
    }
    return sizes;
}

Rollout::Rollout(size_t count, const std::vector<RolloutAmount>& batches, std::optional<RolloutAmount> maxFail)
    : count_(count), sizes_(BatchSizes(batches, count)), maxFail_(maxFail) {
    size_t start = 0;
    for (size_t size : sizes_) {
        starts_.push_back(start);
        start += size;
    }
}

bool Rollout::FailureBoundPassed(size_t failed) const {
    if (!maxFail_) return false;
    if (!maxFail_->percent) return failed > maxFail_->value;
    // More than P% of count, without rounding: failed / count > P / 100.
    return static_cast<uint64_t>(failed) * ROLLOUT_FULL_PERCENT > static_cast<uint64_t>(count_) * maxFail_->value;
}

RolloutGate Rollout::Gate(size_t next, size_t ended, size_t failed) const {
    if (FailureBoundPassed(failed)) return RolloutGate::STOP;
    // Runs start in order and a batch only once the one before has ended, so at the
    // first run of a batch every run started so far (next of them) belongs to earlier
    // batches: they must all have ended.
    const bool opensBatch = std::binary_search(starts_.begin(), starts_.end(), next);
    if (opensBatch && ended < next) return RolloutGate::WAIT_FOR_BATCH;
    return RolloutGate::START;
}

std::string Rollout::StopReason(size_t failed) const {
    return "not started: " + std::to_string(failed) + " failed, more than --max-fail " +
           (maxFail_ ? maxFail_->Text() : std::string("?"));
}

}  // namespace quorsel
