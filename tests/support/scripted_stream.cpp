#include "tests/support/scripted_stream.h"

#include <algorithm>
#include <cstring>

namespace quorsel::testing {

ScriptedStream& ScriptedStream::Deliver(std::string_view bytes) {
    return Deliver(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

ScriptedStream& ScriptedStream::Deliver(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return *this;  // an empty segment is no event on a TCP stream
    Event event{Kind::Segment, bytes};
    events_.push_back(std::move(event));
    return *this;
}

ScriptedStream& ScriptedStream::DeliverSplit(std::string_view bytes, std::initializer_list<size_t> cuts) {
    size_t from = 0;
    for (size_t cut : cuts) {
        const size_t to = std::min(std::max(cut, from), bytes.size());
        Deliver(bytes.substr(from, to - from));
        from = to;
    }
    return Deliver(bytes.substr(from));
}

ScriptedStream& ScriptedStream::DeliverBytewise(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) Deliver(bytes.substr(i, 1));
    return *this;
}

ScriptedStream& ScriptedStream::EmptyReads(size_t count) {
    if (count == 0) return *this;
    Event event{Kind::Empty, {}};
    event.offset = count;
    events_.push_back(std::move(event));
    return *this;
}

ScriptedStream& ScriptedStream::Close() {
    events_.push_back(Event{Kind::Close, {}});
    return *this;
}

ScriptedStream& ScriptedStream::FallSilent() {
    events_.push_back(Event{Kind::Silence, {}});
    return *this;
}

ScriptedStream& ScriptedStream::Break() {
    events_.push_back(Event{Kind::Break, {}});
    return *this;
}

ScriptedStream& ScriptedStream::PhantomByte(IoStatus onReceive) {
    Event event{Kind::Phantom, {}};
    event.onReceive = onReceive;
    events_.push_back(std::move(event));
    return *this;
}

ScriptedStream& ScriptedStream::AwaitSend() {
    Event event{Kind::Gate, {}};
    event.sendsNeeded = ++gates_;
    events_.push_back(std::move(event));
    return *this;
}

ScriptedStream& ScriptedStream::FailSend(size_t index) {
    failingSends_.push_back(index);
    return *this;
}

std::vector<uint8_t> ScriptedStream::AllSent() const {
    std::vector<uint8_t> all;
    for (const auto& message : sends_) all.insert(all.end(), message.begin(), message.end());
    return all;
}

bool ScriptedStream::Send(const uint8_t* data, size_t n) {
    const size_t index = sends_.size();
    sends_.emplace_back(data, data + n);
    return std::find(failingSends_.begin(), failingSends_.end(), index) == failingSends_.end();
}

IoResult ScriptedStream::Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) {
    const IoResult result = Play(buffer, n, peek);
    receives_.push_back(ReceiveCall{n, peek, timeout, result.status, result.count});
    return result;
}

IoResult ScriptedStream::Play(uint8_t* buffer, size_t n, bool peek) {
    // Satisfied gates are passed; an unsatisfied one keeps the peer quiet.
    while (next_ < events_.size() && events_[next_].kind == Kind::Gate) {
        if (sends_.size() < events_[next_].sendsNeeded) return {IoStatus::TimedOut, 0};
        ++next_;
    }
    if (next_ >= events_.size()) return {IoStatus::TimedOut, 0};

    Event& event = events_[next_];
    switch (event.kind) {
        case Kind::Empty:
            if (--event.offset == 0) ++next_;
            return {IoStatus::Closed, 0};
        case Kind::Close: return {IoStatus::Closed, 0};
        case Kind::Silence: return {IoStatus::TimedOut, 0};
        case Kind::Break: return {IoStatus::Failed, 0};
        case Kind::Phantom:
            if (peek) {
                if (n > 0) buffer[0] = '?';
                return {IoStatus::Data, n > 0 ? size_t{1} : size_t{0}};
            }
            ++next_;
            return {event.onReceive, 0};
        case Kind::Segment: {
            const size_t available = event.bytes.size() - event.offset;
            const size_t count = std::min(n, available);
            if (count == 0) return {IoStatus::Data, 0};
            std::memcpy(buffer, event.bytes.data() + event.offset, count);
            if (!peek) {
                event.offset += count;
                if (event.offset == event.bytes.size()) ++next_;
            }
            return {IoStatus::Data, count};
        }
        case Kind::Gate: break;
    }
    return {IoStatus::Failed, 0};
}

}  // namespace quorsel::testing
