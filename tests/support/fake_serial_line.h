// A scripted serial line and scripted serial ports for tests.
//
// What the line delivers to reads is a queue of bytes, silences and a hang-up,
// filled up front or by a responder that answers each write. Everything written
// is recorded. The line is safe to script and inspect from the test thread while
// another thread (the power-on worker) uses it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "engine/serial_line.h"

namespace quorsel::testing {

// One thing a read meets.
struct FakeInbound {
    SerialRead kind;
    uint8_t byte = 0;
};

// Answers for a responder to return.
std::vector<FakeInbound> Answer(std::initializer_list<uint8_t> bytes);
std::vector<FakeInbound> AnswerSilence();
std::vector<FakeInbound> AnswerGone();

class FakeSerialLine : public SerialLine {
public:
    // Called after every write with that write's bytes; what it returns is queued
    // for the reads. Runs without the line's lock, so it may script the line too.
    using Responder = std::function<std::vector<FakeInbound>(const std::vector<uint8_t>& written)>;

    // Scripting the reads, in order.
    void Feed(std::initializer_list<uint8_t> bytes);
    void Feed(const std::vector<uint8_t>& bytes);
    void Feed(std::string_view text);
    void FeedSilence(size_t count = 1);  // each makes one read find nothing
    void FeedGone();                      // from here on every read reports Gone
    // What reads find once the queue is empty: nothing (the default) or this byte, forever.
    void SetIdleByte(std::optional<uint8_t> byte);
    void OnWrite(Responder responder);
    // Writes from now on report failure (as one that ran out of its bound would);
    // their bytes are still recorded, and the responder still runs.
    void FailWrites(bool fail);

    // SerialLine. Reads never really wait: a silence returns at once.
    bool WriteByte(uint8_t byte) override;
    bool WriteBytes(const uint8_t* data, size_t n) override;
    std::optional<uint8_t> PollByte() override;
    SerialReadResult ReadByte(std::chrono::milliseconds timeout) override;
    void Release() override;

    // Inspection.
    std::vector<uint8_t> Written() const;               // every byte, in order
    std::vector<std::vector<uint8_t>> Writes() const;   // one entry per write call
    size_t ReadCalls() const;                           // ReadByte calls
    size_t SilentReads() const;                         // ReadByte calls that found nothing
    std::vector<std::chrono::milliseconds> ReadTimeouts() const;
    size_t PollCalls() const;
    size_t PendingInbound() const;                      // scripted items not yet read
    bool released() const;
    size_t releaseCalls() const;

private:
    bool Write(const uint8_t* data, size_t n);

    mutable std::mutex mutex_;
    std::deque<FakeInbound> inbound_;
    std::optional<uint8_t> idleByte_;
    bool gone_ = false;
    Responder responder_;
    bool failWrites_ = false;
    std::vector<uint8_t> written_;
    std::vector<std::vector<uint8_t>> writes_;
    std::vector<std::chrono::milliseconds> readTimeouts_;
    size_t silentReads_ = 0;
    size_t pollCalls_ = 0;
    bool released_ = false;
    size_t releaseCalls_ = 0;
};

// Serial ports that hand out fake lines. Each open creates a fresh line, which the
// ports keep for inspection; the handle given to the caller releases it when it goes.
class FakeSerialPorts : public SerialPorts {
public:
    struct OpenCall {
        uint32_t comIndex;
        uint32_t baudRate;
        std::string name = {};  // OpenNamed's port; empty for Open
    };

    // Every later open fails with this error (nullopt: opens succeed).
    void FailOpens(std::optional<SerialOpenError> error);
    // Scripts each new line before it is handed out.
    void PrepareLines(std::function<void(FakeSerialLine&)> prepare);

    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t comIndex, uint32_t baudRate) override;
    Result<std::unique_ptr<SerialLine>, SerialOpenError> OpenNamed(const std::string& name,
                                                                   uint32_t baudRate) override;

    std::vector<OpenCall> opens() const;
    // The lines handed out, oldest first.
    std::vector<std::shared_ptr<FakeSerialLine>> lines() const;

private:
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Opened(OpenCall call);

    mutable std::mutex mutex_;
    std::optional<SerialOpenError> failure_;
    std::function<void(FakeSerialLine&)> prepare_;
    std::vector<OpenCall> opens_;
    std::vector<std::shared_ptr<FakeSerialLine>> lines_;
};

}  // namespace quorsel::testing
