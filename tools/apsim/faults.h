// Fault injection: which reply of an exchange to withhold, break or replace, and how
// to shape the replies on the wire. Each fault is independent of the others.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorsel::apsim {

// The points of an exchange at which the simulator answers the client.
enum class Step {
    Inquiry,  // the reply to "INQR"
    Flsh,     // the "OK" to "FLSH"
    Header,   // the "OK" (or "IP") to the range header
    Start,    // the "S" line
    Block,    // the "C " line after data block K (counted from 1)
    End,      // the "E " line after the last block
    Final,    // the "OK" after the range is stored
};

struct StepPoint {
    Step step = Step::Inquiry;
    uint32_t block = 0;  // Step::Block only: 1 for the first block of a range

    bool Matches(Step s, uint32_t blockNumber) const {
        return step == s && (s != Step::Block || block == blockNumber);
    }
};

// "inquiry", "flsh", "header", "start", "block:K" (K >= 1), "end", "final".
std::optional<StepPoint> ParseStep(std::string_view text);
std::string StepName(StepPoint point);
// StepName for a point reached during a session.
std::string StepName(Step step, uint32_t blockNumber);

enum class FaultAction {
    Answer,   // send the normal reply
    Silent,   // send nothing and keep the connection open
    Close,    // close the connection instead of replying
    Garbage,  // send a line that is no valid reply, then carry on as if answered
};

enum class LineEnd { Lf, CrLf, Nul };

std::optional<LineEnd> ParseLineEnd(std::string_view text);
std::string_view LineEndBytes(LineEnd lineEnd);

// The line sent in place of a reply by --garbage-at. It starts with none of the
// letters a reply is recognised by.
constexpr std::string_view GARBAGE_LINE = "?#garbage#?";

struct FaultPlan {
    std::optional<StepPoint> silentAt;
    std::optional<StepPoint> closeAt;
    std::optional<StepPoint> garbageAt;
    std::optional<uint32_t> closeAfterBlocks;  // close once this many blocks are answered
    bool answerIp = false;      // reject every range header with "IP"
    bool splitReplies = false;  // every reply byte in its own segment
    bool mergeReplies = false;  // header "OK" with "S", last "C " with "E " in one segment

    // What to do at a step. When several faults name the same step, closing wins over
    // falling silent, and falling silent over garbage.
    FaultAction ActionAt(Step step, uint32_t blockNumber = 0) const;
    // True when the connection is to be closed after blocksAnswered blocks.
    bool CloseAfter(uint32_t blocksAnswered) const {
        return closeAfterBlocks && *closeAfterBlocks == blocksAnswered;
    }
    // One line describing the active faults, for the start-up log.
    std::string Describe() const;
};

}  // namespace quorsel::apsim
