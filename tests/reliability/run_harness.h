// Shared pieces of the reliability tests: a firmware file made for the test, the
// front-end's prompts answered the way a patient user would, and a network that
// sends every connection to a simulator on the loopback interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/lan_protocol.h"
#include "engine/posix_network.h"
#include "engine/power_on_wait.h"
#include "engine/update_run.h"
#include "tests/support/recording_sink.h"
#include "tests/support/waiting_power_on_prompt.h"

namespace quorsel::testing {

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t MIB4 = 0x400000;

// A packed updater file: a prefix that looks like an executable, then the container.
struct FirmwareFile {
    std::string path;
    std::vector<uint8_t> plain;   // the image as the access point's flash should end up
    std::vector<uint8_t> stored;  // the image as the container holds it (scrambled)
    std::vector<uint8_t> loader;
    std::vector<uint8_t> bytes;   // the whole file
    uint32_t imageStart = 0;      // file offset of the image

    // Builds and writes the file; false when it cannot be written.
    bool Make(const std::string& filePath, uint32_t imageSize, const std::string& model, size_t loaderSize = 300,
              size_t prefixSize = 512);
};

class AnsweringPassword : public PasswordPrompt {
public:
    std::optional<std::string> answer = std::string("pw");
    int asked = 0;
    std::function<void()> onAsk;  // runs while the run waits for the answer
    std::optional<std::string> AskPassword() override;
};

// Everything a run talks to besides the network and the serial ports.
struct FrontEnd {
    RecordingSink sink;
    AnsweringPassword password;
    WaitingPowerOnPrompt powerOn;
    std::string erasing;

    StatusCode Run(const RunSettings& settings, Network& network, SerialPorts& ports);
};

// Settings for a run of `path` with short peer bounds.
RunSettings ShortRunSettings(const std::string& path, uint32_t transport, uint16_t optionFlags,
                             std::chrono::milliseconds peerTimeout = std::chrono::milliseconds(500));

// POSIX sockets, but every connection goes to 127.0.0.1:port.
class LoopbackNetwork : public Network {
public:
    explicit LoopbackNetwork(uint16_t port) : port_(port) {}
    bool StartLibrary() override { return inner_.StartLibrary(); }
    void ReleaseLibrary() override { inner_.ReleaseLibrary(); }
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override;
    int connects = 0;

private:
    PosixNetwork inner_;
    uint16_t port_;
};

// Points COM1 (QUORSEL_COM1) at a device while it lives; the old value comes back after.
class ScopedComPort {
public:
    explicit ScopedComPort(const std::string& device);
    ~ScopedComPort();
    ScopedComPort(const ScopedComPort&) = delete;
    ScopedComPort& operator=(const ScopedComPort&) = delete;

private:
    std::optional<std::string> previous_;
};

}  // namespace quorsel::testing
