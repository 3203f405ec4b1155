#include "engine/access_point_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/background_search.h"
#include "tests/support/fake_probe_network.h"

namespace quorsel {
namespace {

using testing::FakePeer;
using testing::FakePeerBehaviour;
using testing::FakeProbeNetwork;
using namespace std::chrono_literals;

class RecordingListener : public SearchListener {
public:
    void OnFound(const FoundPeer& peer) override { found.push_back(peer); }
    void OnProgress(size_t probed, size_t total) override { progress.emplace_back(probed, total); }

    const FoundPeer* Find(const Ipv4Address& address) const {
        const auto it = std::find_if(found.begin(), found.end(), [&](const FoundPeer& p) { return p.address == address; });
        return it == found.end() ? nullptr : &*it;
    }

    std::vector<FoundPeer> found;
    std::vector<std::pair<size_t, size_t>> progress;
};

Ipv4Address Host(uint8_t last) { return {10, 79, 1, last}; }

std::vector<Ipv4Address> Hosts(uint8_t first, uint8_t last) {
    std::vector<Ipv4Address> hosts;
    for (unsigned i = first; i <= last; ++i) hosts.push_back(Host(static_cast<uint8_t>(i)));
    return hosts;
}

SearchSettings Short(size_t jobs = 0) {
    SearchSettings settings;
    settings.jobs = jobs;
    settings.connectTimeout = 60ms;
    settings.replyTimeout = 60ms;
    settings.firmwareModel = "KRV001";
    return settings;
}

TEST(SearchAccessPoints, ReportsAccessPointsAndOtherServicesButNotSilentAddresses) {
    FakeProbeNetwork network;
    network.Script(Host(1), {FakePeerBehaviour::Answer, "KRV0012\n"});
    network.Script(Host(2), {FakePeerBehaviour::Answer, "MXD0011\r\n"});
    network.Script(Host(3), {FakePeerBehaviour::Answer, "KRV001"});  // closes without a line end
    network.Script(Host(4), {FakePeerBehaviour::Answer, "?#garbage#?\n"});
    network.Script(Host(5), {FakePeerBehaviour::Silent, ""});
    network.Script(Host(6), {FakePeerBehaviour::Refuse, ""});
    network.Script(Host(7), {FakePeerBehaviour::Answer, ""});        // accepts and closes
    // 8 to 10 drop the attempt (not scripted).
    const std::vector<Ipv4Address> addresses = Hosts(1, 10);
    RecordingListener listener;
    SearchStop stop;

    const SearchOutcome outcome = SearchAccessPoints(network, addresses, Short(), listener, stop);

    EXPECT_EQ(outcome.error, "");
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.probed, addresses.size());
    struct Expected {
        uint8_t host;
        PeerKind kind;
        const char* model;
        char digit;
        Generation generation;
        bool fits;
    };
    const Expected expected[] = {
        {1, PeerKind::ACCESS_POINT, "KRV001", '2', Generation::New, true},
        {2, PeerKind::ACCESS_POINT, "MXD001", '1', Generation::Old, false},
        {3, PeerKind::ACCESS_POINT, "KRV001", 0, Generation::Old, true},
        {4, PeerKind::NOT_ACCESS_POINT, "", 0, Generation::Old, false},
        {5, PeerKind::NOT_ACCESS_POINT, "", 0, Generation::Old, false},
        {7, PeerKind::NOT_ACCESS_POINT, "", 0, Generation::Old, false},
    };
    EXPECT_EQ(listener.found.size(), std::size(expected));
    for (const Expected& e : expected) {
        SCOPED_TRACE(int{e.host});
        const FoundPeer* peer = listener.Find(Host(e.host));
        ASSERT_NE(peer, nullptr);
        EXPECT_EQ(peer->kind, e.kind);
        EXPECT_EQ(peer->modelCode, e.model);
        EXPECT_EQ(peer->generationDigit, e.digit);
        EXPECT_EQ(peer->generation, e.generation);
        EXPECT_EQ(peer->fitsFirmware, e.fits);
    }
    // Every address was connected to once; "INQR" alone went to each that accepted.
    EXPECT_EQ(network.connects(), addresses);
    for (const auto& [address, bytes] : network.sent()) EXPECT_EQ(bytes, "INQR") << FormatAddress(address);
    EXPECT_EQ(network.sent().size(), 6u);
    EXPECT_EQ(network.open(), 0u);
    // Progress counts up to the total and ends there.
    ASSERT_FALSE(listener.progress.empty());
    EXPECT_EQ(listener.progress.back(), std::make_pair(addresses.size(), addresses.size()));
    EXPECT_TRUE(std::is_sorted(listener.progress.begin(), listener.progress.end()));
}

TEST(SearchAccessPoints, KeepsAtMostJobsSocketsOpenAndCarriesOnWhenSocketsRunOut) {
    struct Case {
        const char* name;
        size_t jobs;
        size_t socketLimit;
        size_t expectedMostOpen;
    };
    const Case cases[] = {
        {"jobs bound", 7, SIZE_MAX, 7},
        {"the platform has fewer sockets", 50, 5, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProbeNetwork network;
        network.LimitSockets(c.socketLimit);
        network.Script(Host(30), {FakePeerBehaviour::Answer, "KRV0012\n"});
        const std::vector<Ipv4Address> addresses = Hosts(1, 40);
        RecordingListener listener;
        SearchStop stop;

        const SearchOutcome outcome = SearchAccessPoints(network, addresses, Short(c.jobs), listener, stop);

        EXPECT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.probed, addresses.size());
        EXPECT_EQ(network.mostOpen(), c.expectedMostOpen);
        EXPECT_EQ(network.connects().size(), addresses.size());
        ASSERT_EQ(listener.found.size(), 1u);
        EXPECT_EQ(listener.found[0].address, Host(30));
    }
}

TEST(SearchAccessPoints, NoSocketAtAllIsAnError) {
    FakeProbeNetwork network;
    network.LimitSockets(0);
    RecordingListener listener;
    SearchStop stop;
    const SearchOutcome outcome = SearchAccessPoints(network, Hosts(1, 3), Short(), listener, stop);
    EXPECT_NE(outcome.error, "");
    EXPECT_EQ(outcome.probed, 0u);
}

TEST(SearchAccessPoints, StopClosesEverySocketAtOnceAndReportsNothingMore) {
    FakeProbeNetwork network;
    SearchStop stop;
    size_t waits = 0;
    size_t openAtStop = 0;
    network.OnWait([&] {
        if (++waits == 3) {
            openAtStop = network.open();
            stop.Request();
        }
    });
    network.Script(Host(1), {FakePeerBehaviour::Silent, ""});
    RecordingListener listener;
    SearchSettings settings = Short(16);
    // Bounds far longer than the test: only the stop can end this search early.
    settings.connectTimeout = 600s;
    settings.replyTimeout = 600s;
    const auto started = std::chrono::steady_clock::now();

    const SearchOutcome outcome = SearchAccessPoints(network, Hosts(1, 100), settings, listener, stop);

    EXPECT_LT(std::chrono::steady_clock::now() - started, settings.connectTimeout);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(openAtStop, 16u);
    EXPECT_EQ(network.open(), 0u);
    EXPECT_EQ(network.connects().size(), 16u);
    EXPECT_TRUE(listener.found.empty());  // the silent peer's bound had not passed
}

// Counts the listener's calls; read from the test's thread while the search runs.
class CountingListener : public SearchListener {
public:
    void OnFound(const FoundPeer&) override { ++found; ++calls; }
    void OnProgress(size_t, size_t) override { ++calls; }
    std::atomic<size_t> found{0};
    std::atomic<size_t> calls{0};
};

TEST(BackgroundSearch, RunsOnItsOwnThreadAndStopsFromAnother) {
    FakeProbeNetwork network;  // every other address drops: only the stop ends the search in time
    network.Script(Host(1), {FakePeerBehaviour::Answer, "KRV0012\n"});
    CountingListener listener;
    SearchSettings settings = Short();
    settings.connectTimeout = 600s;
    std::atomic<int> finishedCalls{0};
    std::atomic<bool> finishedStopped{false};
    BackgroundSearch search;
    search.Start(network, Hosts(1, 20), settings, listener, [&](const SearchOutcome& outcome) {
        finishedStopped = outcome.stopped;
        ++finishedCalls;
    });
    // The answering peer is reported while the others still wait.
    for (int i = 0; i < 1000 && listener.found == 0; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(listener.found, 1u);
    search.Stop();

    EXPECT_TRUE(search.outcome().stopped);
    EXPECT_EQ(finishedCalls, 1);
    EXPECT_TRUE(finishedStopped);
    EXPECT_EQ(network.open(), 0u);
    const size_t callsAtStop = listener.calls;
    std::this_thread::sleep_for(2 * SEARCH_STOP_POLL_INTERVAL);
    EXPECT_EQ(listener.calls, callsAtStop);
}

TEST(PeerFromReply, TellsModelLinesFromOtherReplies) {
    struct Case {
        std::string line;
        PeerKind kind;
        char digit;
        Generation generation;
    };
    const Case cases[] = {
        {"KRV0012", PeerKind::ACCESS_POINT, '2', Generation::New},
        {"KRV0019 more", PeerKind::ACCESS_POINT, '9', Generation::New},
        {"KRV0011", PeerKind::ACCESS_POINT, '1', Generation::Old},
        {"KRV001", PeerKind::ACCESS_POINT, 0, Generation::Old},
        {"KRV001\r", PeerKind::ACCESS_POINT, 0, Generation::Old},
        {"KRV00", PeerKind::NOT_ACCESS_POINT, 0, Generation::Old},
        {"", PeerKind::NOT_ACCESS_POINT, 0, Generation::Old},
        {"?#garbage#?", PeerKind::NOT_ACCESS_POINT, 0, Generation::Old},
        {"SSH-2.0-OpenSSH", PeerKind::NOT_ACCESS_POINT, 0, Generation::Old},
        {"HTTP/1.1 400", PeerKind::NOT_ACCESS_POINT, 0, Generation::Old},
        {std::string("KRV001\x82", 7), PeerKind::NOT_ACCESS_POINT, 0, Generation::Old},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const FoundPeer peer = PeerFromReply(Host(1), c.line, "KRV001");
        EXPECT_EQ(peer.kind, c.kind);
        EXPECT_EQ(peer.generationDigit, c.digit);
        EXPECT_EQ(peer.generation, c.generation);
        EXPECT_EQ(peer.fitsFirmware, c.kind == PeerKind::ACCESS_POINT);
        EXPECT_EQ(peer.modelCode, c.kind == PeerKind::ACCESS_POINT ? "KRV001" : "");
    }
}

}  // namespace
}  // namespace quorsel
