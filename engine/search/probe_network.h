// The sockets that a search of the local network works with: many non-blocking
// connects at once, one bounded wait over all of them, and the machine's own
// IPv4 subnets. PosixProbeNetwork and Win32ProbeNetwork implement it; tests use a
// scripted one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/search/search_targets.h"

namespace quorsel {

enum class ConnectState {
    Pending,    // the attempt is still under way
    Connected,
    Failed,     // refused, unreachable or any other error
};

enum class ProbeReadStatus {
    Data,     // bytes were read
    Nothing,  // nothing has arrived yet
    Closed,   // the peer closed its side
    Failed,
};

struct ProbeRead {
    ProbeReadStatus status = ProbeReadStatus::Nothing;
    size_t count = 0;
};

// One socket of a search; destroying it closes the socket at once.
class ProbeConnection {
public:
    virtual ~ProbeConnection() = default;
    // The connect attempt's state now, without waiting: Pending until it has ended
    // (an attempt may end within Connect already, or when a wait reports it ready).
    virtual ConnectState ConnectResult() = 0;
    // Sends all of data without waiting; false when the socket does not take it whole.
    virtual bool Send(const uint8_t* data, size_t n) = 0;
    // Reads what has arrived, never waiting.
    virtual ProbeRead Receive(uint8_t* buffer, size_t n) = 0;
};

// One connection that a wait watches: for the end of its connect attempt, or for
// data (or the peer's close) once connected.
struct ProbeWaitEntry {
    ProbeConnection* connection = nullptr;
    bool connecting = true;
    bool ready = false;  // set by Wait
};

class ProbeNetwork {
public:
    virtual ~ProbeNetwork() = default;
    // Starts a non-blocking TCP connect to address:port. nullptr when no socket can
    // be made (the platform has no sockets left, or none at all).
    virtual std::unique_ptr<ProbeConnection> Connect(const Ipv4Address& address, uint16_t port) = 0;
    // Waits at most `wait` until at least one entry is ready and marks every ready
    // entry. False when the wait itself failed.
    virtual bool Wait(std::vector<ProbeWaitEntry>& entries, std::chrono::milliseconds wait) = 0;
    // The machine's IPv4 addresses with their prefix lengths, of interfaces that are
    // up and not loopback.
    virtual std::vector<LocalSubnet> LocalSubnets() = 0;
};

}  // namespace quorsel
