// A connected byte stream to the access point (a TCP connection in the product,
// a scripted peer in tests).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorsel {

enum class IoStatus {
    Data,      // count > 0 bytes peeked or received
    Closed,    // a zero-byte read: the peer's data has ended
    TimedOut,  // nothing arrived within the wait
    Failed,    // the call reported an error
};

struct IoResult {
    IoStatus status;
    size_t count;
};

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Sends all n bytes in one call; false when the call fails or sends fewer.
    virtual bool Send(const uint8_t* data, size_t n) = 0;
    // Waits at most timeout for something to read, then peeks (leaving the bytes
    // queued) or receives up to n bytes.
    virtual IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) = 0;
};

}  // namespace quorsel
