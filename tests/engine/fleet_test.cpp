// The fleet at engine level: several update runs at once in one process against
// scripted access points (run under ThreadSanitizer by the sanitizer builds), how
// each row ends, the stop switch's network, the target plan, the report and the
// exit status.
#include "engine/fleet/fleet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "engine/fleet/fleet_report.h"
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

// One row to run (or, with skip, another model's) as the probe found it.
FleetTarget Target(const Ipv4Address& address, const std::string& model = "", char generation = 0, bool skip = false) {
    FleetTarget target;
    target.address = address;
    target.modelCode = model;
    target.generationDigit = generation;
    target.skip = skip;
    return target;
}

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
    std::shared_ptr<ScriptedStream> AccessPoint(const Ipv4Address& address, const std::string& model, bool acceptsPassword,
                                                char generation = '2') {
        network_.AddPeer(address)->AwaitSend().Deliver(model + std::string(1, generation) + "\n");
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
        targets.push_back(Target(address, "", 0, false));
        ranges.push_back(AccessPoint(address, host == 13 ? "KRV999" : "KRV001", host != 14));
    }
    targets.push_back(Target({10, 0, 0, 20}, "KRV002", '2', true));  // found by a search: skipped
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
    // Refused before any range header was accepted: nothing reached the flash.
    for (size_t i : {3, 4}) {
        EXPECT_EQ(entries[i].result, FleetResult::FAILED_BEFORE_WRITING) << i;
        EXPECT_FALSE(entries[i].flashTouched) << i;
    }
    EXPECT_EQ(entries[0].result, FleetResult::UPDATED);
    EXPECT_TRUE(entries[0].flashTouched);
    EXPECT_EQ(entries[6].result, FleetResult::SKIPPED_OTHER_MODEL);
    EXPECT_LE(counter_.maxRunning, 3u);
    EXPECT_GE(counter_.maxRunning, 2u);
    EXPECT_EQ(FleetExitStatus(entries), 1);
}

TEST_F(FleetTest, ARolloutRunsBatchByBatchAndStopsBeyondItsFailureBound) {
    // Batches of one: each run starts once the one before has ended. The first two
    // access points refuse the password; with a bound of one failure the rest never start.
    std::vector<FleetTarget> targets;
    for (uint8_t host = 10; host < 14; ++host) {
        targets.push_back(Target({10, 0, 0, host}));
        AccessPoint({10, 0, 0, host}, "KRV001", host >= 12);
    }
    settings_.jobs = 4;
    settings_.rollout.emplace(targets.size(), ParseBatches("1").value(), ParseMaxFail("1").value());
    Fleet fleet(settings_, targets, network_, counter_);
    fleet.Run();
    const std::vector<FleetEntry> entries = fleet.Snapshot();
    EXPECT_EQ(counter_.maxRunning, 1u);
    for (size_t i : {0, 1}) EXPECT_EQ(entries[i].result, FleetResult::FAILED_BEFORE_WRITING) << i;
    for (size_t i : {2, 3}) {
        EXPECT_EQ(entries[i].result, FleetResult::STOPPED_BEFORE_START) << i;
        EXPECT_EQ(entries[i].reason, "not started: 2 failed, more than --max-fail 1");
    }
}

TEST_F(FleetTest, StopBeforeTheStartLeavesEveryTargetNotStarted) {
    Fleet fleet(settings_, {Target({10, 0, 0, 10}, "", 0, false), Target({10, 0, 0, 11}, "", 0, false)},
                network_, counter_);
    const StopAnswer answer = fleet.RequestStop();
    EXPECT_EQ(answer.busy, 0u);
    fleet.Run();
    for (const FleetEntry& entry : fleet.Snapshot()) {
        EXPECT_EQ(entry.state, FleetState::NOT_STARTED);
        EXPECT_EQ(entry.result, FleetResult::STOPPED_BEFORE_START);
    }
    EXPECT_TRUE(fleet.RequestStop().repeated);
}

// Stops the fleet as soon as a row's run is connecting (from the run's own thread).
class StopWhenConnecting : public FleetObserver {
public:
    void EntryChanged(size_t, const FleetEntry& entry) override {
        if (entry.state == FleetState::RUNNING && entry.lastCode == STATUS_CONNECTING && fleet != nullptr) {
            fleet->RequestStop();
        }
    }
    Fleet* fleet = nullptr;
};

TEST_F(FleetTest, RowsEndWithTheirOwnResultAndTheOthersGoOn) {
    // 10: no thread for its run; 11: old generation, needs no password; 12: new
    // generation, and no password was given.
    AccessPoint({10, 0, 0, 11}, "KRV001", true, '1');
    AccessPoint({10, 0, 0, 12}, "KRV001", true);
    settings_.password.reset();
    settings_.jobs = 4;
    // Only the first run's thread fails to start.
    settings_.startThread = [calls = std::make_shared<int>(0)](std::thread& thread, std::function<void()> body) {
        if ((*calls)++ == 0) return false;
        thread = std::thread(std::move(body));
        return true;
    };
    std::vector<FleetTarget> targets;
    for (uint8_t host = 10; host < 13; ++host) targets.push_back(Target({10, 0, 0, host}, "", 0, false));
    Fleet fleet(settings_, targets, network_, counter_);
    fleet.Run();
    const std::vector<FleetEntry> entries = fleet.Snapshot();
    EXPECT_EQ(entries[0].result, FleetResult::FAILED_BEFORE_WRITING);
    EXPECT_EQ(entries[0].reason, FLEET_NO_THREAD_REASON);
    EXPECT_EQ(entries[1].result, FleetResult::UPDATED);
    EXPECT_EQ(entries[2].result, FleetResult::FAILED_BEFORE_WRITING);
    EXPECT_EQ(entries[2].reason, FLEET_NO_PASSWORD_REASON);
    EXPECT_EQ(FleetExitStatus(entries), 1);
}

TEST_F(FleetTest, AcknowledgedBytesOnlyAndAFailureAfterTheHeaderIsFailedWhileWriting) {
    network_.AddPeer({10, 0, 0, 13})->AwaitSend().Deliver("KRV0012\n");
    auto broken = network_.AddPeer({10, 0, 0, 13});
    broken->AwaitSend().Deliver("OK\n").AwaitSend().Deliver("OK\n").Deliver("S\n");
    for (int block = 0; block < 3; ++block) broken->AwaitSend().Deliver("C \n");
    broken->FallSilent();
    Fleet fleet(settings_, {Target({10, 0, 0, 13}, "", 0, false)}, network_, counter_);
    fleet.Run();
    const FleetEntry entry = fleet.Snapshot().front();
    EXPECT_EQ(entry.result, FleetResult::FAILED_WHILE_WRITING);
    EXPECT_TRUE(entry.flashTouched);
    EXPECT_FALSE(entry.stopped);
    // A fourth block was sent, but never answered.
    EXPECT_EQ(entry.bytesWritten, 3u * 4096u);
}

TEST_F(FleetTest, ARunStoppedWhileNotBusyIsStoppedAndSaysSo) {
    network_.AddPeer({10, 0, 0, 10})->FallSilent();  // takes the connection, never answers "INQR"
    settings_.run.timeouts.lanRead = std::chrono::milliseconds(60000);
    settings_.jobs = 1;
    StopWhenConnecting stopper;
    Fleet fleet(settings_, {Target({10, 0, 0, 10}, "", 0, false), Target({10, 0, 0, 11}, "", 0, false)},
                network_, stopper);
    stopper.fleet = &fleet;
    fleet.Run();
    const std::vector<FleetEntry> entries = fleet.Snapshot();
    EXPECT_EQ(entries[0].result, FleetResult::STOPPED);
    EXPECT_TRUE(entries[0].stopped);
    EXPECT_EQ(entries[0].diagnostic.rfind(FLEET_STOPPED_DIAGNOSTIC, 0), 0u) << entries[0].diagnostic;
    EXPECT_EQ(entries[0].diagnostic.find("error"), std::string::npos) << entries[0].diagnostic;
    EXPECT_EQ(entries[1].result, FleetResult::STOPPED_BEFORE_START);
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

TEST(FleetTargetsTest, NamedAddressesGetARowWhateverTheProbeFound) {
    EXPECT_FALSE(PlanFleetTargets({}).error.empty());  // an empty @FILE: nothing is searched instead
    EXPECT_FALSE(PlanFleetTargets({"10.0.0.1", "ten"}).error.empty());
    const FleetTargetPlan plan = PlanFleetTargets({"10.0.0.9", "10.0.0.0/29", "10.0.0.3", "10.0.0.9"});
    ASSERT_TRUE(plan.error.empty()) << plan.error;
    EXPECT_EQ(plan.probed.size(), 7u);  // 10.0.0.9 and the six hosts of the range, 10.0.0.3 among them
    ASSERT_EQ(plan.named.size(), 2u);

    auto peer = [](uint8_t host, PeerKind kind, const std::string& model, bool fits) {
        FoundPeer found;
        found.address = {10, 0, 0, host};
        found.kind = kind;
        found.modelCode = model;
        found.generationDigit = '2';
        found.fitsFirmware = fits;
        return found;
    };
    const std::vector<FoundPeer> found = {peer(6, PeerKind::ACCESS_POINT, "KRV001", true),
                                          peer(5, PeerKind::ACCESS_POINT, "MXD001", false),
                                          peer(4, PeerKind::NOT_ACCESS_POINT, "", false),
                                          peer(3, PeerKind::NOT_ACCESS_POINT, "", false)};
    const std::vector<MissedPeer> missed = {{{10, 0, 0, 9}, ProbeMiss::Silent}, {{10, 0, 0, 1}, ProbeMiss::Refused}};
    const std::vector<FleetTarget> targets = FleetTargetsFrom(plan, found, missed, "KRV001");
    // 9 and 3 as named, then what the range found; 4 (no access point) and 1 (refused) get no row.
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(FormatAddress(targets[0].address), "10.0.0.9");
    EXPECT_EQ(targets[0].verdict, FleetResult::NO_ANSWER);
    EXPECT_EQ(targets[0].reason, "silent");
    EXPECT_EQ(FormatAddress(targets[1].address), "10.0.0.3");
    EXPECT_EQ(targets[1].verdict, FleetResult::NOT_AN_ACCESS_POINT);
    EXPECT_EQ(FormatAddress(targets[2].address), "10.0.0.5");
    EXPECT_EQ(targets[2].verdict, FleetResult::SKIPPED_OTHER_MODEL);
    EXPECT_EQ(FormatAddress(targets[3].address), "10.0.0.6");
    EXPECT_EQ(targets[3].verdict, FleetResult::NONE);
    EXPECT_EQ(targets[3].generationDigit, '2');
    // The order given: a range before a named address runs first; a search of the
    // default targets runs in address order.
    const std::vector<FleetTarget> rangeFirst =
        FleetTargetsFrom(PlanFleetTargets({"10.0.0.0/29", "10.0.0.9"}), found, missed, "KRV001");
    ASSERT_EQ(rangeFirst.size(), 3u);
    EXPECT_EQ(FormatAddress(rangeFirst[0].address), "10.0.0.5");
    EXPECT_EQ(FormatAddress(rangeFirst[2].address), "10.0.0.9");
    const std::vector<FleetTarget> searched =
        FleetTargetsFrom(PlanDefaultTargets({{10, 0, 0, 6}, {10, 0, 0, 5}}), found, missed, "KRV001");
    ASSERT_EQ(searched.size(), 2u);
    EXPECT_EQ(FormatAddress(searched[0].address), "10.0.0.5");
}

TEST(FleetReportTest, KeysResultsAndAnAtomicReplacement) {
    FleetReportHeader header;
    header.version = "1.0";
    header.firmware = {FleetFirmware{"fw.exe", 2101234, std::string(64, 'a'), "KRV001"}};
    header.regions = "fz";
    header.targets = {"10.0.0.2", "@list"};
    FleetEntry updated;
    updated.target = Target({10, 0, 0, 2}, "KRV001", '2', false);
    updated.state = FleetState::FINISHED;
    updated.lastCode = updated.outcome = STATUS_COMPLETE;
    updated.result = FleetResult::UPDATED;
    updated.flashTouched = true;
    updated.bytesWritten = 4096;
    updated.startedUtc = updated.endedUtc = std::chrono::system_clock::now();
    FleetEntry stopped = updated;
    stopped.target.generationDigit = '1';
    stopped.outcome = STATUS_ABORTED;
    stopped.stopped = true;
    stopped.result = FleetResult::FAILED_WHILE_WRITING;
    FleetEntry waiting;
    waiting.target.address = {10, 0, 0, 4};
    const FleetReportTexts texts{[](StatusCode code, const Ipv4Address&) { return std::to_string(code); },
                                 [](StatusCode code) { return static_cast<int>(code) - 256; }, "not started"};

    using Json = nlohmann::json;
    Json running = Json::parse(FleetReportJson(header, {updated, stopped, waiting}, texts));
    EXPECT_EQ(running["program"], "quorsel-fleet");
    EXPECT_FALSE(running["finished"].get<bool>());
    EXPECT_TRUE(running["ended"].is_null());
    EXPECT_TRUE(running["exitStatus"].is_null());
    EXPECT_EQ(running["firmware"][0]["sha256"], std::string(64, 'a'));
    EXPECT_EQ(running["targets"][1], "@list");
    const Json& first = running["accessPoints"][0];
    for (const char* key : {"address", "model", "generation", "generationDigit", "result", "reason", "flashTouched",
                            "status", "exitStatus", "bytesAcknowledged", "started", "ended", "diagnostic", "firmware"}) {
        EXPECT_TRUE(first.contains(key)) << key;
    }
    EXPECT_EQ(first["result"], "updated");
    EXPECT_EQ(first["generation"], "new");
    EXPECT_EQ(first["status"], "STATUS_COMPLETE");
    EXPECT_EQ(first["exitStatus"], STATUS_COMPLETE - 256);
    EXPECT_EQ(first["firmware"], "fw.exe");
    // A stopped run has no code or exit status of its own.
    const Json& second = running["accessPoints"][1];
    EXPECT_EQ(second["result"], "failed-while-writing");
    EXPECT_EQ(second["generation"], "old");
    EXPECT_TRUE(second["status"].is_null());
    EXPECT_TRUE(second["exitStatus"].is_null());
    EXPECT_TRUE(running["accessPoints"][2]["result"].is_null());
    EXPECT_TRUE(running["accessPoints"][2]["model"].is_null());

    testing::TempDir dir;
    const std::string path = dir.path() + "/report.json";
    header.ended = std::chrono::system_clock::now();
    header.exitStatus = 1;
    ASSERT_EQ(ReplaceFileAtomically(path, FleetReportJson(header, {updated}, texts)), std::nullopt);
    auto read = [&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string saved = read();
    EXPECT_TRUE(Json::parse(saved)["finished"].get<bool>());
    // The temporary file cannot be made: the report stays what it was, and says why.
    std::filesystem::create_directory(path + ".tmp");
    const std::optional<std::string> failed = ReplaceFileAtomically(path, "{");
    ASSERT_TRUE(failed.has_value());
    EXPECT_NE(failed->find(path), std::string::npos);
    EXPECT_EQ(read(), saved);
}

TEST(FleetExitStatusTest, ZeroOnlyWhenEveryRunUpdatedFourWhenNoneWasNeeded) {
    auto entry = [](FleetResult result) {
        FleetEntry e;
        e.result = result;
        return e;
    };
    const FleetEntry updated = entry(FleetResult::UPDATED);
    const FleetEntry skipped = entry(FleetResult::SKIPPED_OTHER_MODEL);
    EXPECT_EQ(FleetExitStatus({updated, skipped}), 0);
    EXPECT_EQ(FleetExitStatus({}), 4);
    EXPECT_EQ(FleetExitStatus({skipped}), 4);
    for (FleetResult bad : {FleetResult::FAILED_BEFORE_WRITING, FleetResult::FAILED_WHILE_WRITING, FleetResult::STOPPED,
                            FleetResult::STOPPED_BEFORE_START, FleetResult::NO_ANSWER, FleetResult::NOT_AN_ACCESS_POINT}) {
        EXPECT_EQ(FleetExitStatus({updated, entry(bad)}), 1) << FleetResultName(bad);
        EXPECT_EQ(FleetExitStatus({skipped, entry(bad)}), 1) << FleetResultName(bad);
    }
}

}  // namespace
}  // namespace quorsel
