#include "tools/apsim/serial_service.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "image/checksums.h"
#include "tools/apsim/event_log.h"
#include "tools/apsim/range_receiver.h"
#include "tools/apsim/sim_limits.h"
#include "tools/apsim/stop_signal.h"

namespace quorsel::apsim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint8_t WAKE_BYTE = 'X';
constexpr uint8_t AWAKE_ANSWER = '*';
constexpr uint8_t READY_BYTE = 'C';
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t REPORT_ERASING = 'E';
constexpr uint8_t REPORT_WRITING = 'P';
constexpr uint8_t REPORT_FINISHED = 'F';
constexpr uint8_t REPORT_BAD_PASSWORD = 'B';
constexpr uint8_t REPORT_BAD_DATA = 'I';
constexpr uint8_t REPORT_WRITE_FAILED = 'N';
// What follows STX in a block: number, its complement, the data, CRC high and low.
constexpr size_t FRAME_REST_SIZE = 2 + SERIAL_DATA_SIZE + 2;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string ByteText(uint8_t byte) {
    char text[16];
    if (byte >= 0x20 && byte < 0x7F) {
        std::snprintf(text, sizeof text, "\"%c\"", static_cast<char>(byte));
    } else {
        std::snprintf(text, sizeof text, "0x%02x", byte);
    }
    return text;
}

milliseconds Left(Clock::time_point deadline) {
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return left < milliseconds::zero() ? milliseconds::zero() : left;
}

// Takes the time a real line needs: BITS_PER_BYTE bits per byte at the baud rate.
// The line is free again once the bytes before have passed; a line that was idle
// starts at the present.
class LinePacer {
public:
    explicit LinePacer(uint32_t baudRate)
        : byteTime_(baudRate == 0 ? Clock::duration::zero()
                                  : std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
                                        uint64_t{1000000000} * BITS_PER_BYTE / baudRate))) {}

    bool paced() const { return byteTime_ != Clock::duration::zero(); }

    void Pass(size_t bytes) {
        if (!paced()) return;
        const Clock::time_point now = Clock::now();
        if (free_ < now) free_ = now;
        free_ += byteTime_ * static_cast<int64_t>(bytes);
        std::this_thread::sleep_until(free_);
    }

private:
    Clock::duration byteTime_;
    Clock::time_point free_{};
};

// The line as the access point sees it: bytes one at a time from a small buffer,
// each direction paced on its own (the line is full duplex).
class SimLine {
public:
    SimLine(PtyMaster& pty, uint32_t baudRate) : pty_(pty), receivePacer_(baudRate), sendPacer_(baudRate) {}

    PtyStatus ReadByte(uint8_t& byte, milliseconds wait) {
        if (next_ == end_) {
            PtyStatus status = Fill(wait);
            if (status != PtyStatus::Data) return status;
        }
        byte = buffer_[next_++];
        return PtyStatus::Data;
    }

    // Exactly n bytes, with at most gap between two of them.
    PtyStatus ReadExact(uint8_t* out, size_t n, milliseconds gap, size_t& got) {
        got = 0;
        while (got < n) {
            PtyStatus status = ReadByte(out[got], gap);
            if (status != PtyStatus::Data) return status;
            ++got;
        }
        return PtyStatus::Data;
    }

    PtyStatus Send(const uint8_t* data, size_t n, milliseconds wait) {
        if (!sendPacer_.paced()) return pty_.Write(data, n, wait);
        for (size_t i = 0; i < n; ++i) {
            sendPacer_.Pass(1);
            PtyStatus status = pty_.Write(data + i, 1, wait);
            if (status != PtyStatus::Data) return status;
        }
        return PtyStatus::Data;
    }
    PtyStatus Send(uint8_t byte, milliseconds wait) { return Send(&byte, 1, wait); }

    // Reads and drops everything until the updater closes the line, limit passes
    // (TimedOut) or a stop comes in.
    PtyStatus DiscardUntilHangUp(milliseconds limit) {
        next_ = end_ = 0;
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            PtyStatus status = Fill(Left(deadline));
            if (status == PtyStatus::Data) {
                next_ = end_ = 0;
                continue;
            }
            if (status != PtyStatus::TimedOut || Clock::now() >= deadline) return status;
        }
    }

private:
    PtyStatus Fill(milliseconds wait) {
        const size_t max = receivePacer_.paced() ? PACED_READ_CHUNK : buffer_.size();
        size_t got = 0;
        PtyStatus status = pty_.Read(buffer_.data(), max, got, wait);
        if (status != PtyStatus::Data) return status;
        receivePacer_.Pass(got);
        next_ = 0;
        end_ = got;
        return status;
    }

    PtyMaster& pty_;
    LinePacer receivePacer_;
    LinePacer sendPacer_;
    std::array<uint8_t, SERIAL_READ_BUFFER> buffer_{};
    size_t next_ = 0;
    size_t end_ = 0;
};

// Splits the received upload into the loader, the 20-byte range header and the
// range's stored bytes; what follows the range in the last block is padding.
class UploadParser {
public:
    UploadParser(uint32_t loaderLength, const AccessPoint& accessPoint)
        : loaderLength_(loaderLength), accessPoint_(accessPoint) {}

    void Add(const uint8_t* data, size_t n) {
        size_t i = 0;
        if (position_ < loaderLength_) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(n, loaderLength_ - position_));
            i += take;
            position_ += take;
        }
        while (i < n && position_ < HeaderEnd()) {
            headerBytes_[static_cast<size_t>(position_ - loaderLength_)] = data[i++];
            if (++position_ == HeaderEnd()) OnHeader();
        }
        while (i < n && receiver_ && receiver_->Remaining() > 0) {
            const size_t want = receiver_->NextBlockSize();
            const size_t take = std::min(n - i, want - chunkFilled_);
            std::memcpy(chunk_.data() + chunkFilled_, data + i, take);
            chunkFilled_ += take;
            i += take;
            position_ += take;
            if (chunkFilled_ == want) {
                receiver_->AddBlock(chunk_.data(), want);
                chunkFilled_ = 0;
            }
        }
        trailing_ += n - i;
        position_ += n - i;
    }

    bool HeaderComplete() const { return header_.has_value(); }
    const ReceivedHeader& header() const { return *header_; }
    HeaderVerdict verdict() const { return verdict_; }
    // Set once an accepted header announced the range.
    const RangeReceiver* receiver() const { return receiver_ ? &*receiver_ : nullptr; }
    // Bytes after the range (padding of the last block), or after a refused header.
    uint64_t trailing() const { return trailing_; }

private:
    uint64_t HeaderEnd() const { return uint64_t{loaderLength_} + HEADER_SIZE_NEW; }

    void OnHeader() {
        header_ = ParseRangeHeader(headerBytes_.data(), HEADER_SIZE_NEW);
        LogEvent("range header: " + DescribeHeader(*header_));
        // The serial loader always checks the password digest.
        verdict_ = CheckRangeHeader(*header_, accessPoint_.passwordDigest, accessPoint_.flashSize);
        LogEvent(std::string("range header ") + DescribeVerdict(verdict_));
        if (verdict_ == HeaderVerdict::Accepted) receiver_.emplace(*header_, DataForm::Stored);
    }

    uint32_t loaderLength_;
    const AccessPoint& accessPoint_;
    uint64_t position_ = 0;
    std::array<uint8_t, HEADER_SIZE_NEW> headerBytes_{};
    std::optional<ReceivedHeader> header_;
    HeaderVerdict verdict_ = HeaderVerdict::BadTag;
    std::optional<RangeReceiver> receiver_;
    std::array<uint8_t, BLOCK_SIZE> chunk_{};
    size_t chunkFilled_ = 0;
    uint64_t trailing_ = 0;
};

enum class SessionEnd {
    Stored,      // the range was reported "F" and written
    NotStored,   // the session ended without a stored range; the line may still be open
    LineClosed,  // the updater closed the line before the session was over
    Stopped,
    Failed,
};

// The loader's verdict on a received upload.
struct Verdict {
    uint8_t letter;      // REPORT_FINISHED when the range is to be written
    std::string reason;  // for the log
};

// One opening of the line by the updater: wake-up, upload, report.
class SerialSession {
public:
    SerialSession(SimLine& line, const SerialServiceConfig& config, uint32_t number)
        : line_(line), config_(config), faults_(config.line.faults), number_(number),
          parser_(config.line.loaderLength, config.accessPoint) {}

    SessionEnd Serve();

private:
    std::optional<SessionEnd> AwaitWake();
    std::optional<SessionEnd> ReceiveUpload();
    SessionEnd Report();
    Verdict Judge() const;
    // Sends a byte; the session's end when that fails.
    std::optional<SessionEnd> Send(uint8_t byte);
    std::optional<SessionEnd> Send(const std::string& bytes);
    // Holds the line silent until the updater gives up and closes it.
    SessionEnd HoldSilent(const std::string& stepName);
    SessionEnd EndFor(PtyStatus status, const std::string& waitingFor);
    void Log(const std::string& text) const { LogEvent("serial " + std::to_string(number_) + ": " + text); }

    SimLine& line_;
    const SerialServiceConfig& config_;
    const SerialFaultPlan& faults_;
    uint32_t number_;
    UploadParser parser_;
    uint32_t blocks_ = 0;  // blocks accepted
};

SessionEnd SerialSession::Serve() {
    if (std::optional<SessionEnd> end = AwaitWake()) return *end;
    if (faults_.SilentAt(SerialStep::Wake)) return HoldSilent("wake");

    if (std::optional<SessionEnd> end = Send(config_.line.bootNoise + static_cast<char>(AWAKE_ANSWER))) return *end;
    Log("answered \"*\"" +
        (config_.line.bootNoise.empty() ? std::string()
                                        : " after " + std::to_string(config_.line.bootNoise.size()) +
                                              " bytes of boot noise"));
    if (faults_.SilentAt(SerialStep::Ready)) return HoldSilent("c");
    if (std::optional<SessionEnd> end = Send(READY_BYTE)) return *end;

    if (std::optional<SessionEnd> end = ReceiveUpload()) return *end;
    return Report();
}

std::optional<SessionEnd> SerialSession::AwaitWake() {
    uint32_t wakes = 0;
    uint32_t others = 0;
    for (;;) {
        uint8_t byte = 0;
        PtyStatus status = line_.ReadByte(byte, STOP_POLL_SLICE);
        switch (status) {
            case PtyStatus::Data: break;
            case PtyStatus::TimedOut: continue;  // no one is waking the access point yet
            case PtyStatus::HungUp:
                // No one holds the line open (any more): whoever opens it next starts afresh.
                if (wakes > 0 || others > 0) {
                    Log("the updater closed the line after " + std::to_string(wakes) + " wake-up bytes");
                }
                wakes = others = 0;
                std::this_thread::sleep_for(HANGUP_RETRY_INTERVAL);
                continue;
            case PtyStatus::Stopped: return SessionEnd::Stopped;
            case PtyStatus::Failed: return SessionEnd::Failed;
        }
        if (byte != WAKE_BYTE) {
            ++others;
            continue;
        }
        if (++wakes == 1) Log("line opened: first \"X\"");
        if (wakes >= config_.line.wakeAfter) {
            Log(std::to_string(wakes) + " \"X\" received" +
                (others > 0 ? ", " + std::to_string(others) + " other bytes dropped" : std::string()));
            return std::nullopt;
        }
    }
}

std::optional<SessionEnd> SerialSession::ReceiveUpload() {
    uint8_t expected = 1;  // the number the next new block carries
    uint32_t index = 1;    // its place in the upload, from 1, not wrapped
    std::set<uint32_t> refusedOnce;
    uint32_t refusalsInRow = 0;
    uint32_t strays = 0;
    uint32_t duplicates = 0;
    uint32_t readyRepeats = 0;
    Clock::time_point nextReady = Clock::now() + READY_REPEAT_INTERVAL;
    Clock::time_point idleDeadline = Clock::now() + config_.idleTimeout;
    std::array<uint8_t, FRAME_REST_SIZE> frame{};

    auto refuse = [&](const std::string& why) -> std::optional<SessionEnd> {
        Log("block " + std::to_string(index) + ": " + why + "; NAK");
        if (++refusalsInRow >= REFUSAL_LIMIT) {
            Log(std::to_string(refusalsInRow) + " refusals in a row; upload given up");
            return SessionEnd::NotStored;
        }
        return Send(NAK);
    };

    for (;;) {
        // Until the first block comes, "C" is repeated now and then, as a loader does.
        const bool repeating = index == 1 && readyRepeats < READY_REPEAT_LIMIT;
        const Clock::time_point until = repeating ? std::min(nextReady, idleDeadline) : idleDeadline;
        uint8_t byte = 0;
        PtyStatus status = line_.ReadByte(byte, Left(until));
        if (status == PtyStatus::TimedOut) {
            if (Clock::now() >= idleDeadline) {
                Log("no byte for " + std::to_string(config_.idleTimeout.count()) + " ms; upload given up after " +
                    std::to_string(blocks_) + " blocks");
                return SessionEnd::NotStored;
            }
            if (repeating && Clock::now() >= nextReady) {
                ++readyRepeats;
                nextReady = Clock::now() + READY_REPEAT_INTERVAL;
                Log("no block yet; \"C\" again");
                if (std::optional<SessionEnd> end = Send(READY_BYTE)) return end;
            }
            continue;
        }
        if (status != PtyStatus::Data) return EndFor(status, "block " + std::to_string(index));
        idleDeadline = Clock::now() + config_.idleTimeout;

        if (byte == EOT) break;
        if (byte != STX) {
            ++strays;  // wake-up bytes sent after the "*", noise
            continue;
        }
        size_t got = 0;
        status = line_.ReadExact(frame.data(), frame.size(), FRAME_BYTE_TIMEOUT, got);
        if (status == PtyStatus::TimedOut) {
            if (std::optional<SessionEnd> end = refuse("broken off after " + std::to_string(got + 1) + " bytes")) {
                return end;
            }
            continue;
        }
        if (status != PtyStatus::Data) return EndFor(status, "the rest of block " + std::to_string(index));

        const uint8_t number = frame[0];
        const uint8_t* data = frame.data() + 2;
        const uint16_t crc = static_cast<uint16_t>(frame[2 + SERIAL_DATA_SIZE] << 8 | frame[3 + SERIAL_DATA_SIZE]);
        std::optional<SessionEnd> end;
        if (static_cast<uint8_t>(number + frame[1]) != 0xFF) {
            end = refuse("number " + std::to_string(number) + " and complement " + std::to_string(frame[1]) +
                         " do not match");
        } else if (Crc16Xmodem(data, SERIAL_DATA_SIZE) != crc) {
            end = refuse("CRC " + Hex(crc) + " does not match the data (" + Hex(Crc16Xmodem(data, SERIAL_DATA_SIZE)) +
                         ")");
        } else if (number == expected) {
            if (faults_.SilentAt(SerialStep::Block, index)) return HoldSilent("block:" + std::to_string(index));
            if (faults_.NakFirstTransmission(index) && refusedOnce.insert(index).second) {
                Log("fault: NAK to the first transmission of block " + std::to_string(index));
                end = Send(NAK);
            } else {
                parser_.Add(data, SERIAL_DATA_SIZE);
                refusalsInRow = 0;
                ++blocks_;
                ++index;
                expected = static_cast<uint8_t>(expected + 1);
                end = Send(ACK);
            }
        } else if (index > 1 && number == static_cast<uint8_t>(expected - 1)) {
            // The block before again: its ACK did not count. Confirm it once more.
            ++duplicates;
            Log("block " + std::to_string(index - 1) + " again (number " + std::to_string(number) + "); ACK");
            end = Send(ACK);
        } else {
            end = refuse("number " + std::to_string(number) + " where " + std::to_string(expected) +
                         " was expected");
        }
        if (end) return end;
    }

    if (faults_.SilentAt(SerialStep::Eot)) return HoldSilent("eot");
    if (std::optional<SessionEnd> end = Send(ACK)) return end;
    Log("end of upload: " + std::to_string(blocks_) + " blocks (" + std::to_string(uint64_t{blocks_} * SERIAL_DATA_SIZE) +
        " bytes)" + (duplicates > 0 ? ", " + std::to_string(duplicates) + " repeated" : std::string()) +
        (strays > 0 ? ", " + std::to_string(strays) + " stray bytes dropped" : std::string()));
    return std::nullopt;
}

Verdict SerialSession::Judge() const {
    if (!parser_.HeaderComplete()) return {REPORT_BAD_DATA, "the upload ended before the range header was complete"};
    switch (parser_.verdict()) {
        case HeaderVerdict::Accepted: break;
        case HeaderVerdict::BadPassword: return {REPORT_BAD_PASSWORD, "wrong password digest"};
        case HeaderVerdict::BadTag:
        case HeaderVerdict::OutsideFlash: return {REPORT_BAD_DATA, DescribeVerdict(parser_.verdict())};
    }
    const RangeReceiver& receiver = *parser_.receiver();
    if (receiver.Remaining() > 0) {
        return {REPORT_BAD_DATA, "the upload ended " + std::to_string(receiver.Remaining()) + " bytes short of the range"};
    }
    const uint16_t computed = receiver.ComputedChecksum();
    if (!receiver.ChecksumMatches()) {
        return {REPORT_BAD_DATA,
                "checksum header " + Hex(parser_.header().checksum) + ", received " + Hex(computed) + ": MISMATCH"};
    }
    return {REPORT_FINISHED, "checksum " + Hex(computed) + " matches; " + std::to_string(parser_.trailing()) +
                                 " bytes of padding after the range"};
}

SessionEnd SerialSession::Report() {
    if (faults_.SilentAt(SerialStep::Report)) return HoldSilent("report");
    Verdict verdict = Judge();
    Log("verdict: " + verdict.reason);
    if (faults_.report) {
        Log(std::string("fault: reporting \"") + *faults_.report + "\" instead");
        verdict = {static_cast<uint8_t>(*faults_.report), "fault"};
    }
    auto letter = [this](uint8_t byte, const char* meaning) -> std::optional<SessionEnd> {
        std::this_thread::sleep_for(REPORT_PAUSE);
        Log("report " + ByteText(byte) + " (" + meaning + ")");
        return Send(byte);
    };

    if (verdict.letter == REPORT_BAD_PASSWORD || verdict.letter == REPORT_BAD_DATA) {
        const char* meaning = verdict.letter == REPORT_BAD_PASSWORD ? "password rejected" : "bad upload";
        if (std::optional<SessionEnd> end = letter(verdict.letter, meaning)) return *end;
        return SessionEnd::NotStored;
    }
    if (std::optional<SessionEnd> end = letter(REPORT_ERASING, "erasing")) return *end;
    if (std::optional<SessionEnd> end = letter(REPORT_WRITING, "writing")) return *end;
    if (verdict.letter == REPORT_WRITE_FAILED) {
        if (std::optional<SessionEnd> end = letter(REPORT_WRITE_FAILED, "flash write failed")) return *end;
        return SessionEnd::NotStored;
    }

    const ReceivedHeader& header = parser_.header();
    const std::vector<uint8_t>& bytes = parser_.receiver()->FlashBytes();
    if (config_.flash != nullptr) {
        Result<bool, std::string> written = config_.flash->Write(header.start, bytes.data(), bytes.size());
        if (!written) {
            Log("flash write failed: " + written.error());
            if (std::optional<SessionEnd> end = letter(REPORT_WRITE_FAILED, "flash write failed")) return *end;
            return SessionEnd::NotStored;
        }
        Log("range written: start " + Hex(header.start) + ", length " + Hex(header.length) + " to " +
            config_.flash->path());
    } else {
        Log("range accepted (no flash file): start " + Hex(header.start) + ", length " + Hex(header.length));
    }
    if (std::optional<SessionEnd> end = letter(REPORT_FINISHED, "finished")) return *end;
    return SessionEnd::Stored;
}

std::optional<SessionEnd> SerialSession::Send(uint8_t byte) {
    return Send(std::string(1, static_cast<char>(byte)));
}

std::optional<SessionEnd> SerialSession::Send(const std::string& bytes) {
    PtyStatus status =
        line_.Send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), config_.idleTimeout);
    if (status == PtyStatus::Data) return std::nullopt;
    return EndFor(status, "room to send " + std::to_string(bytes.size()) + " bytes");
}

SessionEnd SerialSession::HoldSilent(const std::string& stepName) {
    Log("fault: silent at " + stepName);
    PtyStatus status = line_.DiscardUntilHangUp(config_.silentHold);
    Log(std::string("silent line ended: ") +
        (status == PtyStatus::TimedOut ? "hold time over" : DescribePtyStatus(status)));
    switch (status) {
        case PtyStatus::HungUp: return SessionEnd::LineClosed;
        case PtyStatus::Stopped: return SessionEnd::Stopped;
        case PtyStatus::Failed: return SessionEnd::Failed;
        case PtyStatus::Data:
        case PtyStatus::TimedOut: break;
    }
    return SessionEnd::NotStored;
}

SessionEnd SerialSession::EndFor(PtyStatus status, const std::string& waitingFor) {
    switch (status) {
        case PtyStatus::HungUp:
            Log("waiting for " + waitingFor + ": the updater closed the line (" + std::to_string(blocks_) +
                " blocks accepted)");
            return SessionEnd::LineClosed;
        case PtyStatus::Stopped: return SessionEnd::Stopped;
        case PtyStatus::Failed:
            Log("waiting for " + waitingFor + ": the pseudo-terminal failed");
            return SessionEnd::Failed;
        case PtyStatus::TimedOut:
            Log("waiting for " + waitingFor + ": nothing within the idle time");
            return SessionEnd::NotStored;
        case PtyStatus::Data: break;
    }
    return SessionEnd::NotStored;
}

}  // namespace

int RunSerialService(PtyMaster& pty, const SerialServiceConfig& config) {
    SimLine line(pty, config.line.baudRate);
    uint32_t sessions = 0;
    uint32_t ranges = 0;
    for (;;) {
        const SessionEnd end = SerialSession(line, config, ++sessions).Serve();
        switch (end) {
            case SessionEnd::Stopped: LogEvent("stop requested; ending"); return 0;
            case SessionEnd::Failed: LogEvent("the pseudo-terminal failed; ending"); return 1;
            case SessionEnd::Stored: ++ranges; break;
            case SessionEnd::NotStored:
            case SessionEnd::LineClosed: break;
        }
        if (StopRequested()) {
            LogEvent("stop requested; ending");
            return 0;
        }
        if (config.exitAfterRanges != 0 && ranges >= config.exitAfterRanges) {
            // The report must reach the updater before the line goes away with the
            // simulator: wait until the updater has closed the line.
            PtyStatus status = line.DiscardUntilHangUp(config.idleTimeout);
            LogEvent(std::to_string(ranges) + " ranges stored; ending (" +
                     (status == PtyStatus::HungUp ? std::string("the updater closed the line")
                                                  : std::string(DescribePtyStatus(status))) +
                     ")");
            return 0;
        }
    }
}

}  // namespace quorsel::apsim
