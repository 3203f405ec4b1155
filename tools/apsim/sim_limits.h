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

// With --restart-ms: an update is taken as complete once this time has passed since
// the last range was stored (the updater opens the next range's connection at once);
// then the simulated access point restarts.
constexpr milliseconds RESTART_SETTLE_TIME{1000};

constexpr size_t DATA_BLOCK_SIZE = 4096;
constexpr size_t COMMAND_SIZE = 4;
// Upper bound of the option values that count things (connections, ranges, blocks).
constexpr uint32_t COUNT_OPTION_MAX = 1000000;
// Upper bound of the option values that are times in milliseconds (one day).
constexpr uint32_t MILLISECONDS_OPTION_MAX = 86400000;

// Serial line (--serial)
constexpr uint32_t DEFAULT_WAKE_AFTER = 3;          // "X" bytes before the boot code answers "*"
// A loader that heard no block repeats its "C" after this long, this many times.
constexpr milliseconds READY_REPEAT_INTERVAL{3000};
constexpr uint32_t READY_REPEAT_LIMIT = 10;
// Longest gap between two bytes of one block before the block counts as broken.
constexpr milliseconds FRAME_BYTE_TIMEOUT{1000};
// Pause before each of the loader's letters after the upload.
constexpr milliseconds REPORT_PAUSE{100};
// How often to look again for the updater while no one holds the line open.
constexpr milliseconds HANGUP_RETRY_INTERVAL{10};
constexpr size_t SERIAL_DATA_SIZE = 1024;           // data bytes of one upload block
constexpr size_t SERIAL_READ_BUFFER = 4096;
// With --baud, the line is read in pieces of this size, each taking its time on the line.
constexpr size_t PACED_READ_CHUNK = 64;
constexpr uint32_t BITS_PER_BYTE = 10;              // start bit, 8 data bits, stop bit
// Paced rates: at the lowest, one paced read of PACED_READ_CHUNK bytes takes about
// half a second, so a stop request is still seen promptly.
constexpr uint32_t BAUD_MIN = 1200;
constexpr uint32_t BAUD_MAX = 4000000;
constexpr uint32_t LOADER_LENGTH_MAX = 4096;        // what the updater's loader buffer holds
constexpr size_t BOOT_NOISE_MAX = 256;
constexpr size_t BLOCK_LIST_MAX = 64;
// Refusals in a row (NAK) after which the loader gives the upload up.
constexpr uint32_t REFUSAL_LIMIT = 20;

}  // namespace quorsel::apsim
