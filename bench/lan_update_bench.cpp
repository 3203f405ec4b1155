// One LAN update of a 4 MiB range beside the floor of the same exchange. Both talk
// to the same minimal access point, in process on loopback: it answers the inquiry,
// "FLSH", the range header and every 4096-byte block with a short line, and does
// nothing else. The floor is a minimal client (blocks from memory, one send and one
// receive per block); the update is RunUpdate with the container file, the checksum
// and the reply reader. The run's fixed pauses (100 ms before each connect, 1000 ms
// after each range) are counted, not slept, so the time shown is the time beyond them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/le_bytes.h"
#include "engine/posix_network.h"
#include "engine/update_run.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

constexpr uint32_t IMAGE_SIZE = 0x400000;
constexpr size_t BLOCK_SIZE = 4096;
constexpr const char* MODEL_REPLY = "ZLT0102\n";  // model ZLT010, new generation

bool ReceiveAll(int fd, uint8_t* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, buffer + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool SendText(int fd, const char* text) {
    const size_t n = std::strlen(text);
    return ::send(fd, text, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// The minimal access point: one connection at a time, the inquiry or one range.
class MinimalPeer {
public:
    MinimalPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~MinimalPeer() {
        ::shutdown(listener_, SHUT_RDWR);  // wakes the accept
        thread_.join();
        ::close(listener_);
    }
    MinimalPeer(const MinimalPeer&) = delete;
    MinimalPeer& operator=(const MinimalPeer&) = delete;
    uint16_t port() const { return port_; }
    bool failed() const { return failed_; }

private:
    void Serve() {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            if (!Session(fd)) failed_ = true;
            ::close(fd);
        }
    }

    static bool Session(int fd) {
        uint8_t word[4];
        if (!ReceiveAll(fd, word, sizeof word)) return false;
        if (std::memcmp(word, "INQR", 4) == 0) return SendText(fd, MODEL_REPLY);
        if (std::memcmp(word, "FLSH", 4) != 0 || !SendText(fd, "OK\n")) return false;
        uint8_t header[20];
        if (!ReceiveAll(fd, header, sizeof header) || !SendText(fd, "OK\n") || !SendText(fd, "S\n")) return false;
        std::vector<uint8_t> block(BLOCK_SIZE);
        for (uint32_t left = quorsel::LoadLe32(header + 12); left > 0;) {
            const size_t n = std::min<size_t>(left, BLOCK_SIZE);
            if (!ReceiveAll(fd, block.data(), n) || !SendText(fd, "C \n")) return false;
            left -= static_cast<uint32_t>(n);
        }
        if (!SendText(fd, "E \n") || !SendText(fd, "OK\n")) return false;
        // Wait for the client to close, so the last line is never cut off.
        return ::recv(fd, block.data(), 1, 0) == 0;
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> failed_{false};
};

// Sends every connection for port 9002 to the peer's port instead.
class RedirectingNetwork : public Network {
public:
    explicit RedirectingNetwork(uint16_t port) : port_(port) {}
    bool StartLibrary() override { return inner_.StartLibrary(); }
    void ReleaseLibrary() override { inner_.ReleaseLibrary(); }
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override {
        PeerAddress redirected = peer;
        redirected.port = {static_cast<uint8_t>(port_ >> 8), static_cast<uint8_t>(port_ & 0xFF)};
        return inner_.Connect(redirected, timeout);
    }

private:
    PosixNetwork inner_;
    uint16_t port_;
};

class QuietSink : public StatusSink {
public:
    void Notify(StatusCode, const TransferCounters&) override {}
    void Post(StatusCode, const TransferCounters&) override {}
    void Diagnose(const std::string&) override {}
};

class NoPassword : public PasswordPrompt {
public:
    std::optional<std::string> AskPassword() override { return std::string(); }
};

class NoPowerOn : public PowerOnPrompt {
public:
    bool Show(PowerOnWait&) override { return false; }
};

class NoSerialPorts : public SerialPorts {
public:
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t, uint32_t) override {
        return Fail(SerialOpenError::OpenFailed);
    }
};

void BM_LanUpdate4MiBRange(benchmark::State& state) {
    testing::TempDir dir;
    std::string updater = dir.File("updater");
    std::vector<uint8_t> plain = testing::MakePlainImage(IMAGE_SIZE, "ZLT010", 5);
    testing::WriteContainerFile(updater, testing::MakeContainerParts(plain, std::vector<uint8_t>(64, 1)));
    MinimalPeer peer;
    RedirectingNetwork network(peer.port());
    QuietSink sink;
    NoPassword password;
    NoPowerOn powerOn;
    NoSerialPorts ports;
    RunSettings settings;
    settings.transport = 0;
    settings.optionFlags = 0x003F;  // all six regions: one range over the whole 4 MiB
    settings.peer.address = {127, 0, 0, 1};
    settings.peer.port = {0x23, 0x2A};
    settings.programPath = updater;
    std::chrono::milliseconds pauses{0};
    RunServices services{sink, password, powerOn, network, ports,
                         [&pauses](std::chrono::milliseconds pause) { pauses += pause; },
                         [](const char*) {}};
    for (auto _ : state) {
        if (RunUpdate(settings, services) != STATUS_COMPLETE || peer.failed()) {
            state.SkipWithError("the update did not complete");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_SIZE);
    state.counters["pauses_skipped_ms"] =
        static_cast<double>(pauses.count()) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_LanUpdate4MiBRange)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

int ConnectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reply lines counted by their line ends, however the segments merge them.
class LineCounter {
public:
    explicit LineCounter(int fd) : fd_(fd) {}
    bool Take(size_t lines) {
        while (ready_ < lines) {
            const ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            if (n <= 0) return false;
            ready_ += static_cast<size_t>(std::count(buffer_, buffer_ + n, '\n'));
        }
        ready_ -= lines;
        return true;
    }

private:
    int fd_;
    size_t ready_ = 0;
    char buffer_[256];
};

// The floor: the same two connections and 1024 blocks against the same peer, with
// nothing else (no file, no checksum, no status codes).
void BM_FloorBlocksWithReplies(benchmark::State& state) {
    MinimalPeer peer;
    std::vector<uint8_t> image(IMAGE_SIZE, 0x5A);
    uint8_t header[20] = {'_', 'F', 'l', 'a', 's', 'h'};
    quorsel::StoreLe32(header + 12, IMAGE_SIZE);
    for (auto _ : state) {
        bool ok = false;
        if (int fd = ConnectTo(peer.port()); fd >= 0) {
            LineCounter replies(fd);
            ok = ::send(fd, "INQR", 4, MSG_NOSIGNAL) == 4 && replies.Take(1);
            ::close(fd);
        }
        if (int fd = ConnectTo(peer.port()); ok && fd >= 0) {
            LineCounter replies(fd);
            ok = ::send(fd, "FLSH", 4, MSG_NOSIGNAL) == 4 && replies.Take(1) &&
                 ::send(fd, header, sizeof header, MSG_NOSIGNAL) == sizeof header && replies.Take(2);
            for (size_t done = 0; ok && done < IMAGE_SIZE; done += BLOCK_SIZE) {
                ok = ::send(fd, image.data() + done, BLOCK_SIZE, MSG_NOSIGNAL) == static_cast<ssize_t>(BLOCK_SIZE) &&
                     replies.Take(1);
            }
            ok = ok && replies.Take(2);
            ::close(fd);
        }
        if (!ok || peer.failed()) {
            state.SkipWithError("the floor exchange failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_SIZE);
}
BENCHMARK(BM_FloorBlocksWithReplies)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
}  // namespace quorsel
