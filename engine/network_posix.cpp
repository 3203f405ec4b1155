#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "engine/limits.h"
#include "engine/receive_look_ahead.h"
#include "engine/posix_network.h"

namespace quorsel {

namespace {

using Clock = std::chrono::steady_clock;

int PollMilliseconds(std::chrono::milliseconds wait) {
    if (wait.count() <= 0) return 0;
    if (wait.count() >= INT_MAX) return INT_MAX;
    return static_cast<int>(wait.count());
}

// Waits until fd reports one of events or the deadline passes. 1: ready, 0: timed
// out, -1: poll failed. Signals that interrupt the wait do not extend it.
int WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, PollMilliseconds(left));
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

bool SetNonBlocking(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, wanted) == 0;
}

// Owns one connected socket and closes it exactly once. A receive is one blocking
// recv bounded by SO_RCVTIMEO (set again only when the bound changes), and a peek
// takes the bytes off the socket into the stream's own look-ahead, from which the
// receive that follows is served: one system call per reply instead of four.
class PosixTcpStream : public ByteStream {
public:
    explicit PosixTcpStream(int fd) : fd_(fd) {}
    ~PosixTcpStream() override { ::close(fd_); }
    PosixTcpStream(const PosixTcpStream&) = delete;
    PosixTcpStream& operator=(const PosixTcpStream&) = delete;

    bool Send(const uint8_t* data, size_t n) override {
        ssize_t sent;
        do {
            sent = ::send(fd_, data, n, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent >= 0 && static_cast<size_t>(sent) == n;
    }

    IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) override {
        return ahead_.Receive(buffer, n, peek,
                              [&](uint8_t* into, size_t wanted) { return ReceiveFromSocket(into, wanted, timeout); });
    }

private:
    // Waits at most timeout for data; signals that interrupt the wait do not extend it.
    IoResult ReceiveFromSocket(uint8_t* buffer, size_t n, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        std::chrono::milliseconds wait = timeout;
        for (;;) {
            int flags = 0;
            if (wait.count() <= 0) {
                flags = MSG_DONTWAIT;  // a zero SO_RCVTIMEO would mean no bound at all
            } else if (!SetReceiveWait(wait)) {
                return {IoStatus::Failed, 0};
            }
            const ssize_t got = ::recv(fd_, buffer, n, flags);
            if (got > 0) return {IoStatus::Data, static_cast<size_t>(got)};
            if (got == 0) return {IoStatus::Closed, 0};
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::TimedOut, 0};
            if (errno != EINTR) return {IoStatus::Failed, 0};
            wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (wait.count() <= 0) return {IoStatus::TimedOut, 0};
        }
    }

    bool SetReceiveWait(std::chrono::milliseconds wait) {
        if (wait == receiveWait_) return true;
        timeval limit{};
        limit.tv_sec = static_cast<time_t>(wait.count() / 1000);
        limit.tv_usec = static_cast<suseconds_t>((wait.count() % 1000) * 1000);
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
        receiveWait_ = wait;
        return true;
    }

    int fd_;
    std::chrono::milliseconds receiveWait_{0};  // the SO_RCVTIMEO set; 0: none yet
    ReceiveLookAhead ahead_;
};

// Owns a socket until it is handed to a stream.
class SocketGuard {
public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    ~SocketGuard() { if (fd_ >= 0) ::close(fd_); }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int get() const { return fd_; }
    int Release() { const int fd = fd_; fd_ = -1; return fd; }

private:
    int fd_;
};

}  // namespace

bool PosixNetwork::StartLibrary() { return true; }

void PosixNetwork::ReleaseLibrary() {}

std::unique_ptr<ByteStream> PosixNetwork::Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) {
    SocketGuard socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (socket.get() < 0) return nullptr;

    // Port and address are already in network byte order: copied as they are.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_port, peer.port.data(), peer.port.size());
    std::memcpy(&address.sin_addr, peer.address.data(), peer.address.size());

    // Connect without blocking so the attempt can be bounded, then go back to
    // blocking calls for the exchange.
    if (!SetNonBlocking(socket.get(), true)) return nullptr;
    const auto deadline = Clock::now() + timeout;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return nullptr;
        if (WaitFor(socket.get(), POLLOUT, deadline) != 1) return nullptr;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return nullptr;
    }
    if (!SetNonBlocking(socket.get(), false)) return nullptr;

    // A send waits for room in the socket buffer at most this long.
    timeval sendWait{};
    sendWait.tv_sec = static_cast<time_t>(LAN_SEND_TIMEOUT.count() / 1000);
    sendWait.tv_usec = static_cast<suseconds_t>((LAN_SEND_TIMEOUT.count() % 1000) * 1000);
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait) != 0) return nullptr;

    return std::make_unique<PosixTcpStream>(socket.Release());
}

}  // namespace quorsel
