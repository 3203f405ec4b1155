// The search of the local network for access points: a bounded number of
// non-blocking connects to port 9002 at once, "INQR" on each that connects, one
// reply line, close. Nothing else is ever sent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/lan_protocol.h"
#include "engine/search_targets.h"

namespace quorsel {

// The platform's sockets for the search (probe_network_posix / probe_network_win32):
// many non-blocking connects at once, and the machine's own subnets.
class ProbeNetwork;

struct SearchSettings {
    size_t jobs = 0;                        // sockets in flight at once; 0 takes the default
    std::chrono::milliseconds connectTimeout{0};  // 0 takes the default
    std::chrono::milliseconds replyTimeout{0};    // 0 takes the default
    uint16_t port = 9002;
    std::string firmwareModel;              // the firmware file's model code; empty when none
};

enum class PeerKind {
    ACCESS_POINT,      // answered "INQR" with a model line
    NOT_ACCESS_POINT,  // accepted the connection, no model line within the bound
};

struct FoundPeer {
    Ipv4Address address{};
    PeerKind kind = PeerKind::ACCESS_POINT;
    std::string modelCode;                  // six characters (access points only)
    char generationDigit = 0;               // byte 6 of the reply, 0 when the reply had none
    Generation generation = Generation::Old;
    bool fitsFirmware = false;              // modelCode equals SearchSettings::firmwareModel
};

// Called on the search's own thread. No call comes after the search has returned or
// after Stop() has returned.
class SearchListener {
public:
    virtual ~SearchListener() = default;
    virtual void OnFound(const FoundPeer& peer) = 0;
    // Addresses finished so far (answered, refused, timed out) out of total.
    virtual void OnProgress(size_t probed, size_t total) = 0;
};

struct SearchOutcome {
    size_t probed = 0;
    bool stopped = false;     // ended by a stop request
    std::string error;        // the platform could not search at all (socket layer, no sockets)
};

// Asked from any thread; the search sees it within one wait and closes every socket.
class SearchStop {
public:
    void Request() { requested_.store(true); }
    bool Requested() const { return requested_.load(); }

private:
    std::atomic<bool> requested_{false};
};

// Runs one search to its end on the calling thread.
SearchOutcome SearchAccessPoints(ProbeNetwork& network, const std::vector<Ipv4Address>& addresses,
                                 const SearchSettings& settings, SearchListener& listener,
                                 const SearchStop& stop);

}  // namespace quorsel
