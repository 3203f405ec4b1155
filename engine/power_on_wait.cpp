#include "engine/power_on_wait.h"

#include <utility>

namespace quorsel {

namespace {

constexpr uint8_t WAKE_BYTE = 'X';
constexpr uint8_t READY_BYTE = '*';

}  // namespace

PowerOnWait::PowerOnWait(SerialPorts& ports, uint32_t comIndex, uint32_t baudRate,
                         std::chrono::milliseconds wakeInterval)
    : ports_(ports), comIndex_(comIndex), baudRate_(baudRate), wakeInterval_(wakeInterval) {}

PowerOnWait::PowerOnWait(SerialPorts& ports, std::string portName, uint32_t baudRate,
                         std::chrono::milliseconds wakeInterval)
    : ports_(ports), portName_(std::move(portName)), baudRate_(baudRate), wakeInterval_(wakeInterval) {}

PowerOnWait::~PowerOnWait() {
    Stop();
    std::unique_ptr<SerialLine> line;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        line = std::move(line_);
    }
    if (line) line->Release();
}

void PowerOnWait::Start(std::function<void(PowerOnEvent)> onEvent) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || stopped_) return;
    started_ = true;
    onEvent_ = std::move(onEvent);
    worker_ = std::thread(&PowerOnWait::Work, this);
}

void PowerOnWait::Stop() {
    std::thread worker;
    {
        // Once stopped_ is set no event starts; one already running holds the
        // lock, so this waits for it to end.
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        worker = std::move(worker_);
    }
    wake_.notify_all();
    if (worker.joinable()) worker.join();
}

std::unique_ptr<SerialLine> PowerOnWait::TakeLine() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!answered_) return nullptr;
    return std::move(line_);
}

bool PowerOnWait::Report(PowerOnEvent event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
    if (onEvent_) onEvent_(event);
    return true;
}

void PowerOnWait::Work() {
    auto opened = portName_.empty() ? ports_.Open(comIndex_, baudRate_) : ports_.OpenNamed(portName_, baudRate_);
    if (!opened) {
        // A line that failed to configure has already been released by the opener.
        Report(opened.error() == SerialOpenError::OpenFailed ? PowerOnEvent::OpenFailed
                                                              : PowerOnEvent::SetupFailed);
        return;
    }
    std::unique_ptr<SerialLine> line = std::move(opened.value());

    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopped_) {
        lock.unlock();
        static_cast<void>(line->WriteByte(WAKE_BYTE));  // a lost "X" is made up by the next pass
        lock.lock();
        if (wake_.wait_for(lock, wakeInterval_, [this] { return stopped_; })) break;
        lock.unlock();
        std::optional<uint8_t> byte = line->PollByte();
        lock.lock();
        if (byte && *byte == READY_BYTE && !stopped_) {
            // The line changes hands before the event announces it; from here on
            // the worker does not touch it again.
            answered_ = true;
            line_ = std::move(line);
            if (onEvent_) onEvent_(PowerOnEvent::Answered);
            return;
        }
        // Any other byte (boot text, noise) is dropped; the wake-up goes on.
    }
    lock.unlock();
    // The prompt ended without an answer: this worker's line is released here.
    line->Release();
}

}  // namespace quorsel
