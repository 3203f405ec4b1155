#include "engine/serial_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "image/checksums.h"

namespace quorsel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t REPORT_FLASH_WRITING = 'P';
constexpr uint8_t REPORT_ERASING = 'E';
constexpr uint8_t REPORT_FINISHED = 'F';
constexpr uint8_t REPORT_BAD_PASSWORD = 'B';
constexpr uint8_t REPORT_FILE_ERROR = 'I';
constexpr uint8_t REPORT_WRITE_ERROR = 'N';
constexpr const char* ERASING_LINE = "Erasing\n";

// "60 s", or "250 ms" for a wait that is not a whole number of seconds.
std::string DurationText(milliseconds duration) {
    auto ms = duration.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

std::string ByteText(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
    return text;
}

// Reads until "C" arrives. Other bytes (leftovers of the power-on wait) are
// dropped; they do not extend the wait.
bool AwaitReady(SerialLine& line, StatusRaiser& raiser, milliseconds limit) {
    const std::string step = "waiting for \"C\" to start the upload: ";
    const Clock::time_point deadline = Clock::now() + limit;
    uint32_t dropped = 0;
    for (;;) {
        auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left <= milliseconds::zero()) {
            raiser.Fail(STATUS_COMM_ERROR, step + "none within " + DurationText(limit) + ", " +
                                               std::to_string(dropped) + " other bytes dropped");
            return false;
        }
        SerialReadResult answer = line.ReadByte(left);
        if (answer.status == SerialRead::Gone) {
            raiser.Fail(STATUS_COMM_ERROR, step + "the serial line is gone");
            return false;
        }
        if (answer.status == SerialRead::Silence) {
            raiser.Fail(STATUS_COMM_ERROR, dropped == 0 ? step + "no byte for " + DurationText(limit)
                                                        : step + "none within " + DurationText(limit) + ", " +
                                                              std::to_string(dropped) + " other bytes dropped");
            return false;
        }
        if (answer.byte == XMODEM_READY) return true;
        ++dropped;
    }
}

// Sends something (a block or the end mark) and reads one answer, again and again
// until the answer is ACK. Any other byte asks for the same thing once more. A send
// that reports failure (it did not end within its bound) ends the upload.
template <typename SendFn>
bool SendUntilAccepted(SerialLine& line, StatusRaiser& raiser, milliseconds limit, const std::string& awaited,
                       const std::string& sent, SendFn send) {
    uint32_t refusals = 0;
    for (;;) {
        if (!send()) {
            raiser.Fail(STATUS_COMM_ERROR, "sending " + sent + ": the serial write failed or did not end within " +
                                               DurationText(SERIAL_BLOCK_WRITE_TIMEOUT));
            return false;
        }
        SerialReadResult answer = line.ReadByte(limit);
        if (answer.status == SerialRead::Byte && answer.byte == XMODEM_ACK) return true;
        if (answer.status == SerialRead::Silence) {
            raiser.Fail(STATUS_COMM_ERROR, "waiting for " + awaited + ": no byte for " + DurationText(limit));
            return false;
        }
        if (answer.status == SerialRead::Gone) {
            raiser.Fail(STATUS_COMM_ERROR, "waiting for " + awaited + ": the serial line is gone");
            return false;
        }
        if (++refusals >= RESEND_LIMIT) {
            raiser.Fail(STATUS_COMM_ERROR, "waiting for " + awaited + ": " + std::to_string(refusals) +
                                               " answers in a row were not ACK, the last " + ByteText(answer.byte));
            return false;
        }
    }
}

}  // namespace

int FillBlock(uint8_t* block, const UploadStream& stream, const TransferCounters& counters) {
    const uint64_t done = counters.done;
    const uint64_t loaderLength = stream.loaderLength;
    if (done >= counters.total) return -1;

    std::fill(block, block + SERIAL_BLOCK_SIZE, uint8_t{0});
    size_t placed = 0;
    // Stream positions below the loader length come from the loader,
    if (done < loaderLength) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(loaderLength - done, SERIAL_BLOCK_SIZE));
        std::memcpy(block, stream.loader + done, n);
        placed = n;
    }
    // the next 20 from the range header,
    const uint64_t position = done + placed;
    if (placed < SERIAL_BLOCK_SIZE && position < loaderLength + RANGE_HEADER_SIZE) {
        size_t from = static_cast<size_t>(position - loaderLength);
        size_t n = std::min(RANGE_HEADER_SIZE - from, SERIAL_BLOCK_SIZE - placed);
        std::memcpy(block + placed, stream.header.data() + from, n);
        placed += n;
    }
    // and the rest from the file, which stands where the stream stands. The read
    // does not stop at the range's end: the last block is filled up with the bytes
    // that follow it.
    if (placed < SERIAL_BLOCK_SIZE) {
        placed += stream.file.Read(block + placed, SERIAL_BLOCK_SIZE - placed);
    }
    return static_cast<int>(placed);
}

bool SendBlock(SerialLine& line, uint8_t number, const uint8_t* block) {
    std::array<uint8_t, SERIAL_FRAME_SIZE> frame;
    const uint16_t crc = Crc16Xmodem(block, SERIAL_BLOCK_SIZE);
    frame[0] = XMODEM_STX;
    frame[1] = number;
    frame[2] = static_cast<uint8_t>(255 - number);
    std::memcpy(frame.data() + 3, block, SERIAL_BLOCK_SIZE);
    frame[3 + SERIAL_BLOCK_SIZE] = static_cast<uint8_t>(crc >> 8);
    frame[4 + SERIAL_BLOCK_SIZE] = static_cast<uint8_t>(crc & 0xFF);
    return line.WriteBytes(frame.data(), frame.size());
}

bool SendUploadStream(SerialLine& line, const UploadStream& stream, StatusRaiser& raiser,
                      const PeerTimeouts& timeouts) {
    if (!AwaitReady(line, raiser, timeouts.serialAnswer)) return false;

    TransferCounters& counters = raiser.counters();
    std::array<uint8_t, SERIAL_BLOCK_SIZE> block;
    uint8_t number = 1;
    uint32_t sequence = 1;  // the block's place in the stream, for the diagnostic
    for (;;) {
        int filled = FillBlock(block.data(), stream, counters);
        // The end of the stream, or a file that ended exactly where the previous
        // block did: nothing is left that a block could carry.
        if (filled <= 0) break;
        const std::string name = "block " + std::to_string(sequence);
        bool accepted = SendUntilAccepted(line, raiser, timeouts.serialAnswer, "the ACK of " + name, name,
                                          [&] { return SendBlock(line, number, block.data()); });
        if (!accepted) return false;
        counters.done = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{counters.done} + SERIAL_BLOCK_SIZE, counters.total));
        raiser.Raise(STATUS_SERIAL_PROGRESS);
        if (static_cast<size_t>(filled) < SERIAL_BLOCK_SIZE) break;  // the file has ended
        number = static_cast<uint8_t>(number + 1);
        ++sequence;
    }
    // A failed one-byte write of the end mark shows as the ACK that does not come.
    return SendUntilAccepted(line, raiser, timeouts.serialAnswer, "the ACK of the end mark (EOT)",
                             "the end mark (EOT)", [&] {
                                 static_cast<void>(line.WriteByte(XMODEM_EOT));
                                 return true;
                             });
}

bool WaitForCompletion(SerialLine& line, StatusRaiser& raiser, std::function<void(const char*)> erasingOut,
                       const CompletionLimits& limits) {
    const std::string step = "waiting for the loader's report after the upload: ";
    uint32_t silence = limits.silencePolls;
    Clock::time_point reportDeadline = Clock::now() + limits.reportLimit;
    for (;;) {
        SerialReadResult answer = line.ReadByte(limits.pollInterval);
        if (answer.status == SerialRead::Gone) {
            raiser.Fail(STATUS_COMM_ERROR, step + "the serial line is gone");
            return false;
        }
        if (answer.status == SerialRead::Silence) {
            if (silence <= 1) {
                raiser.Fail(STATUS_COMM_ERROR,
                            step + "no byte for " + DurationText(limits.silencePolls * limits.pollInterval));
                return false;
            }
            --silence;
        } else {
            switch (answer.byte) {
                case REPORT_FLASH_WRITING:
                    raiser.Raise(STATUS_FLASH_WRITING);
                    silence = limits.silencePolls;
                    reportDeadline = Clock::now() + limits.reportLimit;
                    continue;
                case REPORT_ERASING:
                    raiser.Raise(STATUS_ERASING);
                    if (erasingOut) erasingOut(ERASING_LINE);
                    silence = limits.silencePolls;
                    reportDeadline = Clock::now() + limits.reportLimit;
                    continue;
                case REPORT_FINISHED:
                    return true;
                case REPORT_BAD_PASSWORD:
                    raiser.Fail(STATUS_BAD_PASSWORD, step + "the loader answered \"B\" (password rejected)");
                    return false;
                case REPORT_FILE_ERROR:
                    raiser.Fail(STATUS_FILE_ERROR, step + "the loader answered \"I\" (file error)");
                    return false;
                case REPORT_WRITE_ERROR:
                    raiser.Fail(STATUS_WRITE_ERROR, step + "the loader answered \"N\" (flash write error)");
                    return false;
                default:
                    break;  // not a report: neither restarts nor counts down the silence
            }
        }
        if (Clock::now() >= reportDeadline) {
            raiser.Fail(STATUS_COMM_ERROR, step + "no report within " + DurationText(limits.reportLimit));
            return false;
        }
    }
}

}  // namespace quorsel
