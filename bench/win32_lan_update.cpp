// Times LAN updates of the Windows build: RunUpdate over Win32Network (Windows
// Sockets 1.1) against an access point on 127.0.0.1, usually quorsel-apsim on the
// Linux side of Wine. The run's fixed pauses (100 ms before each connect, 1000 ms
// after each range) are counted, not slept, so the times shown are the time beyond
// them. All six regions are selected: one range over the whole image.
//
//   quorsel_win32_lan_bench FIRMWARE PORT [RUNS]
//
// FIRMWARE is a packed updater (quorsel-pack output), PORT the access point's port.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/network_win32.h"
#include "engine/update_run.h"

namespace quorsel {
namespace {

constexpr uint16_t OPTION_ALL_REGIONS = 0x003F;
constexpr int DEFAULT_RUNS = 3;

// Sends every connection to the given port on loopback.
class LoopbackNetwork : public Network {
public:
    explicit LoopbackNetwork(uint16_t port) : port_(port) {}
    bool StartLibrary() override { return inner_.StartLibrary(); }
    void ReleaseLibrary() override { inner_.ReleaseLibrary(); }
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override {
        PeerAddress redirected = peer;
        redirected.port = {static_cast<uint8_t>(port_ >> 8), static_cast<uint8_t>(port_ & 0xFF)};
        redirected.address = {127, 0, 0, 1};
        return inner_.Connect(redirected, timeout);
    }

private:
    Win32Network inner_;
    uint16_t port_;
};

class QuietSink : public StatusSink {
public:
    void Notify(StatusCode, const TransferCounters&) override {}
    void Post(StatusCode, const TransferCounters&) override {}
    void Diagnose(const std::string& line) override { std::fprintf(stderr, "%s\n", line.c_str()); }
};

// The simulator's default password is the empty one.
class EmptyPassword : public PasswordPrompt {
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

int Main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorsel_win32_lan_bench FIRMWARE PORT [RUNS]\n");
        return 2;
    }
    const unsigned long port = std::strtoul(argv[2], nullptr, 10);
    const int runs = argc > 3 ? std::atoi(argv[3]) : DEFAULT_RUNS;
    if (port == 0 || port > 65535 || runs <= 0) {
        std::fprintf(stderr, "quorsel_win32_lan_bench: bad port or run count\n");
        return 2;
    }
    LoopbackNetwork network(static_cast<uint16_t>(port));
    QuietSink sink;
    EmptyPassword password;
    NoPowerOn powerOn;
    NoSerialPorts ports;
    RunSettings settings;
    settings.transport = 0;
    settings.optionFlags = OPTION_ALL_REGIONS;
    settings.peer.address = {127, 0, 0, 1};
    settings.peer.port = {0x23, 0x2A};
    settings.programPath = argv[1];
    std::chrono::milliseconds pauses{0};
    RunServices services{sink, password, powerOn, network, ports,
                         [&pauses](std::chrono::milliseconds pause) { pauses += pause; },
                         [](const char*) {}};
    double total = 0;
    for (int i = 0; i < runs; ++i) {
        pauses = std::chrono::milliseconds{0};
        const auto start = std::chrono::steady_clock::now();
        const StatusCode outcome = RunUpdate(settings, services);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        if (outcome != STATUS_COMPLETE) {
            std::fprintf(stderr, "run %d ended with status %d\n", i + 1, static_cast<int>(outcome));
            return 1;
        }
        std::printf("run %d: %.1f ms beyond %lld ms of pauses\n", i + 1, took.count(),
                    static_cast<long long>(pauses.count()));
        total += took.count();
    }
    std::printf("mean: %.1f ms over %d runs\n", total / runs, runs);
    return 0;
}

}  // namespace
}  // namespace quorsel

int main(int argc, char** argv) { return quorsel::Main(argc, argv); }
