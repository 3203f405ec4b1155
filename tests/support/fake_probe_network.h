// A ProbeNetwork whose peers are scripted per address, for driving a search
// without sockets. It records what the search opened, sent and closed.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/search/probe_network.h"

namespace quorsel::testing {

enum class FakePeerBehaviour {
    Drop,     // the connect never ends (the default for an address not scripted)
    Refuse,   // the connect fails at once
    Answer,   // accepts, answers the reply text once, then closes
    Silent,   // accepts and sends nothing
};

struct FakePeer {
    FakePeerBehaviour behaviour = FakePeerBehaviour::Drop;
    std::string reply;  // for Answer
};

class FakeProbeNetwork : public ProbeNetwork {
public:
    void Script(const Ipv4Address& address, FakePeer peer) { peers_[address] = std::move(peer); }
    // At most this many sockets can be open at once; Connect gives nullptr beyond.
    void LimitSockets(size_t limit) { socketLimit_ = limit; }
    // Called at the start of every wait (a test may request a stop from here).
    void OnWait(std::function<void()> hook) { onWait_ = std::move(hook); }
    void SetSubnets(std::vector<LocalSubnet> subnets) { subnets_ = std::move(subnets); }

    size_t open() const { return open_; }
    size_t mostOpen() const { return mostOpen_; }
    const std::vector<Ipv4Address>& connects() const { return connects_; }
    // Everything sent, per address, in order.
    const std::map<Ipv4Address, std::string>& sent() const { return sent_; }

    std::unique_ptr<ProbeConnection> Connect(const Ipv4Address& address, uint16_t port) override;
    bool Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) override;
    std::vector<LocalSubnet> LocalSubnets() override { return subnets_; }

private:
    friend class FakeProbeConnection;
    std::map<Ipv4Address, FakePeer> peers_;
    std::map<Ipv4Address, std::string> sent_;
    std::vector<Ipv4Address> connects_;
    std::vector<LocalSubnet> subnets_;
    std::function<void()> onWait_;
    size_t socketLimit_ = SIZE_MAX;
    size_t open_ = 0;
    size_t mostOpen_ = 0;
};

}  // namespace quorsel::testing
