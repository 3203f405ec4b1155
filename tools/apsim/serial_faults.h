// Fault injection on the serial line: where the boot code or the loader falls
// silent, which blocks it refuses once, and which letter it reports instead of
// its own verdict.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorsel::apsim {

// The points at which the simulated access point answers on the serial line.
enum class SerialStep {
    Wake,    // the "*" after the wake-up bytes
    Ready,   // the "C" that starts the upload
    Block,   // the answer to block K of the upload (counted from 1, not wrapped)
    Eot,     // the ACK of the end mark
    Report,  // the loader's letters after the upload
};

struct SerialStepPoint {
    SerialStep step = SerialStep::Wake;
    uint32_t block = 0;  // SerialStep::Block only

    bool Matches(SerialStep s, uint32_t blockIndex = 0) const {
        return step == s && (s != SerialStep::Block || block == blockIndex);
    }
};

// "wake", "c", "block:K" (K >= 1), "eot", "report".
std::optional<SerialStepPoint> ParseSerialStep(std::string_view text);
std::string SerialStepName(SerialStepPoint point);

// "2,5,9": block indices from 1, at most BLOCK_LIST_MAX of them.
std::optional<std::vector<uint32_t>> ParseBlockList(std::string_view text);

// The letters a loader can end a range with besides "F".
constexpr std::string_view REPORT_LETTERS = "BIN";

struct SerialFaultPlan {
    std::optional<SerialStepPoint> silentAt;
    std::vector<uint32_t> nakBlocks;  // the first transmission of these blocks is answered NAK
    std::optional<char> report;       // 'B', 'I' or 'N' in place of the loader's own verdict

    bool SilentAt(SerialStep step, uint32_t blockIndex = 0) const {
        return silentAt && silentAt->Matches(step, blockIndex);
    }
    bool NakFirstTransmission(uint32_t blockIndex) const;
    // One line describing the active faults, for the start-up log.
    std::string Describe() const;
};

}  // namespace quorsel::apsim
