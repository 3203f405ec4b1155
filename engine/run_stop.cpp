#include "engine/run_stop.h"

#include <algorithm>

namespace quorsel {

void RunStopSwitch::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
    }
    changed_.notify_all();
}

void RunStopSwitch::SetBusy(bool busy) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = busy;
    }
    changed_.notify_all();
}

bool RunStopSwitch::StopRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

bool RunStopSwitch::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_;
}

bool RunStopSwitch::StopNow() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_ && !busy_;
}

void RunStopSwitch::Sleep(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, pause, [this] { return requested_ && !busy_; });
}

void InquiryTap::Add(const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < n && !complete_; ++i) {
        if (bytes[i] == '\n' || bytes[i] == '\0') {
            complete_ = true;
        } else {
            line_ += static_cast<char>(bytes[i]);
        }
    }
}

std::string InquiryTap::Line() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return line_;
}

bool InquiryTap::Complete() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return complete_;
}

namespace {

using Clock = std::chrono::steady_clock;

class StoppableStream : public ByteStream {
public:
    StoppableStream(std::unique_ptr<ByteStream> inner, const RunStopSwitch& stop, InquiryTap* tap)
        : inner_(std::move(inner)), stop_(stop), tap_(tap) {}

    bool Send(const uint8_t* data, size_t n) override {
        if (stop_.StopNow()) return false;
        return inner_->Send(data, n);
    }

    IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) override {
        auto deadline = Clock::now() + timeout;
        bool stopped = false;
        for (;;) {
            if (!stopped && stop_.StopNow()) {
                // A reply already on its way is still taken (the header's "OK" makes
                // the access point busy); the wait ends within the grace.
                stopped = true;
                deadline = std::min(deadline, Clock::now() + STOP_REPLY_GRACE);
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const auto slice = std::clamp(left, std::chrono::milliseconds{0}, STOP_CHECK_INTERVAL);
            const IoResult result = inner_->Receive(buffer, n, peek, slice);
            if (result.status != IoStatus::TimedOut) {
                if (tap_ != nullptr && !peek && result.status == IoStatus::Data) tap_->Add(buffer, result.count);
                return result;
            }
            if (Clock::now() >= deadline) return stopped ? IoResult{IoStatus::Failed, 0} : result;
        }
    }

private:
    std::unique_ptr<ByteStream> inner_;
    const RunStopSwitch& stop_;
    InquiryTap* tap_;
};

}  // namespace

std::unique_ptr<ByteStream> StoppableNetwork::Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) {
    if (stop_.StopNow()) return nullptr;
    std::unique_ptr<ByteStream> stream = inner_.Connect(peer, timeout);
    if (!stream) return nullptr;
    InquiryTap* tap = firstConnection_ ? tap_ : nullptr;
    firstConnection_ = false;
    return std::make_unique<StoppableStream>(std::move(stream), stop_, tap);
}

}  // namespace quorsel
