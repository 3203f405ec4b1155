#include "tools/apsim/faults.h"

#include <charconv>

namespace quorsel::apsim {

namespace {

struct NamedStep {
    std::string_view name;
    Step step;
};

constexpr NamedStep STEP_NAMES[] = {
    {"inquiry", Step::Inquiry}, {"flsh", Step::Flsh}, {"header", Step::Header},
    {"start", Step::Start},     {"block", Step::Block}, {"end", Step::End},
    {"final", Step::Final},
};

constexpr std::string_view BLOCK_PREFIX = "block:";

}  // namespace

std::optional<StepPoint> ParseStep(std::string_view text) {
    if (text.substr(0, BLOCK_PREFIX.size()) == BLOCK_PREFIX) {
        std::string_view digits = text.substr(BLOCK_PREFIX.size());
        uint32_t block = 0;
        const char* end = digits.data() + digits.size();
        auto [ptr, ec] = std::from_chars(digits.data(), end, block);
        if (digits.empty() || ec != std::errc() || ptr != end || block == 0) return std::nullopt;
        return StepPoint{Step::Block, block};
    }
    for (const NamedStep& named : STEP_NAMES) {
        if (named.step != Step::Block && named.name == text) return StepPoint{named.step, 0};
    }
    return std::nullopt;
}

std::string StepName(Step step, uint32_t blockNumber) {
    for (const NamedStep& named : STEP_NAMES) {
        if (named.step != step) continue;
        std::string name(named.name);
        if (step == Step::Block) name += ":" + std::to_string(blockNumber);
        return name;
    }
    return "?";
}

std::string StepName(StepPoint point) { return StepName(point.step, point.block); }

std::optional<LineEnd> ParseLineEnd(std::string_view text) {
    if (text == "lf") return LineEnd::Lf;
    if (text == "crlf") return LineEnd::CrLf;
    if (text == "nul") return LineEnd::Nul;
    return std::nullopt;
}

std::string_view LineEndBytes(LineEnd lineEnd) {
    switch (lineEnd) {
        case LineEnd::CrLf: return std::string_view("\r\n", 2);
        case LineEnd::Nul: return std::string_view("\0", 1);
        case LineEnd::Lf: break;
    }
    return std::string_view("\n", 1);
}

FaultAction FaultPlan::ActionAt(Step step, uint32_t blockNumber) const {
    if (closeAt && closeAt->Matches(step, blockNumber)) return FaultAction::Close;
    if (silentAt && silentAt->Matches(step, blockNumber)) return FaultAction::Silent;
    if (garbageAt && garbageAt->Matches(step, blockNumber)) return FaultAction::Garbage;
    return FaultAction::Answer;
}

std::string FaultPlan::Describe() const {
    std::string text;
    auto add = [&text](const std::string& item) {
        if (!text.empty()) text += ", ";
        text += item;
    };
    if (closeAt) add("close at " + StepName(*closeAt));
    if (silentAt) add("silent at " + StepName(*silentAt));
    if (garbageAt) add("garbage at " + StepName(*garbageAt));
    if (closeAfterBlocks) add("close after " + std::to_string(*closeAfterBlocks) + " blocks");
    if (answerIp) add("answer IP to every header");
    if (splitReplies) add("split replies");
    if (mergeReplies) add("merge replies");
    return text.empty() ? "none" : text;
}

}  // namespace quorsel::apsim
