// A scripted peer for code that talks over a ByteStream: the test lists what the
// peer does, in order, and the stream plays it back while recording every send.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_stream.h"

namespace quorsel::testing {

class ScriptedStream : public ByteStream {
public:
    // One Receive call as the stream saw it.
    struct ReceiveCall {
        size_t size;
        bool peek;
        std::chrono::milliseconds timeout;
        IoStatus status;
        size_t count;
    };

    // --- The script; each call appends events and returns *this for chaining. ---

    // One segment: a peek or receive sees at most these bytes.
    ScriptedStream& Deliver(std::string_view bytes);
    ScriptedStream& Deliver(const std::vector<uint8_t>& bytes);
    // The same bytes cut into segments at the given offsets (ascending, inside bytes).
    ScriptedStream& DeliverSplit(std::string_view bytes, std::initializer_list<size_t> cuts);
    // The same bytes, one segment per byte.
    ScriptedStream& DeliverBytewise(std::string_view bytes);
    // The peer closes its side: every later peek or receive reports Closed.
    ScriptedStream& Close();
    // The next `count` peeks or receives report Closed (zero bytes), then the script
    // goes on; models a socket layer that reports empty reads without the data ending.
    ScriptedStream& EmptyReads(size_t count);
    // The peer stays connected but says nothing more: every later read times out.
    ScriptedStream& FallSilent();
    // The connection breaks: every later read reports Failed.
    ScriptedStream& Break();
    // A peek reports one byte, but the receive that follows reports `onReceive`
    // (Closed, TimedOut or Failed) and the byte is gone.
    ScriptedStream& PhantomByte(IoStatus onReceive);
    // Later events wait until the stream has been given one more Send than the
    // previous gate waited for: the peer answers only what it was sent. Until then
    // reads time out.
    ScriptedStream& AwaitSend();
    // Send number `index` (0-based) reports failure; the bytes are recorded anyway.
    ScriptedStream& FailSend(size_t index);

    // --- What happened. ---

    // Every Send call's bytes, in order, failed ones included.
    const std::vector<std::vector<uint8_t>>& sends() const { return sends_; }
    // All bytes sent, concatenated.
    std::vector<uint8_t> AllSent() const;
    const std::vector<ReceiveCall>& receives() const { return receives_; }
    // True when every event of the script has been played.
    bool ScriptFinished() const { return next_ >= events_.size(); }

    // ByteStream
    bool Send(const uint8_t* data, size_t n) override;
    IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) override;

private:
    enum class Kind { Segment, Empty, Close, Silence, Break, Phantom, Gate };
    struct Event {
        Kind kind;
        std::vector<uint8_t> bytes;    // Segment
        size_t offset = 0;             // Segment: bytes already received; Empty: reads left
        IoStatus onReceive = IoStatus::Failed;  // Phantom
        size_t sendsNeeded = 0;        // Gate
    };

    IoResult Play(uint8_t* buffer, size_t n, bool peek);

    std::vector<Event> events_;
    size_t next_ = 0;
    size_t gates_ = 0;
    std::vector<size_t> failingSends_;
    std::vector<std::vector<uint8_t>> sends_;
    std::vector<ReceiveCall> receives_;
};

}  // namespace quorsel::testing
