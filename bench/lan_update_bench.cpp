// One LAN update of a 4 MiB range against quorsel-apsim on loopback, beside the
// floor of the same exchange: a minimal client and server passing 1024 blocks of
// 4096 bytes, each answered by a short line. The run's fixed pauses (100 ms before
// each connect, 1000 ms after each range) are counted, not slept, so the time shown
// is the time beyond them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/posix_network.h"
#include "engine/update_run.h"
#include "tests/support/apsim_process.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

constexpr uint32_t IMAGE_SIZE = 0x400000;
constexpr size_t FLOOR_BLOCKS = 1024;
constexpr size_t FLOOR_BLOCK_SIZE = 4096;

// Sends every connection for port 9002 to the simulator's port instead.
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
    testing::ApSimProcess apsim;
    if (!apsim.Start({"--model", "ZLT010", "--generation", "2"}, dir.File("apsim.log"))) {
        state.SkipWithError("quorsel-apsim did not start");
        return;
    }
    RedirectingNetwork network(apsim.port());
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
        if (RunUpdate(settings, services) != STATUS_COMPLETE) {
            state.SkipWithError("the update did not complete");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * IMAGE_SIZE);
    state.counters["pauses_skipped_ms"] =
        static_cast<double>(pauses.count()) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_LanUpdate4MiBRange)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The floor: the same 1024 blocks and one reply line each, with nothing else.
int Listener(uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 1);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

void ServeBlocks(int listener) {
    int fd = ::accept(listener, nullptr, nullptr);
    std::vector<char> block(FLOOR_BLOCK_SIZE);
    for (size_t i = 0; i < FLOOR_BLOCKS; ++i) {
        size_t got = 0;
        while (got < block.size()) {
            ssize_t n = ::recv(fd, block.data() + got, block.size() - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ::send(fd, "C \n", 3, MSG_NOSIGNAL);
    }
    ::close(fd);
}

void BM_FloorBlocksWithReplies(benchmark::State& state) {
    std::vector<char> block(FLOOR_BLOCK_SIZE, 0x5A);
    for (auto _ : state) {
        uint16_t port = 0;
        int listener = Listener(port);
        std::thread server(ServeBlocks, listener);
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        char reply[16];
        for (size_t i = 0; i < FLOOR_BLOCKS; ++i) {
            ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
            size_t got = 0;
            while (got < 3) {
                ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
                if (n <= 0) break;
                got += static_cast<size_t>(n);
            }
        }
        ::close(fd);
        server.join();
        ::close(listener);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FLOOR_BLOCKS * FLOOR_BLOCK_SIZE));
}
BENCHMARK(BM_FloorBlocksWithReplies)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
}  // namespace quorsel
