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
int FillBlock(uint8_t* block, const UploadStream& stream, const TransferCounters& counters);
// Frames and writes one block.
void SendBlock(SerialLine& line, uint8_t number, const uint8_t* block);

// Sends the whole stream and its end mark. Returns false after raising
// STATUS_COMM_ERROR when the peer falls silent, keeps refusing a block, or the line is gone.
bool SendUploadStream(SerialLine& line, const UploadStream& stream, StatusRaiser& raiser,
                      const PeerTimeouts& timeouts);

// Waits for "F" (success); "P"/"E" raise their codes, "B"/"I"/"N" and 90 s of silence
// raise theirs and fail. "Erasing\n" goes to erasingOut for each "E".
bool WaitForCompletion(SerialLine& line, StatusRaiser& raiser, std::function<void(const char*)> erasingOut);

}  // namespace quorsel
