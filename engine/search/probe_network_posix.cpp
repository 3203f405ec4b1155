#include "engine/search/probe_network_posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace quorsel {

namespace {

// One non-blocking socket; closed when the connection is destroyed.
class PosixProbeConnection : public ProbeConnection {
public:
    explicit PosixProbeConnection(int fd) : fd_(fd) {}
    ~PosixProbeConnection() override { ::close(fd_); }
    PosixProbeConnection(const PosixProbeConnection&) = delete;
    PosixProbeConnection& operator=(const PosixProbeConnection&) = delete;

    int fd() const { return fd_; }

    // Starts the connect; an attempt that ends at once is settled here.
    void Start(const sockaddr_in& peer) {
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
            state_ = ConnectState::Connected;
        } else if (errno != EINPROGRESS && errno != EINTR) {
            state_ = ConnectState::Failed;
        }
    }

    ConnectState ConnectResult() override {
        if (state_ != ConnectState::Pending) return state_;
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, 0) == 0) return state_;
        int error = 0;
        socklen_t size = sizeof error;
        const bool ok = ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0 &&
                        (entry.revents & (POLLERR | POLLHUP)) == 0;
        state_ = ok ? ConnectState::Connected : ConnectState::Failed;
        return state_;
    }

    bool Send(const uint8_t* data, size_t n) override {
        ssize_t sent;
        do {
            sent = ::send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (sent < 0 && errno == EINTR);
        return sent >= 0 && static_cast<size_t>(sent) == n;
    }

    ProbeRead Receive(uint8_t* buffer, size_t n) override {
        ssize_t got;
        do {
            got = ::recv(fd_, buffer, n, MSG_DONTWAIT);
        } while (got < 0 && errno == EINTR);
        if (got > 0) return {ProbeReadStatus::Data, static_cast<size_t>(got)};
        if (got == 0) return {ProbeReadStatus::Closed, 0};
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {ProbeReadStatus::Nothing, 0};
        return {ProbeReadStatus::Failed, 0};
    }

private:
    int fd_;
    ConnectState state_ = ConnectState::Pending;
};

}  // namespace

std::unique_ptr<ProbeConnection> PosixProbeNetwork::Connect(const Ipv4Address& address, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return nullptr;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    std::memcpy(&peer.sin_addr, address.data(), address.size());
    auto connection = std::make_unique<PosixProbeConnection>(fd);
    connection->Start(peer);
    return connection;
}

bool PosixProbeNetwork::Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) {
    std::vector<pollfd> watched;
    watched.reserve(entries.size());
    for (const ProbeWaitEntry& entry : entries) {
        const auto* connection = static_cast<const PosixProbeConnection*>(entry.connection);
        watched.push_back({connection->fd(), static_cast<short>(entry.connecting ? POLLOUT : POLLIN), 0});
    }
    const int timeout = wait.count() <= 0 ? 0 : wait.count() >= INT_MAX ? INT_MAX : static_cast<int>(wait.count());
    int ready;
    do {
        ready = ::poll(watched.data(), watched.size(), timeout);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return false;
    for (size_t i = 0; i < entries.size(); ++i) entries[i].ready = watched[i].revents != 0;
    return true;
}

std::vector<LocalSubnet> PosixProbeNetwork::LocalSubnets() {
    std::vector<LocalSubnet> subnets;
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0) return subnets;
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> list(first, &::freeifaddrs);
    for (const ifaddrs* item = list.get(); item != nullptr; item = item->ifa_next) {
        if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) continue;
        if ((item->ifa_flags & IFF_UP) == 0 || (item->ifa_flags & IFF_LOOPBACK) != 0) continue;
        LocalSubnet subnet;
        sockaddr_in address{};
        std::memcpy(&address, item->ifa_addr, sizeof address);
        std::memcpy(subnet.address.data(), &address.sin_addr, subnet.address.size());
        if (item->ifa_netmask != nullptr) {
            sockaddr_in mask{};
            std::memcpy(&mask, item->ifa_netmask, sizeof mask);
            subnet.prefixLength = static_cast<unsigned>(std::popcount(ntohl(mask.sin_addr.s_addr)));
        }
        subnets.push_back(subnet);
    }
    return subnets;
}

}  // namespace quorsel
