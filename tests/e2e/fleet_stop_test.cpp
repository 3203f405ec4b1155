// quorsel-fleet told to stop while an access point is in the middle of a range:
// by SIGTERM, and by Ctrl-C with its output going into a pipe whose reader has gone.
// The busy access point gets its whole range, none other starts, the fleet ends
// on its own (status 1, never killed by a signal) and its report tells the truth.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace quorsel::testing {
namespace {

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t REGIONS_4_5_START = 0xB000;
const std::string BUSY = "10.79.2.10";
const std::vector<std::string> NOT_BEGUN = {"10.79.2.11", "10.79.2.12"};
// The busy one erases for 0.3 s, then takes 8 ms per block (about 500 blocks): the
// stop comes 1 s after its erasing began, seconds before the range's end.
const std::string PACED = "--model KRV001 --password secret --erase-ms 300 --block-ms 8";
const std::string STOP_AFTER_ERASING_BEGAN = "FLEET_INTERRUPT_PATTERN=erasing FLEET_INTERRUPT_DELAY=1";

class FleetStopTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = SampleImage(MIB2, "KRV001");
        firmware_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), image_, "firmware");
        ASSERT_FALSE(firmware_.empty()) << "quorsel-pack failed";
        std::ofstream(dir_.File("password")) << "secret\n";
        std::string aps = BUSY + " " + PACED + "\n";
        for (const std::string& address : NOT_BEGUN) aps += address + " --model KRV001 --password secret\n";
        std::ofstream(dir_.File("aps")) << aps;
    }

    // One run at a time, the busy one first; env sets how it is stopped.
    CommandResult RunFleet(const std::string& env) {
        std::string targets;
        for (const std::string& address : NOT_BEGUN) targets += " " + address;
        const std::string script =
            "env FLEET_INTERRUPT_LOG=" + ShellQuote(dir_.File("apsim-" + BUSY + ".log")) + " " +
            STOP_AFTER_ERASING_BEGAN + " " + env + " " +
            ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_fleet_in_netns.sh") + " " + ShellQuote(dir_.path()) +
            " " + ShellQuote(BuildPath("quorsel-apsim")) + " " + ShellQuote(dir_.File("aps")) + " -- " +
            ShellQuote(BuildPath("quorsel-fleet")) + " " + ShellQuote(firmware_) + " --password-file " +
            ShellQuote(dir_.File("password")) + " --report " + ShellQuote(dir_.File("report.json")) + " --jobs 1 " +
            BUSY + targets;
        CommandResult result = RunShell(script);
        std::ifstream rc(dir_.File("fleet.rc"));
        if (!(rc >> result.exitStatus)) result.exitStatus = -1;
        return result;
    }

    std::string ApsimLog(const std::string& address) {
        std::ifstream in(dir_.File("apsim-" + address + ".log"));
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // What every way of stopping must leave behind.
    void ExpectBusyFinishedAndNoOtherStarted(const CommandResult& run) {
        const std::string context = run.out + run.err;
        EXPECT_EQ(run.exitStatus, 1) << context;
        const std::string busyLog = ApsimLog(BUSY);
        EXPECT_NE(busyLog.find("range written"), std::string::npos) << busyLog;
        EXPECT_EQ(busyLog.find("range abandoned"), std::string::npos) << busyLog;
        const std::vector<uint8_t> flash = ReadFile(dir_.File("flash-" + BUSY + ".bin"));
        ASSERT_EQ(flash.size(), MIB2);
        EXPECT_TRUE(std::equal(image_.begin() + REGIONS_4_5_START, image_.end(), flash.begin() + REGIONS_4_5_START));
        for (const std::string& address : NOT_BEGUN) {
            EXPECT_EQ(ApsimLog(address).find("range header"), std::string::npos) << address << ApsimLog(address);
        }

        std::ifstream in(dir_.File("report.json"));
        const nlohmann::json report = nlohmann::json::parse(in, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << "the report is not valid JSON\n" << context;
        EXPECT_EQ(report["finished"], true);
        EXPECT_EQ(report["exitStatus"], 1);
        std::map<std::string, nlohmann::json> rows;
        for (const auto& row : report["accessPoints"]) rows[row["address"].get<std::string>()] = row;
        ASSERT_EQ(rows.count(BUSY), 1u) << report.dump(1);
        EXPECT_EQ(rows[BUSY]["result"], "updated") << rows[BUSY].dump();
        EXPECT_EQ(rows[BUSY]["flashTouched"], true);
        EXPECT_EQ(rows[BUSY]["bytesAcknowledged"], MIB2 - REGIONS_4_5_START);
        for (const std::string& address : NOT_BEGUN) {
            ASSERT_EQ(rows.count(address), 1u) << address;
            EXPECT_EQ(rows[address]["result"], "stopped-before-start") << rows[address].dump();
            EXPECT_EQ(rows[address]["flashTouched"], false);
        }
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string firmware_;
};

TEST_F(FleetStopTest, SigtermInTheMiddleOfARangeLetsItFinishAndStartsNoOther) {
    const CommandResult run = RunFleet("FLEET_INTERRUPT_SIGNAL=TERM");
    ExpectBusyFinishedAndNoOtherStarted(run);
    // Without a terminal: timestamped lines, the recap of both not begun, the counts last.
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 3u) << run.out;
    for (const std::string& line : lines) {
        EXPECT_TRUE(line.size() > 26 && line[4] == '-' && line[10] == 'T' && line[25] == ' ') << line;
    }
    for (const std::string& address : NOT_BEGUN) {
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.find(" " + address + " ") != std::string::npos &&
                                           line.find("stopped-before-start") != std::string::npos;
                                }),
                  1)
            << address << "\n" << run.out;
    }
    EXPECT_NE(lines.back().find("正常終了 1 台"), std::string::npos) << run.out;
}

TEST_F(FleetStopTest, OutputIntoAPipeWithoutReaderNeitherEndsNorHoldsTheFleet) {
    // Twice Ctrl-C: each one writes notices into the broken pipe.
    const CommandResult run = RunFleet("FLEET_INTERRUPT_SIGNAL=INT FLEET_SECOND_INTERRUPT=1 FLEET_OUTPUT_CLOSED=1");
    EXPECT_NE(run.exitStatus, 128 + 13) << "ended by SIGPIPE";
    ExpectBusyFinishedAndNoOtherStarted(run);
}

}  // namespace
}  // namespace quorsel::testing
