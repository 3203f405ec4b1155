// TCP connections to the access point through POSIX sockets.
#pragma once

#include <chrono>
#include <memory>

#include "engine/lan_protocol.h"

namespace quorsel {

class PosixNetwork : public Network {
public:
    // POSIX sockets need no library start; both calls exist so that a run has the
    // same shape on every platform. Starting always succeeds.
    bool StartLibrary() override;
    void ReleaseLibrary() override;
    // A blocking TCP stream connected to peer within timeout, or nullptr when no
    // socket can be made, the connection is refused or the timeout passes.
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override;
};

}  // namespace quorsel
