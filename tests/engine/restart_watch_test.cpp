// The restart watch over scripted peers and a clock of its own: a restart is seen only
// after the access point stopped answering and answered again as itself; the bound
// and a stop end the watch.
#include "engine/fleet/restart_watch.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "tests/support/fake_probe_network.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;
using testing::FakePeer;
using testing::FakePeerBehaviour;

constexpr Ipv4Address FIRST = {10, 0, 0, 2};
constexpr Ipv4Address SECOND = {10, 0, 0, 3};
const FakePeer REFUSES{FakePeerBehaviour::Refuse, ""};

FakePeer Answers(const char* line) { return {FakePeerBehaviour::Answer, line}; }

// Time that passes only in the watch's pauses; a hook scripts the peers for each round.
class SteppedClock : public RestartWatchClock {
public:
    std::chrono::steady_clock::time_point Now() override { return now_; }
    std::chrono::system_clock::time_point WallNow() override {
        return std::chrono::system_clock::time_point{} + (now_ - std::chrono::steady_clock::time_point{});
    }
    bool Pause(std::chrono::milliseconds pause, RestartWatchStop& stop) override {
        now_ += pause;
        ++pauses;
        if (beforeRound) beforeRound(pauses);
        return !stop.Requested();
    }
    std::function<void(int)> beforeRound;
    int pauses = 0;

private:
    std::chrono::steady_clock::time_point now_{};
};

class Recorder : public RestartWatchListener {
public:
    void RestartChanged(const RestartWatchEntry& entry) override { changes.push_back(entry); }
    std::vector<RestartWatchEntry> changes;
};

class RestartWatchTest : public ::testing::Test {
protected:
    RestartWatchSettings Settings(std::chrono::milliseconds bound) {
        RestartWatchSettings settings;
        settings.bound = bound;
        return settings;
    }
    testing::FakeProbeNetwork network;
    SteppedClock clock;
    Recorder recorder;
    RestartWatchStop stop;
};

TEST_F(RestartWatchTest, SeenOnlyWhenItWentQuietAndCameBackAsTheSameModel) {
    network.Script(FIRST, Answers("MXD0012\n"));   // still up after its update
    network.Script(SECOND, Answers("KRV0012\n"));
    clock.beforeRound = [&](int round) {
        if (round == 2) {
            network.Script(FIRST, REFUSES);
            network.Script(SECOND, REFUSES);
        }
        if (round == 4) {
            network.Script(FIRST, Answers("MXD0012\n"));
            network.Script(SECOND, Answers("ZLT0102\n"));  // another device at its address
        }
    };
    RestartWatch watch(network, Settings(60s), clock, recorder, stop);
    watch.Add(FIRST, "MXD001");
    watch.Add(SECOND, "KRV001");
    watch.Close();
    watch.Run();

    const std::vector<RestartWatchEntry> entries = watch.Snapshot();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].state, RestartState::SEEN);
    EXPECT_EQ(entries[0].seenAt.time_since_epoch(), 8s);  // the round after four pauses of 2 s
    EXPECT_EQ(entries[1].state, RestartState::NOT_SEEN);
    EXPECT_GE(clock.pauses, 30);  // the other one was asked until its bound, every 2 s
    EXPECT_LE(clock.pauses, 31);
    // Added, went quiet, seen; each state change told once.
    std::vector<RestartState> first;
    for (const RestartWatchEntry& change : recorder.changes) {
        if (change.address == FIRST) first.push_back(change.state);
    }
    EXPECT_EQ(first, (std::vector<RestartState>{RestartState::AWAITED, RestartState::AWAITED, RestartState::SEEN}));
    // Nothing but the inquiry ever reached them.
    for (const auto& [address, sent] : network.sent()) {
        ASSERT_EQ(sent.size() % 4, 0u);
        for (size_t i = 0; i < sent.size(); i += 4) EXPECT_EQ(sent.substr(i, 4), "INQR");
    }
}

TEST_F(RestartWatchTest, AStopEndsTheWaitAtOnce) {
    SystemRestartWatchClock realTime;
    RestartWatchSettings settings = Settings(30min);
    settings.interval = 10min;  // only the stop can end a pause this long within the test
    network.Script(FIRST, REFUSES);
    RestartWatch watch(network, settings, realTime, recorder, stop);
    auto running = std::async(std::launch::async, [&] { watch.Run(); });
    watch.Add(FIRST, "MXD001");
    std::this_thread::sleep_for(100ms);
    stop.Request();
    ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(watch.Snapshot().size(), 1u);
    EXPECT_EQ(watch.Snapshot()[0].state, RestartState::STOPPED);

    // With nothing to watch, Close ends the watch without waiting out its pause.
    RestartWatchStop second;
    RestartWatch idle(network, settings, realTime, recorder, second);
    auto idleRun = std::async(std::launch::async, [&] { idle.Run(); });
    idle.Close();
    EXPECT_EQ(idleRun.wait_for(10s), std::future_status::ready);
}

}  // namespace
}  // namespace quorsel
