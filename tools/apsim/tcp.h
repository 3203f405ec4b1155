// The simulator's TCP endpoints: a listening socket and accepted connections. Every
// wait is bounded and ends early on a stop request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "common/result.h"

namespace quorsel::apsim {

enum class RecvStatus {
    Done,      // all requested bytes arrived
    Closed,    // the client closed its side first
    TimedOut,  // nothing arrived within the wait
    Stopped,   // a stop signal came in
    Failed,    // the socket reported an error (for example a reset)
};

const char* DescribeRecvStatus(RecvStatus status);

// One accepted connection; its socket is closed exactly once.
class TcpConnection {
public:
    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;
    ~TcpConnection();

    // "address:port" of the client.
    const std::string& peer() const { return peer_; }

    // Receives exactly n bytes; gives up when nothing arrives for idle.
    RecvStatus ReceiveExact(uint8_t* buffer, size_t n, std::chrono::milliseconds idle);
    // Sends all n bytes; false when the client is gone.
    bool Send(const uint8_t* data, size_t n);
    // Sends every segment at once (no Nagle delay).
    bool SetNoDelay();
    // Bounds each send: a client that stops reading cannot block the simulator.
    bool SetSendTimeout(std::chrono::milliseconds timeout);
    // Reads and discards until the client closes, limit passes or a stop comes in.
    RecvStatus DiscardUntilClosed(std::chrono::milliseconds limit);

    // Closes at once; data the client still sends may turn the close into a reset.
    void Close();
    // Ends the sending side, discards what the client still sends for at most
    // drainLimit, then closes; the replies already sent reach the client.
    void CloseGracefully(std::chrono::milliseconds drainLimit);

private:
    friend class TcpListener;
    TcpConnection(int fd, std::string peer) : fd_(fd), peer_(std::move(peer)) {}

    int fd_ = -1;
    std::string peer_;
};

class TcpListener {
public:
    // Listens on an IPv4 address and port (0: a free port) with address reuse.
    static Result<TcpListener, std::string> Open(const std::string& address, uint16_t port);

    TcpListener(TcpListener&& other) noexcept;
    TcpListener& operator=(TcpListener&& other) noexcept;
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    ~TcpListener();

    uint16_t port() const { return port_; }

    // Waits for the next client. Empty when a stop came in or accepting failed for good
    // (failed() tells which).
    std::optional<TcpConnection> Accept();
    // Waits at most wait for a client to be pending; false when none came, a stop came
    // in or the wait failed (failed() tells).
    bool WaitForClient(std::chrono::milliseconds wait);
    // Stops listening (connects are refused) for pause, then listens again on the same
    // address and port. False when a stop came in meanwhile or listening again failed
    // (the error, also in failed()).
    Result<bool, std::string> Suspend(std::chrono::milliseconds pause);
    bool failed() const { return failed_; }

private:
    TcpListener(int fd, uint16_t port) : fd_(fd), port_(port) {}
    void Close();

    int fd_ = -1;
    uint16_t port_ = 0;
    std::string address_;
    bool failed_ = false;
};

}  // namespace quorsel::apsim
