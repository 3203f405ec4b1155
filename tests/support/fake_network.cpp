#include "tests/support/fake_network.h"

namespace quorsel::testing {

// The stream the code under test owns: forwards to the test's scripted peer and
// tells the network when it is closed.
class FakeConnection : public ByteStream {
public:
    FakeConnection(FakeNetwork& network, std::shared_ptr<ScriptedStream> peer)
        : network_(network), peer_(std::move(peer)) {
        ++network_.streamsOpen_;
    }
    ~FakeConnection() override {
        --network_.streamsOpen_;
        network_.log_.push_back("close");
    }
    FakeConnection(const FakeConnection&) = delete;
    FakeConnection& operator=(const FakeConnection&) = delete;

    bool Send(const uint8_t* data, size_t n) override { return peer_->Send(data, n); }
    IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) override {
        return peer_->Receive(buffer, n, peek, timeout);
    }

private:
    FakeNetwork& network_;
    std::shared_ptr<ScriptedStream> peer_;
};

std::shared_ptr<ScriptedStream> FakeNetwork::AddPeer() {
    auto peer = std::make_shared<ScriptedStream>();
    peers_.push_back(peer);
    return peer;
}

void FakeNetwork::AddRefusal() { peers_.push_back(nullptr); }

bool FakeNetwork::StartLibrary() {
    if (!libraryStarts_) {
        log_.push_back("start-failed");
        return false;
    }
    ++librariesHeld_;
    log_.push_back("start");
    return true;
}

void FakeNetwork::ReleaseLibrary() {
    --librariesHeld_;
    log_.push_back("release");
}

std::unique_ptr<ByteStream> FakeNetwork::Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) {
    connects_.push_back(ConnectCall{peer, timeout});
    // No peer scripted, or a refusal scripted: the connection fails.
    if (peers_.empty() || peers_.front() == nullptr) {
        if (!peers_.empty()) peers_.pop_front();
        log_.push_back("refused");
        return nullptr;
    }
    auto stream = std::make_unique<FakeConnection>(*this, peers_.front());
    peers_.pop_front();
    log_.push_back("connect");
    return stream;
}

}  // namespace quorsel::testing
