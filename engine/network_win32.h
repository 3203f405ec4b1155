// TCP connections to the access point through Windows Sockets 1.1 (wsock32).
#pragma once

#include <chrono>
#include <memory>

#include "engine/lan_protocol.h"

namespace quorsel {

class Win32Network : public Network {
public:
    // WSAStartup asking for version 1.1; true only when the library offers exactly
    // 1.1 (a start that offers anything else is released again at once).
    bool StartLibrary() override;
    // WSACleanup for one successful start.
    void ReleaseLibrary() override;
    // A blocking TCP stream connected to peer within timeout, or nullptr when no
    // socket can be made, the connection is refused or the timeout passes.
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override;
};

}  // namespace quorsel
