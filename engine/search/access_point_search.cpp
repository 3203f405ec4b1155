#include "engine/search/access_point_search.h"

#include <algorithm>
#include <memory>

#include "engine/search/probe_network.h"

namespace quorsel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char INQUIRY[] = {'I', 'N', 'Q', 'R'};
constexpr size_t GENERATION_BYTE = MODEL_CODE_LENGTH;

bool IsModelCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// One address being probed: its socket and what has arrived of its reply.
struct Probe {
    Ipv4Address address{};
    std::unique_ptr<ProbeConnection> connection;
    bool connecting = true;
    Clock::time_point deadline;
    std::string reply;
};

// The bytes of reply up to its first LF or NUL, when it has one.
bool TakeLine(const std::string& reply, std::string& line) {
    const size_t end = reply.find_first_of(std::string_view("\n\0", 2));
    if (end == std::string::npos) return false;
    line = reply.substr(0, end);
    return true;
}

class Search {
public:
    Search(ProbeNetwork& network, const std::vector<Ipv4Address>& addresses, const SearchSettings& settings,
           SearchListener& listener, const SearchStop& stop)
        : network_(network), addresses_(addresses), settings_(EffectiveSettings(settings)), listener_(listener),
          stop_(stop) {}

    SearchOutcome Run() {
        std::vector<ProbeWaitEntry> entries;
        size_t jobs = settings_.jobs;
        while (next_ < addresses_.size() || !probes_.empty()) {
            if (stop_.Requested()) return Stopped();
            const size_t probedBefore = outcome_.probed;
            if (!Fill(jobs)) return outcome_;
            // The platform ran out of sockets: go on with the ones in flight.
            if (probes_.size() < jobs && next_ < addresses_.size()) jobs = probes_.size();
            if (!probes_.empty()) {
                entries.clear();
                for (const Probe& probe : probes_) entries.push_back({probe.connection.get(), probe.connecting, false});
                if (!network_.Wait(entries, WaitTime())) {
                    outcome_.error = "waiting on the search's sockets failed";
                    return outcome_;
                }
                if (stop_.Requested()) return Stopped();
                Advance(entries);
            }
            if (outcome_.probed != probedBefore) listener_.OnProgress(outcome_.probed, addresses_.size());
        }
        return outcome_;
    }

private:
    // Opens connections until jobs are in flight. False when not even one socket
    // can be made.
    bool Fill(size_t jobs) {
        while (probes_.size() < jobs && next_ < addresses_.size()) {
            Probe probe;
            probe.address = addresses_[next_];
            probe.connection = network_.Connect(probe.address, settings_.port);
            if (!probe.connection) {
                if (!probes_.empty()) return true;
                outcome_.error = "no socket could be made for the search";
                return false;
            }
            ++next_;
            probe.deadline = Clock::now() + settings_.connectTimeout;
            probes_.push_back(std::move(probe));
            // An attempt may end at once (a refusal on this machine, for one).
            if (!Step(probes_.back(), true)) Finish(probes_.size() - 1);
        }
        return true;
    }

    milliseconds WaitTime() const {
        auto earliest = probes_.front().deadline;
        for (const Probe& probe : probes_) earliest = std::min(earliest, probe.deadline);
        const auto left = std::chrono::ceil<milliseconds>(earliest - Clock::now());
        return std::clamp(left, milliseconds{0}, SEARCH_STOP_POLL_INTERVAL);
    }

    // Moves every ready probe on and ends those whose bound has passed. Probes are
    // removed from the back so that entry i still names probe i.
    void Advance(const std::vector<ProbeWaitEntry>& entries) {
        const auto now = Clock::now();
        for (size_t i = probes_.size(); i-- > 0;) {
            Probe& probe = probes_[i];
            bool goesOn = Step(probe, entries[i].ready);
            if (goesOn && now >= probe.deadline) {
                // A connect that did not end in time, or a connection that stayed
                // silent, is a miss; one that sent something else is another service.
                if (probe.connecting) {
                    listener_.OnMissed(probe.address, ProbeMiss::NoAnswer);
                } else {
                    Conclude(probe);
                }
                goesOn = false;
            }
            if (!goesOn) Finish(i);
        }
    }

    // Moves one probe on as far as it goes without waiting, when its socket has
    // something to tell (ready). False when it is done.
    bool Step(Probe& probe, bool ready) {
        if (!ready) return true;
        if (probe.connecting) {
            const ConnectState state = probe.connection->ConnectResult();
            if (state == ConnectState::Pending) return true;
            if (state == ConnectState::Failed) {
                listener_.OnMissed(probe.address, ProbeMiss::Refused);
                return false;
            }
            probe.connecting = false;
            probe.deadline = Clock::now() + settings_.replyTimeout;
            if (!probe.connection->Send(reinterpret_cast<const uint8_t*>(INQUIRY), sizeof INQUIRY)) {
                listener_.OnMissed(probe.address, ProbeMiss::Silent);
                return false;
            }
            return true;  // the reply is looked for once the wait reports it
        }
        return ReadReply(probe);
    }

    // Takes in what has arrived of the reply; false once it is complete (or can
    // never be), after reporting the peer.
    bool ReadReply(Probe& probe) {
        uint8_t buffer[SEARCH_REPLY_LIMIT];
        const size_t room = SEARCH_REPLY_LIMIT - probe.reply.size();
        const ProbeRead read = probe.connection->Receive(buffer, room);
        if (read.status == ProbeReadStatus::Nothing) return true;
        if (read.status == ProbeReadStatus::Data) {
            probe.reply.append(reinterpret_cast<const char*>(buffer), read.count);
            std::string line;
            if (TakeLine(probe.reply, line)) {
                Report(PeerFromReply(probe.address, line, settings_.firmwareModel));
                return false;
            }
            if (probe.reply.size() < SEARCH_REPLY_LIMIT) return true;
        }
        // Closed, failed or full without a line end: what has arrived is the line,
        // as the update's own reply reader takes it.
        Conclude(probe);
        return false;
    }

    void Report(const FoundPeer& peer) { listener_.OnFound(peer); }

    // A probe whose reply ended without a line end: nothing at all is silence.
    void Conclude(const Probe& probe) {
        if (probe.reply.empty()) {
            listener_.OnMissed(probe.address, ProbeMiss::Silent);
        } else {
            Report(PeerFromReply(probe.address, probe.reply, settings_.firmwareModel));
        }
    }

    // Closes probe i's socket and counts its address as probed.
    void Finish(size_t i) {
        probes_.erase(probes_.begin() + static_cast<std::ptrdiff_t>(i));
        ++outcome_.probed;
    }

    SearchOutcome Stopped() {
        probes_.clear();  // closes every socket at once
        outcome_.stopped = true;
        return outcome_;
    }

    ProbeNetwork& network_;
    const std::vector<Ipv4Address>& addresses_;
    const SearchSettings settings_;
    SearchListener& listener_;
    const SearchStop& stop_;
    std::vector<Probe> probes_;
    size_t next_ = 0;
    SearchOutcome outcome_;
};

}  // namespace

const char* ProbeMissName(ProbeMiss why) {
    switch (why) {
        case ProbeMiss::Refused:
            return "refused";
        case ProbeMiss::NoAnswer:
            return "no answer";
        case ProbeMiss::Silent:
            return "silent";
    }
    return "no answer";
}

SearchSettings EffectiveSettings(const SearchSettings& settings) {
    SearchSettings effective = settings;
    if (effective.jobs == 0) effective.jobs = DEFAULT_SEARCH_JOBS;
    effective.jobs = std::min(effective.jobs, SEARCH_MAX_JOBS);
    if (effective.connectTimeout.count() <= 0) effective.connectTimeout = DEFAULT_SEARCH_CONNECT_TIMEOUT;
    if (effective.replyTimeout.count() <= 0) effective.replyTimeout = DEFAULT_SEARCH_REPLY_TIMEOUT;
    return effective;
}

std::chrono::milliseconds SearchTimeBound(size_t count, const SearchSettings& settings) {
    const SearchSettings effective = EffectiveSettings(settings);
    const auto batches = static_cast<int64_t>((count + effective.jobs - 1) / effective.jobs);
    return batches * (effective.connectTimeout + effective.replyTimeout + SEARCH_STOP_POLL_INTERVAL);
}

FoundPeer PeerFromReply(const Ipv4Address& address, const std::string& line, const std::string& firmwareModel) {
    FoundPeer peer;
    peer.address = address;
    peer.kind = PeerKind::NOT_ACCESS_POINT;
    if (line.size() < MODEL_CODE_LENGTH) return peer;
    if (!std::all_of(line.begin(), line.begin() + MODEL_CODE_LENGTH, IsModelCharacter)) return peer;
    if (line.size() > GENERATION_BYTE) {
        const char digit = line[GENERATION_BYTE];
        if (digit == '\r') {
            peer.generationDigit = 0;
        } else if (digit >= '0' && digit <= '9') {
            peer.generationDigit = digit;
        } else {
            return peer;
        }
    }
    peer.kind = PeerKind::ACCESS_POINT;
    peer.modelCode = line.substr(0, MODEL_CODE_LENGTH);
    peer.generation = GenerationOf(line);
    peer.fitsFirmware = !firmwareModel.empty() && peer.modelCode == firmwareModel;
    return peer;
}

SearchOutcome SearchAccessPoints(ProbeNetwork& network, const std::vector<Ipv4Address>& addresses,
                                 const SearchSettings& settings, SearchListener& listener, const SearchStop& stop) {
    return Search(network, addresses, settings, listener, stop).Run();
}

}  // namespace quorsel
