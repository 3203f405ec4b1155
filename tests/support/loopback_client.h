// Test support: a small TCP client on 127.0.0.1 for talking to a simulated access
// point byte by byte. Every wait is bounded.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorsel::testing {

class LoopbackClient {
public:
    enum class Status { Data, Closed, TimedOut, Failed };

    struct Chunk {
        Status status = Status::Failed;
        std::string bytes;  // what one receive call returned
    };

    LoopbackClient() = default;
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Connects to 127.0.0.1:port.
    bool Connect(uint16_t port);
    bool Send(std::string_view bytes);
    bool Send(const std::vector<uint8_t>& bytes);

    // Bytes that came in earlier receive calls and were not handed out yet come first;
    // otherwise one receive call, waiting at most timeout for it.
    Chunk ReceiveChunk(std::chrono::milliseconds timeout);
    // Bytes up to and including the first end byte; the rest stays buffered. Empty when
    // the client closed, failed or timed out first (lastStatus() tells which).
    std::string ReceiveLine(std::chrono::milliseconds timeout, char end = '\n');
    // Waits until the server closes the connection, discarding what arrives: Closed
    // (or Failed for a reset), or TimedOut.
    Status WaitForClose(std::chrono::milliseconds timeout);

    Status lastStatus() const { return lastStatus_; }
    // Number of receive calls that returned data.
    size_t receivedSegments() const { return segments_; }

    void Close();

private:
    Chunk ReceiveFromSocket(std::chrono::milliseconds timeout);

    int fd_ = -1;
    std::string pending_;
    Status lastStatus_ = Status::Data;
    size_t segments_ = 0;
};

}  // namespace quorsel::testing
