// A Network that hands out scripted peers instead of sockets, and records how the
// code under test starts and releases the library and opens and closes connections.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/lan_protocol.h"
#include "tests/support/scripted_stream.h"

namespace quorsel::testing {

class FakeNetwork : public Network {
public:
    struct ConnectCall {
        PeerAddress peer;
        std::chrono::milliseconds timeout;
    };

    // The next Connect hands out this peer (connections are served in the order added).
    std::shared_ptr<ScriptedStream> AddPeer();
    // The next Connect fails (refused, or no socket).
    void AddRefusal();
    // Library starts fail from now on (false) or succeed again (true).
    void SetLibraryStarts(bool succeed) { libraryStarts_ = succeed; }

    // Log of what happened, in order: "start", "start-failed", "connect", "refused",
    // "close" (a handed-out stream was destroyed), "release".
    const std::vector<std::string>& log() const { return log_; }
    const std::vector<ConnectCall>& connects() const { return connects_; }
    int librariesHeld() const { return librariesHeld_; }
    int streamsOpen() const { return streamsOpen_; }

    bool StartLibrary() override;
    void ReleaseLibrary() override;
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override;

private:
    friend class FakeConnection;

    bool libraryStarts_ = true;
    int librariesHeld_ = 0;
    int streamsOpen_ = 0;
    std::deque<std::shared_ptr<ScriptedStream>> peers_;  // nullptr: refusal
    std::vector<std::string> log_;
    std::vector<ConnectCall> connects_;
};

}  // namespace quorsel::testing
