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
#include "engine/search/search_targets.h"
#include "image/model_tables.h"

namespace quorsel {

// The platform's sockets for the search (probe_network_posix / probe_network_win32):
// many non-blocking connects at once, and the machine's own subnets.
class ProbeNetwork;

// The bounds a search takes when its settings leave them 0. A whole /24 (254
// addresses) is in flight at once, so a /24 whose addresses all drop the attempt
// ends after one connect bound, and the widest default target, a /22 (1022), after
// four. A LAN peer answers a connect within milliseconds (a host that is not there
// is given up after the bound instead of the seconds its address resolution takes)
// and the access point answers "INQR" at once: both bounds leave a wide margin.
constexpr size_t DEFAULT_SEARCH_JOBS = 256;
constexpr std::chrono::milliseconds DEFAULT_SEARCH_CONNECT_TIMEOUT{1000};
constexpr std::chrono::milliseconds DEFAULT_SEARCH_REPLY_TIMEOUT{1500};
// --jobs and SearchSettings::jobs above this are taken as this.
constexpr size_t SEARCH_MAX_JOBS = 1024;
// A wait on the sockets never lasts longer than this, so a stop request is seen.
constexpr std::chrono::milliseconds SEARCH_STOP_POLL_INTERVAL{50};
// Bytes of an inquiry reply kept while its line end is awaited (the reply buffer's size).
constexpr size_t SEARCH_REPLY_LIMIT = 1024;

struct SearchSettings {
    size_t jobs = 0;                        // sockets in flight at once; 0 takes the default
    std::chrono::milliseconds connectTimeout{0};  // 0 takes the default
    std::chrono::milliseconds replyTimeout{0};    // 0 takes the default
    uint16_t port = 9002;
    std::string firmwareModel;              // the firmware file's model code; empty when none
};

enum class PeerKind {
    ACCESS_POINT,      // answered "INQR" with a model line
    NOT_ACCESS_POINT,  // answered something other than a model line
};

// Why an address gave no reply to report.
enum class ProbeMiss {
    Refused,   // the connection was refused or failed
    NoAnswer,  // the connect did not end within its bound
    Silent,    // the connection was taken, but no byte came back within the reply bound
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
    // An address that gave no reply, and why.
    virtual void OnMissed(const Ipv4Address& /*address*/, ProbeMiss /*why*/) {}
};

// "refused", "no answer", "silent": the reason the scan's JSON and the fleet's report give.
const char* ProbeMissName(ProbeMiss why);

struct SearchOutcome {
    size_t probed = 0;
    bool stopped = false;     // ended by a stop request
    std::string error;        // the platform could not search at all (socket layer, no sockets)
    // A search of the default targets: the subnets searched and those left out because
    // all of them would pass SEARCH_MAX_ADDRESSES (TargetExpansion's subnets, leftOut).
    std::vector<std::string> subnets;
    std::vector<std::string> leftOut;
};

// Asked from any thread; the search sees it within one wait and closes every socket.
class SearchStop {
public:
    void Request() { requested_.store(true); }
    bool Requested() const { return requested_.load(); }

private:
    std::atomic<bool> requested_{false};
};

// The settings with every 0 replaced by its default, jobs at most SEARCH_MAX_JOBS.
SearchSettings EffectiveSettings(const SearchSettings& settings);

// The longest a search of count addresses can take with these settings (each batch
// of jobs addresses waits at most one connect and one reply bound), not counting the
// time the listener takes.
std::chrono::milliseconds SearchTimeBound(size_t count, const SearchSettings& settings);

// What a reply line to "INQR" says: a model line is at least six letters or digits,
// followed by nothing, or by a generation byte that is a digit or CR. Fills kind,
// modelCode, generationDigit, generation and fitsFirmware (against firmwareModel).
FoundPeer PeerFromReply(const Ipv4Address& address, const std::string& line, const std::string& firmwareModel);

// Runs one search to its end on the calling thread. Addresses that refuse, do not
// answer the connect within its bound, or take the connection but send nothing back
// within the reply bound count as probed and go to OnMissed; one that sends
// something other than a model line is NOT_ACCESS_POINT.
// An address is connected to once; nothing but "INQR" is sent.
SearchOutcome SearchAccessPoints(ProbeNetwork& network, const std::vector<Ipv4Address>& addresses,
                                 const SearchSettings& settings, SearchListener& listener,
                                 const SearchStop& stop);

}  // namespace quorsel
