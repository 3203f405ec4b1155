#include "engine/search/access_point_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/fake_probe_network.h"

namespace quorsel {
namespace {

using testing::FakePeerBehaviour;
using testing::FakeProbeNetwork;
using namespace std::chrono_literals;

// Records the listener's calls.
class RecordingListener : public SearchListener {
public:
    void OnFound(const FoundPeer& peer) override { found.push_back(peer); }
    void OnProgress(size_t probed, size_t total) override { progress.emplace_back(probed, total); }
    void OnMissed(const Ipv4Address& address, ProbeMiss why) override { missed.emplace_back(address, why); }
    std::vector<FoundPeer> found;
    std::vector<std::pair<Ipv4Address, ProbeMiss>> missed;
    std::vector<std::pair<size_t, size_t>> progress;
};

Ipv4Address Host(unsigned last) { return {10, 79, 1, static_cast<uint8_t>(last)}; }

std::vector<Ipv4Address> Hosts(unsigned first, unsigned last) {
    std::vector<Ipv4Address> hosts;
    for (unsigned i = first; i <= last; ++i) hosts.push_back(Host(i));
    return hosts;
}

SearchSettings Short(size_t jobs = 0, std::chrono::milliseconds connect = 60ms) {
    SearchSettings settings;
    settings.jobs = jobs;
    settings.connectTimeout = connect;
    settings.replyTimeout = 60ms;
    settings.firmwareModel = "KRV001";
    return settings;
}

TEST(SearchAccessPoints, ReportsAccessPointsAndOtherServicesAndSaysWhyTheRestGaveNoReply) {
    FakeProbeNetwork network;
    network.Script(Host(1), {FakePeerBehaviour::Answer, "KRV0012\n"});
    network.Script(Host(2), {FakePeerBehaviour::Answer, "MXD0011\r\n"});
    network.Script(Host(3), {FakePeerBehaviour::Answer, "KRV001"});  // closes without a line end
    network.Script(Host(4), {FakePeerBehaviour::Answer, "?#garbage#?\n"});
    network.Script(Host(5), {FakePeerBehaviour::Silent, ""});
    network.Script(Host(6), {FakePeerBehaviour::Refuse, ""});
    network.Script(Host(7), {FakePeerBehaviour::Answer, ""});        // accepts and closes
    const std::vector<Ipv4Address> addresses = Hosts(1, 10);         // 8 to 10 drop the attempt
    RecordingListener listener;
    SearchStop stop;

    const SearchOutcome outcome = SearchAccessPoints(network, addresses, Short(), listener, stop);

    EXPECT_EQ(outcome.error, "");
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.probed, addresses.size());
    // host, model ("" : not an access point), generation digit, generation, fits
    const std::tuple<unsigned, std::string, char, Generation, bool> expected[] = {
        {1, "KRV001", '2', Generation::New, true}, {2, "MXD001", '1', Generation::Old, false},
        {3, "KRV001", 0, Generation::Old, true},   {4, "", 0, Generation::Old, false},
    };
    ASSERT_EQ(listener.found.size(), std::size(expected));
    for (const auto& [host, model, digit, generation, fits] : expected) {
        SCOPED_TRACE(host);
        const auto peer = std::find_if(listener.found.begin(), listener.found.end(),
                                       [&](const FoundPeer& p) { return p.address == Host(host); });
        ASSERT_NE(peer, listener.found.end());
        EXPECT_EQ(peer->kind, model.empty() ? PeerKind::NOT_ACCESS_POINT : PeerKind::ACCESS_POINT);
        EXPECT_EQ(peer->modelCode, model);
        EXPECT_EQ(peer->generationDigit, digit);
        EXPECT_EQ(peer->generation, generation);
        EXPECT_EQ(peer->fitsFirmware, fits);
    }
    // A silent service, or one that closes at once, is no peer to list.
    std::sort(listener.missed.begin(), listener.missed.end());
    const std::vector<std::pair<Ipv4Address, ProbeMiss>> missed = {
        {Host(5), ProbeMiss::Silent},   {Host(6), ProbeMiss::Refused},  {Host(7), ProbeMiss::Silent},
        {Host(8), ProbeMiss::NoAnswer}, {Host(9), ProbeMiss::NoAnswer}, {Host(10), ProbeMiss::NoAnswer},
    };
    EXPECT_EQ(listener.missed, missed);
    // Each address was connected to once; "INQR" alone went to each that accepted.
    EXPECT_EQ(network.connects(), addresses);
    EXPECT_EQ(network.sent().size(), 6u);
    for (const auto& [address, bytes] : network.sent()) EXPECT_EQ(bytes, "INQR") << FormatAddress(address);
    EXPECT_EQ(network.open(), 0u);
    ASSERT_FALSE(listener.progress.empty());
    EXPECT_EQ(listener.progress.back(), std::make_pair(addresses.size(), addresses.size()));
    EXPECT_TRUE(std::is_sorted(listener.progress.begin(), listener.progress.end()));
}

TEST(SearchAccessPoints, KeepsAtMostJobsSocketsOpenAndCarriesOnWhenSocketsRunOut) {
    // name, jobs, sockets the platform has, most open expected, error expected
    const std::tuple<const char*, size_t, size_t, size_t, bool> cases[] = {
        {"jobs bound", 7, SIZE_MAX, 7, false},
        {"the platform has fewer sockets", 50, 5, 5, false},
        {"no socket at all", 50, 0, 0, true},
    };
    for (const auto& [name, jobs, sockets, mostOpen, fails] : cases) {
        SCOPED_TRACE(name);
        FakeProbeNetwork network;
        network.LimitSockets(sockets);
        network.Script(Host(30), {FakePeerBehaviour::Answer, "KRV0012\n"});
        RecordingListener listener;
        SearchStop stop;

        const SearchOutcome outcome = SearchAccessPoints(network, Hosts(1, 40), Short(jobs), listener, stop);

        EXPECT_EQ(outcome.error.empty(), !fails);
        EXPECT_EQ(outcome.probed, fails ? 0u : 40u);
        EXPECT_EQ(network.mostOpen(), mostOpen);
        EXPECT_EQ(listener.found.size(), fails ? 0u : 1u);
    }
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
    // Bounds far longer than the test: only the stop can end this search early.
    SearchSettings settings = Short(16, 600s);
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

TEST(PeerFromReply, TellsModelLinesFromOtherReplies) {
    // reply line, is a model line, generation digit, generation
    const std::tuple<std::string, bool, char, Generation> cases[] = {
        {"KRV0012", true, '2', Generation::New},    {"KRV0019 more", true, '9', Generation::New},
        {"KRV0011", true, '1', Generation::Old},    {"KRV001\r", true, 0, Generation::Old},
        {"KRV00", false, 0, Generation::Old},       {"?#garbage#?", false, 0, Generation::Old},
        {"SSH-2.0-OpenSSH", false, 0, Generation::Old}, {std::string("KRV001\x82", 7), false, 0, Generation::Old},
    };
    for (const auto& [line, isModel, digit, generation] : cases) {
        SCOPED_TRACE(line);
        const FoundPeer peer = PeerFromReply(Host(1), line, "KRV001");
        EXPECT_EQ(peer.kind, isModel ? PeerKind::ACCESS_POINT : PeerKind::NOT_ACCESS_POINT);
        EXPECT_EQ(peer.modelCode, isModel ? "KRV001" : "");
        EXPECT_EQ(peer.generationDigit, digit);
        EXPECT_EQ(peer.generation, generation);
        EXPECT_EQ(peer.fitsFirmware, isModel);
    }
}

}  // namespace
}  // namespace quorsel
