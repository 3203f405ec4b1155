// The serial upload: loader, range header and range data in 1024-byte blocks
// (STX, number, complement, data, CRC-16), then the loader's completion letters.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/limits.h"
#include "engine/run_interfaces.h"
#include "engine/serial_line.h"
#include "engine/transfer.h"
#include "image/container.h"
#include "image/file_stream.h"

namespace quorsel {

constexpr uint8_t XMODEM_STX = 0x02;
constexpr uint8_t XMODEM_EOT = 0x04;
constexpr uint8_t XMODEM_ACK = 0x06;
constexpr uint8_t XMODEM_NAK = 0x15;
constexpr uint8_t XMODEM_READY = 'C';
constexpr size_t SERIAL_FRAME_SIZE = 3 + SERIAL_BLOCK_SIZE + 2;

// What one range sends: the loader, the 20-byte header, then the range's stored
// bytes read from the file's current position.
struct UploadStream {
    const uint8_t* loader;
    uint32_t loaderLength;
    std::array<uint8_t, RANGE_HEADER_SIZE> header;
    FileStream& file;
};

// Fills block with the stream bytes from counters.done on: how many it placed
// (SERIAL_BLOCK_SIZE, fewer only where the file ended), or -1 at the end of the stream.
// The last block of a range is filled up with the bytes that follow the range in
// the file; bytes beyond the file's end are zero.
int FillBlock(uint8_t* block, const UploadStream& stream, const TransferCounters& counters);
// Frames one block (STX, number, 255 - number, data, CRC high, CRC low) and hands
// the frame to the line in one write; false when the write failed or did not end
// within its bound.
bool SendBlock(SerialLine& line, uint8_t number, const uint8_t* block);

// Sends the whole stream and its end mark. Returns false after raising
// STATUS_COMM_ERROR when no "C" comes within timeouts.serialAnswer, a block cannot
// be written within SERIAL_BLOCK_WRITE_TIMEOUT, an answer does not come within
// timeouts.serialAnswer, RESEND_LIMIT answers in a row refuse the same block (or
// the end mark), or the line is gone.
bool SendUploadStream(SerialLine& line, const UploadStream& stream, StatusRaiser& raiser,
                      const PeerTimeouts& timeouts);


// How long the completion wait listens. The defaults are what a user gets; tests
// pass shorter ones.
struct CompletionLimits {
    uint32_t silencePolls = COMPLETION_SILENCE_POLLS;         // empty polls that end the wait
    milliseconds pollInterval = COMPLETION_POLL_INTERVAL;     // the length of one empty poll
    milliseconds reportLimit = COMPLETION_REPORT_LIMIT;       // no report at all, silence or not
};

// Waits for "F" (success); "P"/"E" raise their codes and restart the silence count,
// "B"/"I"/"N" raise theirs and fail; silencePolls empty polls in a row, a line that
// is gone, or no report within reportLimit raise STATUS_COMM_ERROR and fail. Other
// bytes are passed over. "Erasing\n" goes to erasingOut for each "E".
bool WaitForCompletion(SerialLine& line, StatusRaiser& raiser, std::function<void(const char*)> erasingOut,
                       const CompletionLimits& limits = CompletionLimits{});

}  // namespace quorsel
