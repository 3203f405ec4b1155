// The fleet at engine level: several update runs at once in one process against
// scripted access points (run under ThreadSanitizer by the sanitizer builds), the
// stop switch's network, the target plan and the exit status.
#include "engine/fleet/fleet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/fleet/fleet_targets.h"
#include "engine/run_stop.h"
#include "tests/support/container_builder.h"
#include "tests/support/scripted_stream.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using testing::ScriptedStream;

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t REGIONS_4_5_START = 0xB000;  // to the end of the 2 MiB layout

// Peers by address, handed out from any run's thread.
class AddressedNetwork : public Network {
public:
    std::shared_ptr<ScriptedStream> AddPeer(const Ipv4Address& address) {
        auto peer = std::make_shared<ScriptedStream>();
        peers_[address].push_back(peer);
        return peer;
    }
    bool StartLibrary() override { return true; }
    void ReleaseLibrary() override {}
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& queue = peers_[peer.address];
        if (queue.empty()) return nullptr;
        auto next = queue.front();
        queue.pop_front();
        return std::make_unique<Borrowed>(next);
    }

private:
    class Borrowed : public ByteStream {
    public:
        explicit Borrowed(std::shared_ptr<ScriptedStream> peer) : peer_(std::move(peer)) {}
        bool Send(const uint8_t* data, size_t n) override { return peer_->Send(data, n); }
        IoResult Receive(uint8_t* buffer, size_t n, bool peek, std::chrono::milliseconds timeout) override {
            return peer_->Receive(buffer, n, peek, timeout);
        }

    private:
        std::shared_ptr<ScriptedStream> peer_;
    };
    std::mutex mutex_;
    std::map<Ipv4Address, std::deque<std::shared_ptr<ScriptedStream>>> peers_;
};

// Counts the runs that are under way at once.
class RunCounter : public FleetObserver {
public:
    void EntryChanged(size_t index, const FleetEntry& entry) override {
        std::lock_guard<std::mutex> lock(mutex_);
        states_[index] = entry.state;
        const auto running = static_cast<size_t>(std::count_if(
            states_.begin(), states_.end(), [](const auto& row) { return row.second == FleetState::RUNNING; }));
        maxRunning = std::max(maxRunning, running);
    }
    std::map<size_t, FleetState> states_;
    size_t maxRunning = 0;
    std::mutex mutex_;
};

class FleetTest : public ::testing::Test {
protected:
    void SetUp() override {
        plain_ = testing::MakePlainImage(MIB2, "KRV001", 5);
        ASSERT_TRUE(testing::WriteContainerFile(
            path_, testing::MakeContainerParts(plain_, testing::PseudoRandomBytes(100, 3), std::vector<uint8_t>(512, 0))));
        stored_ = testing::ScrambleImage(plain_);
        settings_.run.peer.port = {0x23, 0x2A};
        settings_.run.optionFlags = 0x30;
        settings_.run.programPath = path_;
        settings_.run.timeouts.lanRead = std::chrono::milliseconds(50);
        settings_.password = std::string("pw");
    }

    // An access point of this model that takes the range, or answers "IP" to its header.
    std::shared_ptr<ScriptedStream> AccessPoint(const Ipv4Address& address, const std::string& model, bool acceptsPassword) {
        network_.AddPeer(address)->AwaitSend().Deliver(model + "2\n");
        auto range = network_.AddPeer(address);
        range->AwaitSend().Deliver("OK\n");
        if (!acceptsPassword) {
            range->AwaitSend().Deliver("IP\n");
            return range;
        }
        range->AwaitSend().Deliver("OK\n").Deliver("S\n");
        for (uint32_t block = 0; block < (MIB2 - REGIONS_4_5_START + 4095) / 4096; ++block) {
            range->AwaitSend().Deliver("C \n");
        }
        range->Deliver("E \n").Deliver("OK\n");
        return range;
    }

    testing::TempDir dir_;
    std::string path_ = dir_.path() + "/firmware";
    std::vector<uint8_t> plain_, stored_;
    FleetSettings settings_;
    AddressedNetwork network_;
    RunCounter counter_;
};

TEST_F(FleetTest, SeveralRunsAtOnceEachWriteTheirOwnAccessPoint) {
    std::vector<FleetTarget> targets;
    std::vector<std::shared_ptr<ScriptedStream>> ranges;
    for (uint8_t host = 10; host < 16; ++host) {
        const Ipv4Address address{10, 0, 0, host};
        targets.push_back(FleetTarget{address, "", 0, false});
        ranges.push_back(AccessPoint(address, host == 13 ? "KRV999" : "KRV001", host != 14));
    }
    targets.push_back(FleetTarget{{10, 0, 0, 20}, "KRV002", '2', true});  // found by a search: skipped
    settings_.jobs = 3;
    Fleet fleet(settings_, targets, network_, counter_);
    fleet.Run();
    const std::vector<FleetEntry> entries = fleet.Snapshot();

    const std::map<uint8_t, StatusCode> expected = {{10, STATUS_COMPLETE}, {11, STATUS_COMPLETE},
                                                    {12, STATUS_COMPLETE}, {13, STATUS_WRONG_MODEL},
                                                    {14, STATUS_BAD_PASSWORD}, {15, STATUS_COMPLETE}};
    for (size_t i = 0; i < expected.size(); ++i) {
        const FleetEntry& entry = entries[i];
        SCOPED_TRACE(FormatAddress(entry.target.address));
        EXPECT_EQ(entry.state, FleetState::FINISHED);
        EXPECT_EQ(entry.outcome, expected.at(entry.target.address[3]));
        EXPECT_EQ(entry.target.generationDigit, '2');
        if (entry.outcome != STATUS_COMPLETE) continue;
        EXPECT_EQ(entry.bytesWritten, MIB2 - REGIONS_4_5_START);
        // "FLSH", the 20-byte header, then exactly the stored bytes of the range.
        const std::vector<uint8_t> sent = ranges[i]->AllSent();
        ASSERT_EQ(sent.size(), 4 + 20 + (MIB2 - REGIONS_4_5_START));
        EXPECT_TRUE(std::equal(sent.begin() + 24, sent.end(), stored_.begin() + REGIONS_4_5_START));
    }
    EXPECT_EQ(entries[3].target.modelCode, "KRV999");
    EXPECT_EQ(entries[6].state, FleetState::SKIPPED);
    EXPECT_LE(counter_.maxRunning, 3u);
    EXPECT_GE(counter_.maxRunning, 2u);
    EXPECT_EQ(FleetExitStatus(entries), 1);
}

TEST_F(FleetTest, StopBeforeTheStartLeavesEveryTargetNotStarted) {
    Fleet fleet(settings_, {FleetTarget{{10, 0, 0, 10}, "", 0, false}, FleetTarget{{10, 0, 0, 11}, "", 0, false}},
                network_, counter_);
    const StopAnswer answer = fleet.RequestStop();
    EXPECT_EQ(answer.busy, 0u);
    fleet.Run();
    for (const FleetEntry& entry : fleet.Snapshot()) EXPECT_EQ(entry.state, FleetState::NOT_STARTED);
    EXPECT_TRUE(fleet.RequestStop().repeated);
}

TEST(StoppableNetworkTest, AStopEndsWaitsOutsideTheBusyTimeOnly) {
    struct Case {
        bool busy;
        IoStatus wanted;
    };
    for (const Case& c : {Case{false, IoStatus::Failed}, Case{true, IoStatus::TimedOut}}) {
        AddressedNetwork inner;
        inner.AddPeer({10, 0, 0, 1})->FallSilent();
        inner.AddPeer({10, 0, 0, 1});  // for the connect after the stop
        RunStopSwitch stop;
        InquiryTap tap;
        StoppableNetwork network(inner, stop, &tap);
        PeerAddress peer;
        peer.address = {10, 0, 0, 1};
        auto stream = network.Connect(peer, std::chrono::milliseconds(10));
        ASSERT_NE(stream, nullptr);
        stop.SetBusy(c.busy);
        stop.RequestStop();
        uint8_t byte = 0;
        EXPECT_EQ(stream->Receive(&byte, 1, true, std::chrono::milliseconds(30)).status, c.wanted) << c.busy;
        EXPECT_EQ(stream->Send(&byte, 1), c.busy) << c.busy;
        EXPECT_EQ(network.Connect(peer, std::chrono::milliseconds(10)) == nullptr, !c.busy) << c.busy;
    }
}

std::optional<std::string> NoFile(const std::string&) { return std::nullopt; }

TEST(FleetTargetsTest, AddressesRangesFilesAndErrors) {
    struct Case {
        std::vector<std::string> arguments;
        size_t direct;
        size_t searched;
        bool defaults;
        bool error;
    };
    const std::map<std::string, std::string> files = {
        {"list", "# access points\n10.0.0.5\n\n10.0.1.0/30  # a small range\n  10.0.0.6\r\n"},
        {"bad", "10.0.0.5\n10.0.0.300\n"},
    };
    auto read = [&](const std::string& path) -> std::optional<std::string> {
        auto found = files.find(path);
        if (found == files.end()) return std::nullopt;
        return found->second;
    };
    const Case cases[] = {
        {{}, 0, 0, true, false},
        {{"10.0.0.1", "10.0.0.2"}, 2, 0, false, false},
        {{"10.0.0.0/24"}, 0, 254, false, false},
        {{"@list"}, 2, 2, false, false},
        {{"@bad"}, 0, 0, false, true},
        {{"@missing"}, 0, 0, false, true},
        {{"10.0.0.1", "ten"}, 0, 0, false, true},
        {{"10.0.0.0/8"}, 0, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? std::string("(none)") : c.arguments.back());
        const FleetTargetPlan plan = PlanFleetTargets(c.arguments, read);
        EXPECT_EQ(!plan.error.empty(), c.error) << plan.error;
        if (c.error) continue;
        EXPECT_EQ(plan.direct.size(), c.direct);
        EXPECT_EQ(plan.searched.size(), c.searched);
        EXPECT_EQ(plan.defaults, c.defaults);
    }
    EXPECT_FALSE(PlanFleetTargets({"@x"}, NoFile).error.empty());
}

TEST(FleetTargetsTest, FoundAccessPointsFollowTheDirectOnesOnceEach) {
    FleetTargetPlan plan;
    plan.direct = {{10, 0, 0, 9}, {10, 0, 0, 3}, {10, 0, 0, 9}};
    std::vector<FoundPeer> found(4);
    found[0].address = {10, 0, 0, 7};
    found[0].modelCode = "KRV001";
    found[0].fitsFirmware = true;
    found[1].address = {10, 0, 0, 5};
    found[1].modelCode = "MXD001";
    found[2].address = {10, 0, 0, 3};  // given directly as well
    found[3].address = {10, 0, 0, 4};
    found[3].kind = PeerKind::NOT_ACCESS_POINT;
    const std::vector<FleetTarget> targets = FleetTargetsFrom(plan, found);
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(FormatAddress(targets[0].address), "10.0.0.9");
    EXPECT_EQ(FormatAddress(targets[1].address), "10.0.0.3");
    EXPECT_EQ(FormatAddress(targets[2].address), "10.0.0.5");
    EXPECT_TRUE(targets[2].skip);
    EXPECT_EQ(targets[2].modelCode, "MXD001");
    EXPECT_EQ(FormatAddress(targets[3].address), "10.0.0.7");
    EXPECT_FALSE(targets[3].skip);
}

TEST(FleetExitStatusTest, ZeroOnlyWhenEveryFittingAccessPointCompleted) {
    auto entry = [](FleetState state, StatusCode outcome) {
        FleetEntry e;
        e.state = state;
        e.outcome = outcome;
        return e;
    };
    const FleetEntry done = entry(FleetState::FINISHED, STATUS_COMPLETE);
    const FleetEntry skipped = entry(FleetState::SKIPPED, STATUS_NONE);
    EXPECT_EQ(FleetExitStatus({done, skipped}), 0);
    EXPECT_EQ(FleetExitStatus({}), 1);
    EXPECT_EQ(FleetExitStatus({skipped}), 1);
    EXPECT_EQ(FleetExitStatus({done, entry(FleetState::FINISHED, STATUS_ABORTED)}), 1);
    EXPECT_EQ(FleetExitStatus({done, entry(FleetState::NOT_STARTED, STATUS_NONE)}), 1);
    EXPECT_EQ(FleetExitStatus({done, entry(FleetState::FINISHED, STATUS_WRITE_ERROR)}), 1);
}

}  // namespace
}  // namespace quorsel
