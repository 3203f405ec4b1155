// The fault matrix: every step of the LAN exchange and of the serial upload, each
// met by a peer that closes the connection, one that falls silent and one that
// answers garbage, with the status each cell must end with.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/status_code.h"

namespace quorsel::testing {

enum class Fault { Close, Silent, Garbage };
constexpr std::array<Fault, 3> ALL_FAULTS = {Fault::Close, Fault::Silent, Fault::Garbage};

inline const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::Close: return "peer closes";
        case Fault::Silent: return "peer falls silent";
        case Fault::Garbage: return "peer answers garbage";
    }
    return "?";
}

// Region 4 of a 2 MiB KRV001 image: 0xD000 bytes, 13 LAN blocks of 4096.
constexpr uint16_t MATRIX_REGIONS = 0x0010;
constexpr uint32_t MATRIX_RANGE_START = 0xB000;
constexpr uint32_t MATRIX_RANGE_LENGTH = 0xD000;

struct LanStep {
    const char* name;   // as the matrix shows it
    const char* point;  // quorsel-apsim's name of the step
    // The status each fault ends with, in ALL_FAULTS order. A garbage line where any
    // line will do (the answer to a data block) is no failure.
    std::array<StatusCode, 3> expected;
};

inline std::vector<LanStep> LanSteps() {
    return {
        {"inquiry (model and generation)", "inquiry", {STATUS_COMM_ERROR, STATUS_COMM_ERROR, STATUS_WRONG_MODEL}},
        {"\"OK\" to \"FLSH\"", "flsh", {STATUS_COMM_ERROR, STATUS_COMM_ERROR, STATUS_COMM_ERROR}},
        {"\"OK\" to the range header", "header", {STATUS_COMM_ERROR, STATUS_COMM_ERROR, STATUS_COMM_ERROR}},
        {"\"S\" (ready for data)", "start", {STATUS_COMM_ERROR, STATUS_COMM_ERROR, STATUS_COMM_ERROR}},
        {"answer to the first block", "block:1", {STATUS_WRITE_ERROR, STATUS_WRITE_ERROR, STATUS_COMPLETE}},
        {"answer to a middle block (7 of 13)", "block:7", {STATUS_WRITE_ERROR, STATUS_WRITE_ERROR, STATUS_COMPLETE}},
        {"answer to the last block (13)", "block:13", {STATUS_WRITE_ERROR, STATUS_WRITE_ERROR, STATUS_COMPLETE}},
        {"\"E \" after the data", "end", {STATUS_WRITE_ERROR, STATUS_WRITE_ERROR, STATUS_WRITE_ERROR}},
        {"final \"OK\"", "final", {STATUS_COMM_ERROR, STATUS_COMM_ERROR, STATUS_WRITE_ERROR}},
    };
}

inline std::string ApsimFaultOption(Fault fault) {
    switch (fault) {
        case Fault::Close: return "--close-at";
        case Fault::Silent: return "--silent-at";
        case Fault::Garbage: return "--garbage-at";
    }
    return "";
}

// Region 4 over the serial line: 300 loader bytes, the 20-byte header and 0xD000
// range bytes make 53 blocks of 1024.
constexpr uint32_t SERIAL_MATRIX_BLOCKS = 53;

enum class SerialPoint { WakeUp, Ready, Block, EndMark, Completion };

struct SerialStep {
    const char* name;
    SerialPoint point;
    uint32_t block;  // SerialPoint::Block: 1-based
    std::array<StatusCode, 3> expected;
};

// A peer that never answers the wake-up leaves the prompt up until the user gives
// up: the run then ends with the abort of a cancelled prompt.
inline std::vector<SerialStep> SerialSteps() {
    const std::array<StatusCode, 3> comm = {STATUS_COMM_ERROR, STATUS_COMM_ERROR, STATUS_COMM_ERROR};
    return {
        {"\"*\" to the wake-up \"X\"", SerialPoint::WakeUp, 0, {STATUS_ABORTED, STATUS_ABORTED, STATUS_ABORTED}},
        {"\"C\" (ready to receive)", SerialPoint::Ready, 0, comm},
        {"ACK of the first block", SerialPoint::Block, 1, comm},
        {"ACK of a middle block (27 of 53)", SerialPoint::Block, 27, comm},
        {"ACK of the last block (53)", SerialPoint::Block, SERIAL_MATRIX_BLOCKS, comm},
        {"ACK of the end mark (EOT)", SerialPoint::EndMark, 0, comm},
        {"completion report (\"F\")", SerialPoint::Completion, 0, comm},
    };
}

inline const char* StatusName(StatusCode code) {
    switch (code) {
        case STATUS_CONNECT_FAILED: return "STATUS_CONNECT_FAILED";
        case STATUS_COMM_ERROR: return "STATUS_COMM_ERROR";
        case STATUS_WRITE_ERROR: return "STATUS_WRITE_ERROR";
        case STATUS_WRONG_MODEL: return "STATUS_WRONG_MODEL";
        case STATUS_FILE_ERROR: return "STATUS_FILE_ERROR";
        case STATUS_COMPLETE: return "STATUS_COMPLETE";
        case STATUS_BAD_PASSWORD: return "STATUS_BAD_PASSWORD";
        case STATUS_ABORTED: return "STATUS_ABORTED";
        default: return "other";
    }
}

// The terminal front-end's exit status for a final code.
inline int ExitStatusOf(StatusCode code) {
    switch (code) {
        case STATUS_COMPLETE: return 0;
        case STATUS_CONNECT_FAILED: return 4;
        case STATUS_COMM_ERROR: return 5;
        case STATUS_WRITE_ERROR: return 6;
        case STATUS_WRONG_MODEL: return 7;
        case STATUS_FILE_ERROR: return 8;
        case STATUS_BAD_PASSWORD: return 23;
        case STATUS_ABORTED: return 32;
        default: return -1;
    }
}

// The final code a terminal exit status stands for (STATUS_NONE for none).
inline StatusCode StatusOfExit(int exitStatus) {
    for (StatusCode code : {STATUS_COMPLETE, STATUS_CONNECT_FAILED, STATUS_COMM_ERROR, STATUS_WRITE_ERROR,
                            STATUS_WRONG_MODEL, STATUS_FILE_ERROR, STATUS_BAD_PASSWORD, STATUS_ABORTED}) {
        if (ExitStatusOf(code) == exitStatus) return code;
    }
    return STATUS_NONE;
}

}  // namespace quorsel::testing
