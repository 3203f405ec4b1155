// The loopback test client through POSIX sockets and poll.
#include "tests/support/loopback_client.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorsel::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t RECEIVE_CHUNK = 65536;

}  // namespace

LoopbackClient::~LoopbackClient() { Close(); }

void LoopbackClient::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool LoopbackClient::Connect(uint16_t port) {
    Close();
    pending_.clear();
    segments_ = 0;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd_ < 0) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        Close();
        return false;
    }
    return true;
}

bool LoopbackClient::Send(std::string_view bytes) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t sent = ::send(fd_, data, left, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        left -= static_cast<size_t>(sent);
    }
    return true;
}

bool LoopbackClient::Send(const std::vector<uint8_t>& bytes) {
    return Send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

LoopbackClient::Chunk LoopbackClient::ReceiveFromSocket(std::chrono::milliseconds timeout) {
    Chunk chunk;
    if (fd_ < 0) return chunk;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd_, POLLIN, 0};
        int ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return chunk;
        if (ready == 0) {
            chunk.status = Status::TimedOut;
            return chunk;
        }
        std::string buffer(RECEIVE_CHUNK, '\0');
        ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return chunk;
        if (n == 0) {
            chunk.status = Status::Closed;
            return chunk;
        }
        buffer.resize(static_cast<size_t>(n));
        ++segments_;
        chunk.status = Status::Data;
        chunk.bytes = std::move(buffer);
        return chunk;
    }
}

LoopbackClient::Chunk LoopbackClient::ReceiveChunk(std::chrono::milliseconds timeout) {
    if (!pending_.empty()) {
        Chunk chunk{Status::Data, std::move(pending_)};
        pending_.clear();
        lastStatus_ = Status::Data;
        return chunk;
    }
    Chunk chunk = ReceiveFromSocket(timeout);
    lastStatus_ = chunk.status;
    return chunk;
}

std::string LoopbackClient::ReceiveLine(std::chrono::milliseconds timeout, char end) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t at = pending_.find(end);
        if (at != std::string::npos) {
            std::string line = pending_.substr(0, at + 1);
            pending_.erase(0, at + 1);
            lastStatus_ = Status::Data;
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        Chunk chunk = ReceiveFromSocket(left.count() > 0 ? left : std::chrono::milliseconds(0));
        if (chunk.status != Status::Data) {
            lastStatus_ = chunk.status;
            return {};
        }
        pending_ += chunk.bytes;
    }
}

LoopbackClient::Status LoopbackClient::WaitForClose(std::chrono::milliseconds timeout) {
    pending_.clear();
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        Chunk chunk = ReceiveFromSocket(left.count() > 0 ? left : std::chrono::milliseconds(0));
        if (chunk.status != Status::Data) {
            lastStatus_ = chunk.status;
            return chunk.status;
        }
    }
}

}  // namespace quorsel::testing
