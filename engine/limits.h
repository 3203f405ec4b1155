// Every bound the update engine works with, in one place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorsel {

using std::chrono::milliseconds;

// LAN
constexpr size_t LAN_BLOCK_SIZE = 4096;
constexpr size_t REPLY_BUFFER_SIZE = 1024;          // data bytes; one more holds the terminator
constexpr uint32_t EMPTY_PEEK_LIMIT = 3000;         // empty peeks in a row that mean the peer's data ended
constexpr milliseconds PAUSE_BEFORE_CONNECT{100};
constexpr milliseconds PAUSE_AFTER_RANGE{1000};
constexpr milliseconds LAN_SEND_TIMEOUT{60000};     // a send that finds no room in the socket buffer
constexpr milliseconds LAN_READ_TIMEOUT{60000};     // a reply: this long without a byte fails the read
// The replies that wait on the access point's flash work: the 'S' line after the
// header's "OK" (it erases first), the "E " line after the last block and the final
// "OK" (it writes). Erasing and writing 4 MiB of NOR flash can take minutes.
constexpr milliseconds FLASH_WORK_TIMEOUT{300000};
// The range exchange reads the program file this many bytes at a time (whole
// blocks) and sends it block by block.
constexpr size_t LAN_FILE_CHUNK = 16 * LAN_BLOCK_SIZE;

// Serial
constexpr size_t SERIAL_BLOCK_SIZE = 1024;
constexpr milliseconds WAKE_INTERVAL{100};          // one "X" per pass of the power-on wait
constexpr milliseconds COMPLETION_POLL_INTERVAL{10};
constexpr uint32_t COMPLETION_SILENCE_POLLS = 9000; // 90 s of silence after the upload
// Bytes that are no report never count as silence; this ends such a wait, counted
// like the silence limit from the start or the last "P"/"E".
constexpr milliseconds COMPLETION_REPORT_LIMIT = 2 * COMPLETION_SILENCE_POLLS * COMPLETION_POLL_INTERVAL;
constexpr uint32_t RESEND_LIMIT = 10;               // answers in a row that are not ACK for one block
constexpr milliseconds SERIAL_WRITE_TIMEOUT_PER_BYTE{3000};
constexpr milliseconds SERIAL_WRITE_TIMEOUT_CONSTANT{3000};
// A write of several bytes (a whole block frame) ends within this, however long it is.
constexpr milliseconds SERIAL_BLOCK_WRITE_TIMEOUT{60000};

// The bound on one serial write of n bytes: 3000 ms a byte plus 3000 ms, at most
// SERIAL_BLOCK_WRITE_TIMEOUT.
constexpr milliseconds SerialWriteBound(size_t n) {
    const auto bound = SERIAL_WRITE_TIMEOUT_PER_BYTE * static_cast<int64_t>(n) + SERIAL_WRITE_TIMEOUT_CONSTANT;
    return bound < SERIAL_BLOCK_WRITE_TIMEOUT ? bound : SERIAL_BLOCK_WRITE_TIMEOUT;
}

// Start-up: the X server that DISPLAY names must accept a connection this fast
// for the desktop front-end to be chosen (a forwarded display whose far end is
// gone must not hold the start).
constexpr milliseconds DISPLAY_CONNECT_TIMEOUT{5000};

// Waits on a peer that the protocols leave unbounded. A run may be given shorter
// ones (tests do); the defaults are what a user gets.
struct PeerTimeouts {
    milliseconds connect{10000};       // one TCP connect attempt
    milliseconds lanRead = LAN_READ_TIMEOUT;
    milliseconds serialAnswer{60000};  // "C", a block's ACK, the end mark's ACK
    // The completion wait's silence limit after a serial upload: the 90 s the serial
    // protocol fixes. Only engine-level tests shorten it, so that a silent loader
    // does not take 90 s; nothing outside the program can.
    milliseconds completionSilence = COMPLETION_SILENCE_POLLS * COMPLETION_POLL_INTERVAL;
    // The LAN replies that wait on the flash work (see FLASH_WORK_TIMEOUT); shortened
    // only by engine-level tests, like the completion silence.
    milliseconds flashWork = FLASH_WORK_TIMEOUT;
};

}  // namespace quorsel
