// TCP connections through Windows Sockets 1.1. The sockets are blocking for the
// exchange; every wait is bounded all the same: connect waits in select(), each read
// is one recv bounded by SO_RCVTIMEO, and a send that finds no room gives up after
// LAN_SEND_TIMEOUT (SO_SNDTIMEO, set once per connection).
#include "engine/network_win32.h"

#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "engine/limits.h"
#include "engine/receive_look_ahead.h"

namespace quorsel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr WORD SOCKETS_VERSION = MAKEWORD(1, 1);

// A one-socket set, filled field by field (the FD_SET macro's casts are not ours).
fd_set SetOf(SOCKET socket) {
    fd_set set;
    set.fd_count = 1;
    set.fd_array[0] = socket;
    return set;
}

bool IsIn(const fd_set& set, SOCKET socket) {
    for (u_int i = 0; i < set.fd_count; ++i) {
        if (set.fd_array[i] == socket) return true;
    }
    return false;
}

timeval TimevalUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    if (left > static_cast<long long>(INT_MAX) * 1000LL) left = static_cast<long long>(INT_MAX) * 1000LL;
    timeval wait{};
    wait.tv_sec = static_cast<long>(left / 1000);
    wait.tv_usec = static_cast<long>((left % 1000) * 1000);
    return wait;
}

bool SetNonBlocking(SOCKET socket, bool on) {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(socket, static_cast<long>(FIONBIO), &mode) == 0;
}

// The receive bound for SO_RCVTIMEO, in milliseconds: 0 would mean no bound at all,
// so a wait shorter than a millisecond becomes one.
DWORD ReceiveWaitOf(std::chrono::milliseconds timeout) {
    const auto ms = timeout.count();
    if (ms < 1) return 1;
    if (ms >= static_cast<long long>(MAXDWORD)) return MAXDWORD - 1;
    return static_cast<DWORD>(ms);
}

// Owns one connected socket and closes it exactly once. A read is one recv, bounded
// by SO_RCVTIMEO; the option is set again only when the bound changes (the reply
// waits of one range share theirs). A peek takes the bytes off the socket into the
// stream's own look-ahead, from which the receive that follows is served, so a reply
// costs one call (under Wine every call is a round trip to its server). After a recv
// that timed out, Windows leaves the connection in an undefined state: the stream
// then refuses every further call, and the run, which ends at a timed-out read
// anyway, closes it.
class Win32TcpStream : public ByteStream {
public:
    explicit Win32TcpStream(SOCKET socket) : socket_(socket) {}
    ~Win32TcpStream() override { ::closesocket(socket_); }
    Win32TcpStream(const Win32TcpStream&) = delete;
    Win32TcpStream& operator=(const Win32TcpStream&) = delete;

    bool Send(const uint8_t* data, size_t n) override {
        if (timedOut_ || n > static_cast<size_t>(INT_MAX)) return false;
        const int sent = ::send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
        return sent != SOCKET_ERROR && static_cast<size_t>(sent) == n;
    }

    IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) override {
        return ahead_.Receive(buffer, n, peek,
                              [&](uint8_t* into, size_t wanted) { return ReceiveFromSocket(into, wanted, timeout); });
    }

private:
    IoResult ReceiveFromSocket(uint8_t* buffer, size_t n, std::chrono::milliseconds timeout) {
        if (timedOut_ || !UseReceiveWait(ReceiveWaitOf(timeout))) return {IoStatus::Failed, 0};
        const int wanted = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
        const int got = ::recv(socket_, reinterpret_cast<char*>(buffer), wanted, 0);
        if (got == SOCKET_ERROR) {
            if (::WSAGetLastError() != WSAETIMEDOUT) return {IoStatus::Failed, 0};
            timedOut_ = true;
            return {IoStatus::TimedOut, 0};
        }
        if (got == 0) return {IoStatus::Closed, 0};
        return {IoStatus::Data, static_cast<size_t>(got)};
    }

    bool UseReceiveWait(DWORD wait) {
        if (wait == receiveWait_) return true;
        if (::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait) != 0) {
            return false;
        }
        receiveWait_ = wait;
        return true;
    }

    SOCKET socket_;
    DWORD receiveWait_ = 0;  // 0: not set yet (the socket's own default, no bound)
    bool timedOut_ = false;
    ReceiveLookAhead ahead_;
};

// Owns a socket until it is handed to a stream.
class SocketGuard {
public:
    explicit SocketGuard(SOCKET socket) : socket_(socket) {}
    ~SocketGuard() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    SOCKET get() const { return socket_; }
    SOCKET Release() {
        const SOCKET socket = socket_;
        socket_ = INVALID_SOCKET;
        return socket;
    }

private:
    SOCKET socket_;
};

}  // namespace

bool Win32Network::StartLibrary() {
    WSADATA data{};
    if (::WSAStartup(SOCKETS_VERSION, &data) != 0) return false;
    if (data.wVersion != SOCKETS_VERSION) {
        ::WSACleanup();
        return false;
    }
    return true;
}

void Win32Network::ReleaseLibrary() { ::WSACleanup(); }

std::unique_ptr<ByteStream> Win32Network::Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) {
    SocketGuard socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (socket.get() == INVALID_SOCKET) return nullptr;

    // Port and address are already in network byte order: copied as they are.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_port, peer.port.data(), peer.port.size());
    std::memcpy(&address.sin_addr, peer.address.data(), peer.address.size());

    // Connect without blocking so the attempt can be bounded, then go back to
    // blocking calls for the exchange. A refused or failed attempt shows in the
    // exception set, a completed one in the write set.
    if (!SetNonBlocking(socket.get(), true)) return nullptr;
    const auto deadline = Clock::now() + timeout;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return nullptr;
        fd_set writable = SetOf(socket.get());
        fd_set failed = SetOf(socket.get());
        timeval wait = TimevalUntil(deadline);
        const int ready = ::select(0, nullptr, &writable, &failed, &wait);
        if (ready == SOCKET_ERROR || ready == 0) return nullptr;
        if (IsIn(failed, socket.get()) || !IsIn(writable, socket.get())) return nullptr;
        int error = 0;
        int size = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
            error != 0) {
            return nullptr;
        }
    }
    if (!SetNonBlocking(socket.get(), false)) return nullptr;

    // A send waits for room in the socket buffer at most this long (milliseconds).
    const DWORD sendWait = static_cast<DWORD>(LAN_SEND_TIMEOUT.count());
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendWait),
                     sizeof sendWait) != 0) {
        return nullptr;
    }
    return std::make_unique<Win32TcpStream>(socket.Release());
}

}  // namespace quorsel
