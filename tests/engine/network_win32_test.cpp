// Windows Sockets 1.1 streams over loopback: the test holds the server side and
// plays the access point.
#include "engine/network_win32.h"

#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>


namespace quorsel {
namespace {

using namespace std::chrono_literals;

// Holds one start of the sockets library for the test's own server side.
class Win32NetworkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(network_.StartLibrary()); }
    void TearDown() override { network_.ReleaseLibrary(); }
    Win32Network network_;
};

// Owns one socket of the test's server side.
class Socket {
public:
    explicit Socket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
    ~Socket() { Reset(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return socket_; }
    void Reset() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

private:
    SOCKET socket_;
};

// A listening TCP socket on 127.0.0.1 with a port the system chose.
class LoopbackServer {
public:
    LoopbackServer() : listener_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        EXPECT_NE(listener_.get(), INVALID_SOCKET);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_.get(), 4), 0);
        int size = sizeof address;
        EXPECT_EQ(::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
        port_ = ntohs(address.sin_port);
    }
    PeerAddress Peer() const {
        PeerAddress peer;
        peer.port = {static_cast<uint8_t>(port_ >> 8), static_cast<uint8_t>(port_ & 0xFF)};
        peer.address = {127, 0, 0, 1};
        return peer;
    }
    SOCKET Accept() { return ::accept(listener_.get(), nullptr, nullptr); }
    void Stop() { listener_.Reset(); }

private:
    Socket listener_;
    uint16_t port_ = 0;
};

std::string ReadExactly(SOCKET socket, size_t n) {
    std::string data;
    char chunk[256];
    while (data.size() < n) {
        const int got = ::recv(socket, chunk, static_cast<int>(std::min(sizeof chunk, n - data.size())), 0);
        if (got <= 0) break;
        data.append(chunk, static_cast<size_t>(got));
    }
    return data;
}

void SendText(SOCKET socket, const std::string& text) {
    ASSERT_EQ(::send(socket, text.data(), static_cast<int>(text.size()), 0), static_cast<int>(text.size()));
}

TEST(Win32NetworkLibraryTest, EveryStartIsReleasedAndTheLastReleaseEndsTheLibrary) {
    Win32Network network;
    ASSERT_TRUE(network.StartLibrary());
    ASSERT_TRUE(network.StartLibrary());  // a connection's own start inside another
    network.ReleaseLibrary();
    SOCKET inside = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(inside, INVALID_SOCKET);
    if (inside != INVALID_SOCKET) ::closesocket(inside);
    network.ReleaseLibrary();
    // Released as often as started: the library is no longer there.
    EXPECT_EQ(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
    EXPECT_EQ(::WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(Win32NetworkTest, ConnectsSendsPeeksReceivesAndSeesTheClose) {
    LoopbackServer server;
    auto stream = network_.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Socket ap(server.Accept());
    ASSERT_NE(ap.get(), INVALID_SOCKET);

    const uint8_t word[] = {'I', 'N', 'Q', 'R'};
    ASSERT_TRUE(stream->Send(word, sizeof word));
    EXPECT_EQ(ReadExactly(ap.get(), 4), "INQR");
    uint8_t byte = 0;
    EXPECT_EQ(stream->Receive(&byte, 0, false, 100ms).status, IoStatus::Failed);

    // Replies under different bounds (each read sets its own): the peek's bytes are
    // kept for the receive that follows.
    for (const auto bound : {2000ms, 1500ms, 2000ms}) {
        SendText(ap.get(), "KRV0012\n");
        std::vector<uint8_t> buffer(64, 0);
        const IoResult peeked = stream->Receive(buffer.data(), buffer.size(), true, bound);
        ASSERT_EQ(peeked.status, IoStatus::Data);
        ASSERT_GE(peeked.count, 1u);
        const IoResult received = stream->Receive(buffer.data(), buffer.size(), false, bound);
        ASSERT_EQ(received.status, IoStatus::Data);
        ASSERT_EQ(received.count, 8u);
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 8), "KRV0012\n");
    }

    // The peer's end: a zero-byte read, for a peek as for a receive.
    ap.Reset();
    EXPECT_EQ(stream->Receive(&byte, 1, true, 2000ms).status, IoStatus::Closed);
    EXPECT_EQ(stream->Receive(&byte, 1, false, 2000ms).status, IoStatus::Closed);
}

// A read that times out leaves the connection in an undefined state: after it the
// stream refuses everything, also bytes that arrive later.
TEST_F(Win32NetworkTest, ATimedOutReadEndsTheStream) {
    LoopbackServer server;
    auto stream = network_.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Socket ap(server.Accept());
    ASSERT_NE(ap.get(), INVALID_SOCKET);

    uint8_t byte = 0;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(stream->Receive(&byte, 1, true, 200ms).status, IoStatus::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 10s);

    SendText(ap.get(), "OK\n");
    EXPECT_EQ(stream->Receive(&byte, 1, false, 2000ms).status, IoStatus::Failed);
    EXPECT_FALSE(stream->Send(&byte, 1));
}

TEST_F(Win32NetworkTest, DestroyingTheStreamClosesTheConnection) {
    LoopbackServer server;
    auto stream = network_.Connect(server.Peer(), 2000ms);
    ASSERT_NE(stream, nullptr);
    Socket ap(server.Accept());
    stream.reset();
    char byte = 0;
    EXPECT_EQ(::recv(ap.get(), &byte, 1, 0), 0);
}

TEST_F(Win32NetworkTest, ClosedPortIsRefused) {
    PeerAddress closed;
    {
        LoopbackServer server;
        closed = server.Peer();
        server.Stop();
    }
    EXPECT_EQ(network_.Connect(closed, 2000ms), nullptr);
}

}  // namespace
}  // namespace quorsel
