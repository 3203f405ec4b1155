// Reading a fuzzer's input front to back, and peers (a byte stream, a serial line)
// whose every answer comes from that input. Inputs are read in order so that seed
// files can be written by hand (see make_seeds.py); once the input is used up the
// peers behave as a peer that has gone quiet, so every run ends quickly.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "engine/byte_stream.h"
#include "engine/serial_line.h"

namespace quorsel::fuzzing {

// Stops the run with a message; libFuzzer records the input that got here.
[[noreturn]] inline void Violated(const char* what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(condition)                               \
    do {                                                    \
        if (!(condition)) ::quorsel::fuzzing::Violated(#condition); \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    size_t left() const { return size_ - at_; }
    // The next byte, or 0 once the input is used up.
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Le16() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t Le32() {
        const uint32_t low = Le16();
        return low | (uint32_t{Le16()} << 16);
    }
    // Up to n bytes (fewer where the input ends).
    std::vector<uint8_t> Bytes(size_t n) {
        const size_t taken = std::min(n, left());
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + taken);
        at_ += taken;
        return out;
    }
    std::vector<uint8_t> Rest() { return Bytes(left()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A TCP peer played from the input. Each event is one kind byte:
//   0..3  a segment: a length byte L (0 means a two-byte length follows, up to 2047),
//         then L reply bytes
//   4     one empty read (the socket reports zero bytes once)
//   5     one read that times out
//   6     one read that fails
//   7     a byte that a peek sees but the receive after it does not get
// Kind bytes are taken modulo 8. When the input is used up, every read reports that
// the peer's data has ended. Sends are recorded; send number failSend fails.
class FuzzStream : public ByteStream {
public:
    FuzzStream(FuzzInput& input, size_t failSend) : input_(input), failSend_(failSend) {}

    bool Send(const uint8_t* data, size_t n) override {
        sends_.emplace_back(data, data + n);
        return sends_.size() - 1 != failSend_;
    }

    IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds) override {
        if (n == 0) return {IoStatus::Failed, 0};
        if (phantom_) {
            if (peek) {
                buffer[0] = 'O';
                return {IoStatus::Data, 1};
            }
            phantom_ = false;
            return {IoStatus::Failed, 0};
        }
        while (segmentAt_ >= segment_.size()) {
            if (input_.empty()) return {IoStatus::Closed, 0};
            switch (input_.Byte() % 8) {
                case 4: return {IoStatus::Closed, 0};
                case 5: return {IoStatus::TimedOut, 0};
                case 6: return {IoStatus::Failed, 0};
                case 7:
                    phantom_ = true;
                    return Receive(buffer, n, peek, std::chrono::milliseconds(0));
                default: {
                    size_t length = input_.Byte();
                    if (length == 0) length = input_.Le16() % 2048;
                    segment_ = input_.Bytes(length);
                    segmentAt_ = 0;
                }
            }
        }
        const size_t count = std::min(n, segment_.size() - segmentAt_);
        std::copy_n(segment_.begin() + static_cast<std::ptrdiff_t>(segmentAt_), count, buffer);
        if (!peek) {
            received_.insert(received_.end(), segment_.begin() + static_cast<std::ptrdiff_t>(segmentAt_),
                             segment_.begin() + static_cast<std::ptrdiff_t>(segmentAt_ + count));
            segmentAt_ += count;
        }
        return {IoStatus::Data, count};
    }

    const std::vector<std::vector<uint8_t>>& sends() const { return sends_; }
    // Every byte the reader took off the stream, in order.
    const std::vector<uint8_t>& received() const { return received_; }

private:
    FuzzInput& input_;
    size_t failSend_;
    std::vector<uint8_t> segment_;
    size_t segmentAt_ = 0;
    bool phantom_ = false;
    std::vector<std::vector<uint8_t>> sends_;
    std::vector<uint8_t> received_;
};

// A serial line played from the input, one input byte per read: 0xFD is a read that
// finds nothing, 0xFC a line that is gone from then on, 0xFE takes the byte after it
// literally; any other byte arrives as it is. A used-up input reads as silence.
class FuzzSerialLine : public SerialLine {
public:
    static constexpr uint8_t SILENCE = 0xFD;
    static constexpr uint8_t GONE = 0xFC;
    static constexpr uint8_t ESCAPE = 0xFE;

    explicit FuzzSerialLine(FuzzInput& input) : input_(input) {}

    bool WriteByte(uint8_t byte) override { return WriteBytes(&byte, 1); }
    bool WriteBytes(const uint8_t* data, size_t n) override {
        FUZZ_CHECK(!released_);
        writes_.emplace_back(data, data + n);
        return true;
    }
    std::optional<uint8_t> PollByte() override {
        SerialReadResult read = ReadByte(std::chrono::milliseconds(0));
        if (read.status != SerialRead::Byte) return std::nullopt;
        return read.byte;
    }
    SerialReadResult ReadByte(std::chrono::milliseconds) override {
        FUZZ_CHECK(!released_);
        ++reads_;
        if (gone_) return {SerialRead::Gone, 0};
        if (input_.empty()) return {SerialRead::Silence, 0};
        uint8_t byte = input_.Byte();
        if (byte == SILENCE) return {SerialRead::Silence, 0};
        if (byte == GONE) {
            gone_ = true;
            return {SerialRead::Gone, 0};
        }
        if (byte == ESCAPE) byte = input_.Byte();
        bytesRead_.push_back(byte);
        return {SerialRead::Byte, byte};
    }
    void Release() override { released_ = true; }

    const std::vector<std::vector<uint8_t>>& writes() const { return writes_; }
    // Every byte that a read handed out, in order.
    const std::vector<uint8_t>& bytesRead() const { return bytesRead_; }
    size_t reads() const { return reads_; }

private:
    FuzzInput& input_;
    bool gone_ = false;
    bool released_ = false;
    size_t reads_ = 0;
    std::vector<std::vector<uint8_t>> writes_;
    std::vector<uint8_t> bytesRead_;
};

}  // namespace quorsel::fuzzing
