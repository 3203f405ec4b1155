// quorsel-fleet against eight simulated access points in a private network
// namespace: healthy ones of both generations, another model, a rejected password,
// one that falls silent and one that closes in the middle of a range; and Ctrl-C
// while one access point is busy.
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
constexpr uint32_t REGIONS_4_5_START = 0xB000;  // regions 4 and 5 of the 2 MiB layout run to its end

struct Expected {
    std::string address;
    std::string apsimOptions;
    std::string state;     // report "state"
    std::string code;      // report outcome code; empty for rows without a run
    std::string logLine;   // a line the log must hold, after "ADDRESS: "
};

class FleetTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = SampleImage(MIB2, "KRV001");
        firmware_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), image_, "firmware");
        ASSERT_FALSE(firmware_.empty()) << "quorsel-pack failed";
        WriteText(dir_.File("password"), "secret\n");
    }

    static void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    // Starts one simulator per row and runs quorsel-fleet with args; env before it.
    CommandResult RunFleet(const std::vector<Expected>& rows, const std::string& args, const std::string& env = "") {
        std::string aps;
        for (const Expected& row : rows) aps += row.address + " " + row.apsimOptions + "\n";
        WriteText(dir_.File("aps"), aps);
        const std::string script = (env.empty() ? "" : "env " + env + " ") +
                                   ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_fleet_in_netns.sh") + " " +
                                   ShellQuote(dir_.path()) + " " + ShellQuote(BuildPath("quorsel-apsim")) + " " +
                                   ShellQuote(dir_.File("aps")) + " -- " + ShellQuote(BuildPath("quorsel-fleet")) +
                                   " " + ShellQuote(firmware_) + " --password-file " +
                                   ShellQuote(dir_.File("password")) + " --report " + ShellQuote(dir_.File("report.json")) +
                                   " " + args;
        CommandResult result = RunShell(script);
        std::ifstream rc(dir_.File("fleet.rc"));
        if (!(rc >> result.exitStatus)) result.exitStatus = -1;
        return result;
    }

    std::map<std::string, nlohmann::json> ReportByAddress() {
        std::ifstream in(dir_.File("report.json"));
        nlohmann::json report = nlohmann::json::parse(in, nullptr, false);
        std::map<std::string, nlohmann::json> rows;
        if (report.is_discarded()) return rows;
        for (const auto& row : report["accessPoints"]) rows[row["address"].get<std::string>()] = row;
        return rows;
    }

    // Holds the image over regions 4 and 5 and is erased below them.
    bool FlashHoldsImage(const std::string& address) {
        const std::vector<uint8_t> flash = ReadFile(dir_.File("flash-" + address + ".bin"));
        if (flash.size() != MIB2) return false;
        return std::equal(image_.begin() + REGIONS_4_5_START, image_.end(), flash.begin() + REGIONS_4_5_START) &&
               std::all_of(flash.begin(), flash.begin() + REGIONS_4_5_START, [](uint8_t b) { return b == 0xFF; });
    }

    void ExpectRows(const std::vector<Expected>& rows, const CommandResult& run) {
        auto report = ReportByAddress();
        const std::vector<std::string> lines = Lines(run.out);
        for (const Expected& row : rows) {
            SCOPED_TRACE(row.address);
            ASSERT_EQ(report.count(row.address), 1u) << run.out;
            const nlohmann::json& entry = report[row.address];
            EXPECT_EQ(entry["state"], row.state);
            if (row.code.empty()) {
                EXPECT_TRUE(entry["outcome"]["code"].is_null());
            } else {
                EXPECT_EQ(entry["outcome"]["code"], row.code) << entry.dump();
            }
            const std::string wanted = row.address + ": " + row.logLine;
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& line) { return line.rfind(wanted, 0) == 0; }))
                << "no line \"" << wanted << "\" in\n" << run.out;
            // Nothing is reported complete that was not written, and the reverse.
            const bool completed = entry["outcome"]["code"] == "STATUS_COMPLETE";
            EXPECT_EQ(completed, FlashHoldsImage(row.address));
            if (completed) {
                EXPECT_EQ(entry["bytesWritten"], MIB2 - REGIONS_4_5_START);
            }
        }
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string firmware_;
};

TEST_F(FleetTest, EightAccessPointsWithFaultsFromATargetFile) {
    const std::vector<Expected> rows = {
        {"10.79.2.10", "--model KRV001 --password secret", "finished", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.11", "--model KRV001 --password secret --merge-replies", "finished", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.12", "--model KRV001 --generation 1", "finished", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.13", "--model KRV001 --password secret --block-ms 2", "finished", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.14", "--model KRV999 --password secret", "skipped", "", "KRV999 対象外"},
        {"10.79.2.15", "--model KRV001 --password secret --answer-ip", "finished", "STATUS_BAD_PASSWORD",
         "パスワードが間違っています"},
        {"10.79.2.16", "--model KRV001 --password secret --silent-at block:3", "finished", "STATUS_WRITE_ERROR",
         "書込みエラーが発生しました"},
        {"10.79.2.17", "--model KRV001 --password secret --close-after-blocks 5", "finished", "STATUS_WRITE_ERROR",
         "書込みエラーが発生しました"},
    };
    WriteText(dir_.File("targets"), "# the test network\n10.79.2.0/24  # searched first\n\n");
    const CommandResult run = RunFleet(rows, "--jobs 4 @" + ShellQuote(dir_.File("targets")), "QUORSEL_PEER_TIMEOUT_MS=1500");
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    ExpectRows(rows, run);
    auto report = ReportByAddress();
    EXPECT_EQ(report["10.79.2.14"]["model"], "KRV999");
    EXPECT_EQ(report["10.79.2.12"]["generation"], "1");
    EXPECT_EQ(report["10.79.2.15"]["exitStatus"], 279 - 256);
    EXPECT_NE(report["10.79.2.16"]["diagnostic"].get<std::string>().find("block"), std::string::npos)
        << report["10.79.2.16"].dump();
    EXPECT_EQ(Lines(run.out).back(), "正常終了 4 台、失敗 3 台、中断 0 台、未実施 0 台、対象外 1 台");
}

TEST_F(FleetTest, CtrlCWaitsForTheBusyAccessPointAndStartsNoOther) {
    const std::vector<Expected> rows = {
        {"10.79.2.10", "--model KRV001 --password secret --erase-ms 2500 --block-ms 3", "finished", "STATUS_COMPLETE",
         "書込み中 (完了待ち)"},
        {"10.79.2.11", "--model KRV001 --password secret --silent-at inquiry", "finished", "STATUS_ABORTED",
         "処理を中断しました"},
        {"10.79.2.12", "--model KRV001 --password secret", "not-started", "", "未実施"},
        {"10.79.2.13", "--model KRV001 --password secret", "not-started", "", "未実施"},
    };
    const std::string env = "FLEET_INTERRUPT_LOG=" + ShellQuote(dir_.File("apsim-10.79.2.10.log")) +
                            " FLEET_INTERRUPT_PATTERN=erasing FLEET_INTERRUPT_DELAY=0.5 FLEET_SECOND_INTERRUPT=1";
    const CommandResult run = RunFleet(rows, "--jobs 2 10.79.2.10 10.79.2.11 10.79.2.12 10.79.2.13", env);
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    ExpectRows(rows, run);
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "書込み中の 1 台は中断できません。完了を待っています。"), 2)
        << run.out;
    EXPECT_EQ(lines.back(), "正常終了 1 台、失敗 0 台、中断 1 台、未実施 2 台、対象外 0 台") << run.out;
}

// Refused before any socket is opened: nothing needs a namespace.
TEST_F(FleetTest, InvalidArgumentsAndUnreadableFirmware) {
    WriteText(dir_.File("not-firmware"), "no container here\n");
    struct Case {
        std::string args;
        int exitStatus;
    };
    const std::string firmware = ShellQuote(firmware_);
    const Case cases[] = {
        {"", 2},
        {firmware + " --jobs 0 10.79.2.10", 2},
        {firmware + " --jobs many 10.79.2.10", 2},
        {firmware + " -fx 10.79.2.10", 2},
        {firmware + " -b 10.79.2.10", 2},
        {firmware + " --colour 10.79.2.10", 2},
        {firmware + " 10.79.2.300", 2},
        {firmware + " 10.0.0.0/8", 2},
        {firmware + " @" + ShellQuote(dir_.File("no-such-list")), 2},
        {ShellQuote(dir_.File("no-such-firmware")) + " 10.79.2.10", 8},
        {ShellQuote(dir_.File("not-firmware")) + " 10.79.2.10", 8},
    };
    for (const Case& c : cases) {
        const CommandResult run = RunShell(ShellQuote(BuildPath("quorsel-fleet")) + " " + c.args + " </dev/null");
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.args << "\n" << run.out << run.err;
        if (c.exitStatus == 2) {
            EXPECT_NE(run.err.find("引数の指定が間違っています"), std::string::npos) << c.args << run.err;
        } else {
            EXPECT_NE(run.err.find("ファイルの読込みでエラーが発生しました"), std::string::npos) << c.args << run.err;
        }
    }
}

}  // namespace
}  // namespace quorsel::testing
