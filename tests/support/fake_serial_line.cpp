#include "tests/support/fake_serial_line.h"

#include <utility>

namespace quorsel::testing {

std::vector<FakeInbound> Answer(std::initializer_list<uint8_t> bytes) {
    std::vector<FakeInbound> items;
    for (uint8_t byte : bytes) items.push_back(FakeInbound{SerialRead::Byte, byte});
    return items;
}

std::vector<FakeInbound> AnswerSilence() { return {FakeInbound{SerialRead::Silence, 0}}; }

std::vector<FakeInbound> AnswerGone() { return {FakeInbound{SerialRead::Gone, 0}}; }

void FakeSerialLine::Feed(std::initializer_list<uint8_t> bytes) { Feed(std::vector<uint8_t>(bytes)); }

void FakeSerialLine::Feed(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint8_t byte : bytes) inbound_.push_back(FakeInbound{SerialRead::Byte, byte});
}

void FakeSerialLine::Feed(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (char c : text) inbound_.push_back(FakeInbound{SerialRead::Byte, static_cast<uint8_t>(c)});
}

void FakeSerialLine::FeedSilence(size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < count; ++i) inbound_.push_back(FakeInbound{SerialRead::Silence, 0});
}

void FakeSerialLine::FeedGone() {
    std::lock_guard<std::mutex> lock(mutex_);
    inbound_.push_back(FakeInbound{SerialRead::Gone, 0});
}

void FakeSerialLine::SetIdleByte(std::optional<uint8_t> byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    idleByte_ = byte;
}

void FakeSerialLine::OnWrite(Responder responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

void FakeSerialLine::FailWrites(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failWrites_ = fail;
}

bool FakeSerialLine::WriteByte(uint8_t byte) { return Write(&byte, 1); }

bool FakeSerialLine::WriteBytes(const uint8_t* data, size_t n) { return Write(data, n); }

bool FakeSerialLine::Write(const uint8_t* data, size_t n) {
    std::vector<uint8_t> chunk(data, data + n);
    Responder responder;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (released_) return false;
        written_.insert(written_.end(), chunk.begin(), chunk.end());
        writes_.push_back(chunk);
        responder = responder_;
        failed = failWrites_;
    }
    if (responder) {
        std::vector<FakeInbound> answer = responder(chunk);
        std::lock_guard<std::mutex> lock(mutex_);
        inbound_.insert(inbound_.end(), answer.begin(), answer.end());
    }
    return !failed;
}

std::optional<uint8_t> FakeSerialLine::PollByte() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pollCalls_;
    if (released_ || gone_) return std::nullopt;
    if (inbound_.empty()) return idleByte_;
    FakeInbound next = inbound_.front();
    switch (next.kind) {
        case SerialRead::Byte:
            inbound_.pop_front();
            return next.byte;
        case SerialRead::Silence:
            inbound_.pop_front();
            return std::nullopt;
        case SerialRead::Gone:
            return std::nullopt;  // a poll that fails finds nothing
    }
    return std::nullopt;
}

SerialReadResult FakeSerialLine::ReadByte(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    readTimeouts_.push_back(timeout);
    if (released_ || gone_) return {SerialRead::Gone, 0};
    if (inbound_.empty()) {
        if (idleByte_) return {SerialRead::Byte, *idleByte_};
        ++silentReads_;
        return {SerialRead::Silence, 0};
    }
    FakeInbound next = inbound_.front();
    if (next.kind == SerialRead::Gone) {
        gone_ = true;
        inbound_.clear();
        return {SerialRead::Gone, 0};
    }
    inbound_.pop_front();
    if (next.kind == SerialRead::Silence) ++silentReads_;
    return {next.kind, next.byte};
}

void FakeSerialLine::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++releaseCalls_;
    released_ = true;
}

std::vector<uint8_t> FakeSerialLine::Written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::vector<std::vector<uint8_t>> FakeSerialLine::Writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

size_t FakeSerialLine::ReadCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readTimeouts_.size();
}

size_t FakeSerialLine::SilentReads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return silentReads_;
}

std::vector<std::chrono::milliseconds> FakeSerialLine::ReadTimeouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readTimeouts_;
}

size_t FakeSerialLine::PollCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pollCalls_;
}

size_t FakeSerialLine::PendingInbound() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inbound_.size();
}

bool FakeSerialLine::released() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return released_;
}

size_t FakeSerialLine::releaseCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return releaseCalls_;
}

namespace {

// What FakeSerialPorts hands out: forwards to a shared fake line and, like a real
// line, releases it when it goes.
class SharedLineHandle : public SerialLine {
public:
    explicit SharedLineHandle(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) {}
    ~SharedLineHandle() override { line_->Release(); }
    SharedLineHandle(const SharedLineHandle&) = delete;
    SharedLineHandle& operator=(const SharedLineHandle&) = delete;

    bool WriteByte(uint8_t byte) override { return line_->WriteByte(byte); }
    bool WriteBytes(const uint8_t* data, size_t n) override { return line_->WriteBytes(data, n); }
    std::optional<uint8_t> PollByte() override { return line_->PollByte(); }
    SerialReadResult ReadByte(std::chrono::milliseconds timeout) override { return line_->ReadByte(timeout); }
    void Release() override { line_->Release(); }

private:
    std::shared_ptr<FakeSerialLine> line_;
};

}  // namespace

void FakeSerialPorts::FailOpens(std::optional<SerialOpenError> error) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = error;
}

void FakeSerialPorts::PrepareLines(std::function<void(FakeSerialLine&)> prepare) {
    std::lock_guard<std::mutex> lock(mutex_);
    prepare_ = std::move(prepare);
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> FakeSerialPorts::Open(uint32_t comIndex, uint32_t baudRate) {
    return Opened(OpenCall{comIndex, baudRate});
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> FakeSerialPorts::OpenNamed(const std::string& name,
                                                                                uint32_t baudRate) {
    return Opened(OpenCall{0, baudRate, name});
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> FakeSerialPorts::Opened(OpenCall call) {
    std::lock_guard<std::mutex> lock(mutex_);
    opens_.push_back(std::move(call));
    if (failure_) return Fail(*failure_);
    auto line = std::make_shared<FakeSerialLine>();
    if (prepare_) prepare_(*line);
    lines_.push_back(line);
    return std::unique_ptr<SerialLine>(std::make_unique<SharedLineHandle>(line));
}

std::vector<FakeSerialPorts::OpenCall> FakeSerialPorts::opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

std::vector<std::shared_ptr<FakeSerialLine>> FakeSerialPorts::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

}  // namespace quorsel::testing
