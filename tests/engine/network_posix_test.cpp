#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/posix_network.h"
#include "engine/reply_reader.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;

// Owns one descriptor of the test's own server side.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// A listening TCP socket on 127.0.0.1 with a port the system chose.
class LoopbackServer {
public:
    explicit LoopbackServer(int backlog = 4) : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
        EXPECT_GE(listener_.get(), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_.get(), backlog), 0);
        socklen_t size = sizeof address;
        EXPECT_EQ(::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
        port_ = ntohs(address.sin_port);
    }

    // The peer address as the job holds it: port and address in network byte order.
    PeerAddress Peer() const {
        PeerAddress peer;
        peer.port = {static_cast<uint8_t>(port_ >> 8), static_cast<uint8_t>(port_ & 0xFF)};
        peer.address = {127, 0, 0, 1};
        return peer;
    }
    Fd Accept() { return Fd(::accept(listener_.get(), nullptr, nullptr)); }
    void Stop() { listener_.Reset(); }

private:
    Fd listener_;
    uint16_t port_ = 0;
};

std::string ReadExactly(int fd, size_t n) {
    std::string data;
    char chunk[256];
    while (data.size() < n) {
        const ssize_t got = ::recv(fd, chunk, std::min(sizeof chunk, n - data.size()), 0);
        if (got <= 0) break;
        data.append(chunk, static_cast<size_t>(got));
    }
    return data;
}

void SendText(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

TEST(PosixNetworkTest, LibraryStartsAndReleases) {
    PosixNetwork network;
    EXPECT_TRUE(network.StartLibrary());
    network.ReleaseLibrary();
}

TEST(PosixNetworkTest, ConnectsSendsPeeksAndReceives) {
    LoopbackServer server;
    PosixNetwork network;
    auto stream = network.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Fd ap = server.Accept();
    ASSERT_GE(ap.get(), 0);

    const uint8_t word[] = {'I', 'N', 'Q', 'R'};
    ASSERT_TRUE(stream->Send(word, sizeof word));
    EXPECT_EQ(ReadExactly(ap.get(), 4), "INQR");

    SendText(ap.get(), "KRV0012\n");
    std::vector<uint8_t> buffer(64);
    // A peek leaves the bytes queued: the receive gets them again.
    IoResult peeked{IoStatus::Failed, 0};
    for (int i = 0; i < 100 && (peeked.status != IoStatus::Data || peeked.count < 8); ++i) {
        peeked = stream->Receive(buffer.data(), buffer.size(), true, 2000ms);
    }
    ASSERT_EQ(peeked.status, IoStatus::Data);
    ASSERT_EQ(peeked.count, 8u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 8), "KRV0012\n");
    std::fill(buffer.begin(), buffer.end(), 0);
    const IoResult received = stream->Receive(buffer.data(), buffer.size(), false, 2000ms);
    ASSERT_EQ(received.status, IoStatus::Data);
    ASSERT_EQ(received.count, 8u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 8), "KRV0012\n");
}

TEST(PosixNetworkTest, QuietPeerTimesOutAndClosedPeerReportsClosed) {
    LoopbackServer server;
    PosixNetwork network;
    auto stream = network.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Fd ap = server.Accept();

    uint8_t byte = 0;
    EXPECT_EQ(stream->Receive(&byte, 1, true, 20ms).status, IoStatus::TimedOut);
    EXPECT_EQ(stream->Receive(&byte, 1, false, 20ms).status, IoStatus::TimedOut);

    ap.Reset();
    EXPECT_EQ(stream->Receive(&byte, 1, true, 2000ms).status, IoStatus::Closed);
    EXPECT_EQ(stream->Receive(&byte, 1, false, 2000ms).status, IoStatus::Closed);
}

TEST(PosixNetworkTest, ReplyReaderTakesALineEndedByClose) {
    LoopbackServer server;
    PosixNetwork network;
    auto stream = network.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Fd ap = server.Accept();
    SendText(ap.get(), "OK\r\nS");
    ap.Reset();

    ReplyReader reader(2000ms);
    std::string line;
    ASSERT_EQ(reader.ReadLine(*stream, line), ReadFailure::None);
    EXPECT_EQ(line, "OK\r");
    ASSERT_EQ(reader.ReadLine(*stream, line), ReadFailure::None);
    EXPECT_EQ(line, "S");
    EXPECT_EQ(reader.ReadLine(*stream, line), ReadFailure::Closed);
}

TEST(PosixNetworkTest, SendToAVanishedPeerFailsWithoutKillingTheProcess) {
    LoopbackServer server;
    PosixNetwork network;
    auto stream = network.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    {
        Fd ap = server.Accept();
        const uint8_t word[] = {'F', 'L', 'S', 'H'};
        ASSERT_TRUE(stream->Send(word, sizeof word));
        // Closing with unread data makes the peer's side reset the connection.
    }
    std::vector<uint8_t> block(4096, 0x5A);
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        failed = !stream->Send(block.data(), block.size());
        if (!failed) std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(failed);
}

TEST(PosixNetworkTest, DestroyingTheStreamClosesTheConnection) {
    LoopbackServer server;
    PosixNetwork network;
    auto stream = network.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Fd ap = server.Accept();
    stream.reset();
    char byte = 0;
    EXPECT_EQ(::recv(ap.get(), &byte, 1, 0), 0);
}

TEST(PosixNetworkTest, ClosedPortIsRefused) {
    PeerAddress closed;
    {
        LoopbackServer server;
        closed = server.Peer();
        server.Stop();
    }
    PosixNetwork network;
    EXPECT_EQ(network.Connect(closed, 2000ms), nullptr);
}

TEST(PosixNetworkTest, ConnectThatGetsNoAnswerGivesUpAtItsTimeout) {
    // A listener whose queue is full drops further connection requests, so the
    // client hears nothing back; the connect must end at its timeout.
    LoopbackServer server(0);
    PosixNetwork network;
    std::vector<std::unique_ptr<ByteStream>> queued;
    bool gaveUp = false;
    for (int i = 0; i < 8 && !gaveUp; ++i) {
        auto stream = network.Connect(server.Peer(), 200ms);
        if (stream) {
            queued.push_back(std::move(stream));
        } else {
            gaveUp = true;
        }
    }
    EXPECT_TRUE(gaveUp);
    EXPECT_GE(queued.size(), 1u);
}

}  // namespace
}  // namespace quorsel
