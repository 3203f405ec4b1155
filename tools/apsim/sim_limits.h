// Every bound the simulated access point works with, in one place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorsel::apsim {

using std::chrono::milliseconds;

constexpr uint16_t DEFAULT_PORT = 9002;
constexpr int LISTEN_BACKLOG = 8;

// How long the simulator waits for the next byte from a client before it gives the
// connection up (overridable with --idle-timeout).
constexpr milliseconds DEFAULT_IDLE_TIMEOUT{30000};
// How long a connection that has fallen silent is held open at most, waiting for the
// client to give up (overridable with --silent-hold).
constexpr milliseconds DEFAULT_SILENT_HOLD{600000};
// Longest single wait on a socket, so a stop request is seen promptly.
constexpr milliseconds STOP_POLL_SLICE{100};
// Pause between the single-byte segments of a split reply.
constexpr milliseconds SPLIT_REPLY_PAUSE{2};
// After the last reply: how long to drain what the client still sends before closing,
// so the close does not turn into a reset that could discard the reply.
constexpr milliseconds CLOSE_DRAIN_LIMIT{1000};

constexpr size_t DATA_BLOCK_SIZE = 4096;
constexpr size_t COMMAND_SIZE = 4;
// Upper bound of the option values that count things (connections, ranges, blocks).
constexpr uint32_t COUNT_OPTION_MAX = 1000000;
// Upper bound of the option values that are times in milliseconds (one day).
constexpr uint32_t MILLISECONDS_OPTION_MAX = 86400000;

}  // namespace quorsel::apsim
