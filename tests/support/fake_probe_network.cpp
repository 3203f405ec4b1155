#include "tests/support/fake_probe_network.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace quorsel::testing {

class FakeProbeConnection : public ProbeConnection {
public:
    FakeProbeConnection(FakeProbeNetwork& network, const Ipv4Address& address, FakePeer peer)
        : network_(network), address_(address), peer_(std::move(peer)) {
        network_.mostOpen_ = std::max(network_.mostOpen_, ++network_.open_);
    }
    ~FakeProbeConnection() override { --network_.open_; }

    ConnectState ConnectResult() override {
        switch (peer_.behaviour) {
        case FakePeerBehaviour::Drop: return ConnectState::Pending;
        case FakePeerBehaviour::Refuse: return ConnectState::Failed;
        default: return ConnectState::Connected;
        }
    }

    bool Send(const uint8_t* data, size_t n) override {
        network_.sent_[address_].append(reinterpret_cast<const char*>(data), n);
        return true;
    }

    ProbeRead Receive(uint8_t* buffer, size_t n) override {
        if (peer_.behaviour != FakePeerBehaviour::Answer || !Asked()) return {ProbeReadStatus::Nothing, 0};
        if (answered_ == peer_.reply.size()) return {ProbeReadStatus::Closed, 0};
        const size_t count = std::min(n, peer_.reply.size() - answered_);
        std::memcpy(buffer, peer_.reply.data() + answered_, count);
        answered_ += count;
        return {ProbeReadStatus::Data, count};
    }

    // Whether the connection has something to report to a wait.
    bool Ready(bool connecting) const {
        if (connecting) return peer_.behaviour != FakePeerBehaviour::Drop;
        return peer_.behaviour == FakePeerBehaviour::Answer && Asked();
    }

private:
    bool Asked() const {
        const auto found = network_.sent_.find(address_);
        return found != network_.sent_.end() && !found->second.empty();
    }

    FakeProbeNetwork& network_;
    Ipv4Address address_;
    FakePeer peer_;
    size_t answered_ = 0;
};

std::unique_ptr<ProbeConnection> FakeProbeNetwork::Connect(const Ipv4Address& address, uint16_t) {
    if (open_ >= socketLimit_) return nullptr;
    connects_.push_back(address);
    const auto found = peers_.find(address);
    return std::make_unique<FakeProbeConnection>(*this, address, found == peers_.end() ? FakePeer{} : found->second);
}

bool FakeProbeNetwork::Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) {
    if (onWait_) onWait_();
    bool any = false;
    for (ProbeWaitEntry& entry : entries) {
        entry.ready = static_cast<FakeProbeConnection*>(entry.connection)->Ready(entry.connecting);
        any = any || entry.ready;
    }
    if (!any) std::this_thread::sleep_for(wait);
    return true;
}

}  // namespace quorsel::testing
