// TCP endpoints through POSIX sockets and poll.
#include "tools/apsim/tcp.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "tools/apsim/sim_limits.h"
#include "tools/apsim/stop_signal.h"

namespace quorsel::apsim {

namespace {

using Clock = std::chrono::steady_clock;

enum class WaitOutcome { Readable, TimedOut, Stopped, Failed };

// Waits until fd is readable or deadline passes, in slices short enough to notice a stop.
WaitOutcome WaitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        if (StopRequested()) return WaitOutcome::Stopped;
        const auto now = Clock::now();
        if (now >= deadline) return WaitOutcome::TimedOut;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const auto slice = std::min(left + std::chrono::milliseconds(1), STOP_POLL_SLICE);
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(slice.count()));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return WaitOutcome::Failed;
        }
        if (ready > 0) return WaitOutcome::Readable;
    }
}

std::string PeerText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

const char* DescribeRecvStatus(RecvStatus status) {
    switch (status) {
        case RecvStatus::Done: return "done";
        case RecvStatus::Closed: return "client closed the connection";
        case RecvStatus::TimedOut: return "client sent nothing within the idle time";
        case RecvStatus::Stopped: return "stop requested";
        case RecvStatus::Failed: return "connection failed";
    }
    return "?";
}

// --- TcpConnection ---

TcpConnection::TcpConnection(TcpConnection&& other) noexcept : fd_(other.fd_), peer_(std::move(other.peer_)) {
    other.fd_ = -1;
}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        peer_ = std::move(other.peer_);
        other.fd_ = -1;
    }
    return *this;
}

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RecvStatus TcpConnection::ReceiveExact(uint8_t* buffer, size_t n, std::chrono::milliseconds idle) {
    size_t got = 0;
    while (got < n) {
        switch (WaitReadable(fd_, Clock::now() + idle)) {
            case WaitOutcome::Readable: break;
            case WaitOutcome::TimedOut: return RecvStatus::TimedOut;
            case WaitOutcome::Stopped: return RecvStatus::Stopped;
            case WaitOutcome::Failed: return RecvStatus::Failed;
        }
        ssize_t count = ::recv(fd_, buffer + got, n - got, 0);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return RecvStatus::Failed;
        }
        if (count == 0) return RecvStatus::Closed;
        got += static_cast<size_t>(count);
    }
    return RecvStatus::Done;
}

bool TcpConnection::Send(const uint8_t* data, size_t n) {
    while (n > 0) {
        ssize_t sent = ::send(fd_, data, n, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

bool TcpConnection::SetNoDelay() {
    int on = 1;
    return ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool TcpConnection::SetSendTimeout(std::chrono::milliseconds timeout) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

RecvStatus TcpConnection::DiscardUntilClosed(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::array<uint8_t, 4096> scratch;
    for (;;) {
        switch (WaitReadable(fd_, deadline)) {
            case WaitOutcome::Readable: break;
            case WaitOutcome::TimedOut: return RecvStatus::TimedOut;
            case WaitOutcome::Stopped: return RecvStatus::Stopped;
            case WaitOutcome::Failed: return RecvStatus::Failed;
        }
        ssize_t count = ::recv(fd_, scratch.data(), scratch.size(), 0);
        if (count == 0) return RecvStatus::Closed;
        if (count < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return RecvStatus::Failed;
    }
}

void TcpConnection::CloseGracefully(std::chrono::milliseconds drainLimit) {
    if (fd_ < 0) return;
    if (::shutdown(fd_, SHUT_WR) == 0) DiscardUntilClosed(drainLimit);
    Close();
}

// --- TcpListener ---

Result<TcpListener, std::string> TcpListener::Open(const std::string& address, uint16_t port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        return Fail("not an IPv4 address: " + address);
    }

    // Non-blocking, so an accept after a client gave up cannot hang.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0) return Fail(ErrnoText("cannot create socket"));
    // From here on the listener owns fd, so every early return closes it.
    TcpListener listener(fd, port);

    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return Fail(ErrnoText("cannot set SO_REUSEADDR"));
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return Fail(ErrnoText("cannot bind " + address + ":" + std::to_string(port)));
    }
    if (::listen(fd, LISTEN_BACKLOG) != 0) return Fail(ErrnoText("cannot listen"));

    sockaddr_in bound{};
    socklen_t boundSize = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) {
        return Fail(ErrnoText("cannot read the bound port"));
    }
    listener.port_ = ntohs(bound.sin_port);
    listener.address_ = address;
    return listener;
}

TcpListener::TcpListener(TcpListener&& other) noexcept
    : fd_(other.fd_), port_(other.port_), address_(std::move(other.address_)), failed_(other.failed_) {
    other.fd_ = -1;
}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        port_ = other.port_;
        address_ = std::move(other.address_);
        failed_ = other.failed_;
        other.fd_ = -1;
    }
    return *this;
}

TcpListener::~TcpListener() { Close(); }

void TcpListener::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<TcpConnection> TcpListener::Accept() {
    for (;;) {
        switch (WaitReadable(fd_, Clock::time_point::max())) {
            case WaitOutcome::Readable: break;
            case WaitOutcome::Stopped: return std::nullopt;
            case WaitOutcome::TimedOut:
            case WaitOutcome::Failed: failed_ = true; return std::nullopt;
        }
        sockaddr_in remote{};
        socklen_t remoteSize = sizeof remote;
        int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&remote), &remoteSize, SOCK_CLOEXEC);
        if (fd >= 0) return TcpConnection(fd, PeerText(remote));
        // A client that gave up before it was accepted, or an interruption: wait again.
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EWOULDBLOCK ||
            errno == EPROTO) {
            continue;
        }
        failed_ = true;
        return std::nullopt;
    }
}

bool TcpListener::WaitForClient(std::chrono::milliseconds wait) {
    switch (WaitReadable(fd_, Clock::now() + wait)) {
        case WaitOutcome::Readable: return true;
        case WaitOutcome::TimedOut:
        case WaitOutcome::Stopped: return false;
        case WaitOutcome::Failed: failed_ = true; return false;
    }
    return false;
}

Result<bool, std::string> TcpListener::Suspend(std::chrono::milliseconds pause) {
    Close();
    const auto until = Clock::now() + pause;
    while (!StopRequested() && Clock::now() < until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        std::this_thread::sleep_for(std::min(left + std::chrono::milliseconds(1), STOP_POLL_SLICE));
    }
    if (StopRequested()) return false;
    auto reopened = Open(address_, port_);
    if (!reopened) {
        failed_ = true;
        return Fail(reopened.error());
    }
    *this = std::move(reopened.value());
    return true;
}

}  // namespace quorsel::apsim
