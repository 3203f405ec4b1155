#include "tests/reliability/run_harness.h"

#include <stdlib.h>

#include <cstdlib>

#include "tests/support/container_builder.h"

namespace quorsel::testing {

bool FirmwareFile::Make(const std::string& filePath, uint32_t imageSize, const std::string& model, size_t loaderSize,
                        size_t prefixSize) {
    path = filePath;
    plain = MakePlainImage(imageSize, model, 9);
    loader = PseudoRandomBytes(loaderSize, 4);
    ContainerParts parts = MakeContainerParts(plain, loader, ExecutableLikeBytes(prefixSize, 2));
    stored = parts.storedImage;
    bytes = BuildContainerFile(parts);
    imageStart = static_cast<uint32_t>(prefixSize + 20 + loaderSize);
    return WriteBytes(path, bytes);
}

std::optional<std::string> AnsweringPassword::AskPassword() {
    ++asked;
    if (onAsk) onAsk();
    return answer;
}

StatusCode FrontEnd::Run(const RunSettings& settings, Network& network, SerialPorts& ports) {
    RunServices services{sink, password, powerOn, network, ports, [](std::chrono::milliseconds) {},
                         [this](const char* text) { erasing += text; }};
    return RunUpdate(settings, services);
}

RunSettings ShortRunSettings(const std::string& path, uint32_t transport, uint16_t optionFlags,
                             std::chrono::milliseconds peerTimeout) {
    RunSettings settings;
    settings.transport = transport;
    settings.optionFlags = optionFlags;
    settings.peer.port = {0x23, 0x2A};
    settings.peer.address = {192, 168, 1, 254};
    settings.comIndex = 0;
    settings.baudRate = 115200;
    settings.programPath = path;
    settings.timeouts.connect = peerTimeout;
    settings.timeouts.lanRead = peerTimeout;
    settings.timeouts.serialAnswer = peerTimeout;
    settings.timeouts.completionSilence = peerTimeout;
    settings.timeouts.flashWork = peerTimeout;
    return settings;
}

std::unique_ptr<ByteStream> LoopbackNetwork::Connect(const PeerAddress&, std::chrono::milliseconds timeout) {
    ++connects;
    PeerAddress loopback;
    loopback.port = {static_cast<uint8_t>(port_ >> 8), static_cast<uint8_t>(port_ & 0xFF)};
    loopback.address = {127, 0, 0, 1};
    return inner_.Connect(loopback, timeout);
}

ScopedComPort::ScopedComPort(const std::string& device) {
    if (const char* old = std::getenv("QUORSEL_COM1")) previous_ = old;
    ::setenv("QUORSEL_COM1", device.c_str(), 1);
}

ScopedComPort::~ScopedComPort() {
    if (previous_) {
        ::setenv("QUORSEL_COM1", previous_->c_str(), 1);
    } else {
        ::unsetenv("QUORSEL_COM1");
    }
}

}  // namespace quorsel::testing
