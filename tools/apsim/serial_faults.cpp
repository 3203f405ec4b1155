#include "tools/apsim/serial_faults.h"

#include <algorithm>
#include <charconv>

#include "tools/apsim/sim_limits.h"

namespace quorsel::apsim {

namespace {

struct NamedSerialStep {
    std::string_view name;
    SerialStep step;
};

constexpr NamedSerialStep SERIAL_STEP_NAMES[] = {
    {"wake", SerialStep::Wake}, {"c", SerialStep::Ready},     {"block", SerialStep::Block},
    {"eot", SerialStep::Eot},   {"report", SerialStep::Report},
};

constexpr std::string_view BLOCK_PREFIX = "block:";

bool ParseIndex(std::string_view digits, uint32_t& value) {
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    return !digits.empty() && ec == std::errc() && ptr == end && value >= 1 && value <= COUNT_OPTION_MAX;
}

}  // namespace

std::optional<SerialStepPoint> ParseSerialStep(std::string_view text) {
    if (text.substr(0, BLOCK_PREFIX.size()) == BLOCK_PREFIX) {
        uint32_t block = 0;
        if (!ParseIndex(text.substr(BLOCK_PREFIX.size()), block)) return std::nullopt;
        return SerialStepPoint{SerialStep::Block, block};
    }
    for (const NamedSerialStep& named : SERIAL_STEP_NAMES) {
        if (named.step != SerialStep::Block && named.name == text) return SerialStepPoint{named.step, 0};
    }
    return std::nullopt;
}

std::string SerialStepName(SerialStepPoint point) {
    for (const NamedSerialStep& named : SERIAL_STEP_NAMES) {
        if (named.step != point.step) continue;
        std::string name(named.name);
        if (point.step == SerialStep::Block) name += ":" + std::to_string(point.block);
        return name;
    }
    return "?";
}

std::optional<std::vector<uint32_t>> ParseBlockList(std::string_view text) {
    std::vector<uint32_t> blocks;
    while (!text.empty() || blocks.empty()) {
        const size_t comma = text.find(',');
        uint32_t block = 0;
        if (!ParseIndex(text.substr(0, comma), block)) return std::nullopt;
        blocks.push_back(block);
        if (blocks.size() > BLOCK_LIST_MAX) return std::nullopt;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return std::nullopt;  // a trailing comma
    }
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    return blocks;
}

bool SerialFaultPlan::NakFirstTransmission(uint32_t blockIndex) const {
    return std::binary_search(nakBlocks.begin(), nakBlocks.end(), blockIndex);
}

std::string SerialFaultPlan::Describe() const {
    std::string text;
    auto add = [&text](const std::string& item) {
        if (!text.empty()) text += ", ";
        text += item;
    };
    if (silentAt) add("silent at " + SerialStepName(*silentAt));
    if (!nakBlocks.empty()) {
        std::string list;
        for (uint32_t block : nakBlocks) list += (list.empty() ? "" : ",") + std::to_string(block);
        add("NAK the first transmission of blocks " + list);
    }
    if (report) add(std::string("report \"") + *report + "\" instead of the verdict");
    return text.empty() ? "none" : text;
}

}  // namespace quorsel::apsim
