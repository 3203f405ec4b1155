// A select() set holds as many sockets as a search keeps in flight at most; the
// size must be set before the sockets header defines fd_set.
#define FD_SETSIZE 1024

#include "engine/search/probe_network_win32.h"

#include <windows.h>
#include <winsock.h>

#include <climits>
#include <cstring>

#include "engine/search/access_point_search.h"

namespace quorsel {

namespace {

static_assert(FD_SETSIZE >= SEARCH_MAX_JOBS, "a select set must hold every socket of a search");

constexpr WORD SOCKETS_VERSION = MAKEWORD(1, 1);

// Filled field by field (the FD_SET macro's casts are not ours).
void Add(fd_set& set, SOCKET socket) { set.fd_array[set.fd_count++] = socket; }

bool IsIn(const fd_set& set, SOCKET socket) {
    for (u_int i = 0; i < set.fd_count; ++i) {
        if (set.fd_array[i] == socket) return true;
    }
    return false;
}

timeval TimevalOf(std::chrono::milliseconds wait) {
    long long left = wait.count() < 0 ? 0 : wait.count();
    if (left > static_cast<long long>(INT_MAX)) left = INT_MAX;
    timeval value{};
    value.tv_sec = static_cast<long>(left / 1000);
    value.tv_usec = static_cast<long>((left % 1000) * 1000);
    return value;
}

// One non-blocking socket; closed when the connection is destroyed.
class Win32ProbeConnection : public ProbeConnection {
public:
    explicit Win32ProbeConnection(SOCKET socket) : socket_(socket) {}
    ~Win32ProbeConnection() override { ::closesocket(socket_); }
    Win32ProbeConnection(const Win32ProbeConnection&) = delete;
    Win32ProbeConnection& operator=(const Win32ProbeConnection&) = delete;

    SOCKET socket() const { return socket_; }

    // Makes the socket non-blocking and starts the connect; an attempt that ends
    // at once is settled here.
    bool Start(const sockaddr_in& peer) {
        u_long nonBlocking = 1;
        if (::ioctlsocket(socket_, static_cast<long>(FIONBIO), &nonBlocking) != 0) return false;
        if (::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
            state_ = ConnectState::Connected;
        } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            state_ = ConnectState::Failed;
        }
        return true;
    }

    // A failed attempt shows in the exception set, a connected one in the write set.
    ConnectState ConnectResult() override {
        if (state_ != ConnectState::Pending) return state_;
        fd_set writable{};
        fd_set failed{};
        Add(writable, socket_);
        Add(failed, socket_);
        timeval now = TimevalOf(std::chrono::milliseconds{0});
        if (::select(0, nullptr, &writable, &failed, &now) == SOCKET_ERROR) {
            state_ = ConnectState::Failed;
        } else if (IsIn(failed, socket_)) {
            state_ = ConnectState::Failed;
        } else if (IsIn(writable, socket_)) {
            state_ = ConnectState::Connected;
        }
        return state_;
    }

    bool Send(const uint8_t* data, size_t n) override {
        if (n > static_cast<size_t>(INT_MAX)) return false;
        const int sent = ::send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
        return sent != SOCKET_ERROR && static_cast<size_t>(sent) == n;
    }

    ProbeRead Receive(uint8_t* buffer, size_t n) override {
        const int wanted = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
        const int got = ::recv(socket_, reinterpret_cast<char*>(buffer), wanted, 0);
        if (got > 0) return {ProbeReadStatus::Data, static_cast<size_t>(got)};
        if (got == 0) return {ProbeReadStatus::Closed, 0};
        if (::WSAGetLastError() == WSAEWOULDBLOCK) return {ProbeReadStatus::Nothing, 0};
        return {ProbeReadStatus::Failed, 0};
    }

private:
    SOCKET socket_;
    ConnectState state_ = ConnectState::Pending;
};

}  // namespace

Win32ProbeNetwork::Win32ProbeNetwork() {
    WSADATA data{};
    started_ = ::WSAStartup(SOCKETS_VERSION, &data) == 0;
}

Win32ProbeNetwork::~Win32ProbeNetwork() {
    if (started_) ::WSACleanup();
}

std::unique_ptr<ProbeConnection> Win32ProbeNetwork::Connect(const Ipv4Address& address, uint16_t port) {
    if (!started_) return nullptr;
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return nullptr;
    auto connection = std::make_unique<Win32ProbeConnection>(socket);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(port);
    std::memcpy(&peer.sin_addr, address.data(), address.size());
    if (!connection->Start(peer)) return nullptr;
    return connection;
}

bool Win32ProbeNetwork::Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) {
    if (entries.size() > FD_SETSIZE) return false;
    // Three sets of FD_SETSIZE sockets are too large for a thread's stack to take lightly.
    auto readable = std::make_unique<fd_set>();
    auto writable = std::make_unique<fd_set>();
    auto failed = std::make_unique<fd_set>();
    readable->fd_count = writable->fd_count = failed->fd_count = 0;
    for (const ProbeWaitEntry& entry : entries) {
        const SOCKET socket = static_cast<const Win32ProbeConnection*>(entry.connection)->socket();
        if (entry.connecting) {
            Add(*writable, socket);
            Add(*failed, socket);
        } else {
            Add(*readable, socket);
        }
    }
    timeval limit = TimevalOf(wait);
    // Empty sets are passed as none; a search waits on one socket at least.
    const auto orNone = [](const std::unique_ptr<fd_set>& set) { return set->fd_count > 0 ? set.get() : nullptr; };
    if (::select(0, orNone(readable), orNone(writable), orNone(failed), &limit) == SOCKET_ERROR) {
        return false;
    }
    for (ProbeWaitEntry& entry : entries) {
        const SOCKET socket = static_cast<const Win32ProbeConnection*>(entry.connection)->socket();
        entry.ready = entry.connecting ? IsIn(*writable, socket) || IsIn(*failed, socket) : IsIn(*readable, socket);
    }
    return true;
}

std::vector<LocalSubnet> Win32ProbeNetwork::LocalSubnets() { return AdapterSubnets(); }

}  // namespace quorsel
