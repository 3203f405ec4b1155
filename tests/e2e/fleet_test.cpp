// quorsel-fleet against simulated access points in a private network namespace:
// healthy ones of both generations, another model, a rejected password, one that
// falls silent and one that closes in the middle of a range; Ctrl-C while one access
// point is busy; a silent named address; and command lines, files and report paths
// that are refused before anything is contacted.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "engine/search/access_point_search.h"
#include "tests/e2e/e2e_support.h"

namespace quorsel::testing {
namespace {

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t REGIONS_4_5_START = 0xB000;  // regions 4 and 5 of the 2 MiB layout run to its end

// The fleet's output lines without the time that leads each one when the output is no terminal.
std::vector<std::string> UntimedLines(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    for (std::string& line : lines) {
        const bool timed = line.size() > 20 && line[4] == '-' && line[7] == '-' && line[10] == 'T';
        if (timed && line.find(' ') != std::string::npos) line.erase(0, line.find(' ') + 1);
    }
    return lines;
}

struct Expected {
    std::string address;
    std::string apsimOptions;
    std::string result;    // report "result"
    std::string code;      // report "status"; empty for rows without a code of their own
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
    CommandResult RunFleet(const std::vector<Expected>& rows, const std::string& args, const std::string& env = "",
                           const std::string& report = "") {
        std::string aps;
        for (const Expected& row : rows) aps += row.address + " " + row.apsimOptions + "\n";
        WriteText(dir_.File("aps"), aps);
        const std::string script = (env.empty() ? "" : "env " + env + " ") +
                                   ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_fleet_in_netns.sh") + " " +
                                   ShellQuote(dir_.path()) + " " + ShellQuote(BuildPath("quorsel-apsim")) + " " +
                                   ShellQuote(dir_.File("aps")) + " -- " + ShellQuote(BuildPath("quorsel-fleet")) +
                                   " " + ShellQuote(firmware_) + " --password-file " +
                                   ShellQuote(dir_.File("password")) + " --report " +
                                   ShellQuote(report.empty() ? dir_.File("report.json") : report) +
                                   " " + args;
        CommandResult result = RunShell(script);
        std::ifstream rc(dir_.File("fleet.rc"));
        if (!(rc >> result.exitStatus)) result.exitStatus = -1;
        return result;
    }

    nlohmann::json Report() {
        std::ifstream in(dir_.File("report.json"));
        return nlohmann::json::parse(in, nullptr, false);
    }

    std::map<std::string, nlohmann::json> ReportByAddress() {
        nlohmann::json report = Report();
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
        const std::vector<std::string> lines = UntimedLines(run.out);
        for (const Expected& row : rows) {
            SCOPED_TRACE(row.address);
            ASSERT_EQ(report.count(row.address), 1u) << run.out;
            const nlohmann::json& entry = report[row.address];
            EXPECT_EQ(entry["result"], row.result) << entry.dump();
            if (row.code.empty()) {
                EXPECT_TRUE(entry["status"].is_null()) << entry.dump();
            } else {
                EXPECT_EQ(entry["status"], row.code) << entry.dump();
            }
            const std::string wanted = row.address + ": " + row.logLine;
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& line) { return line.rfind(wanted, 0) == 0; }))
                << "no line \"" << wanted << "\" in\n" << run.out;
            // Nothing is reported complete that was not written, and the reverse.
            const bool completed = entry["result"] == "updated";
            EXPECT_EQ(completed, FlashHoldsImage(row.address));
            if (completed) {
                EXPECT_EQ(entry["bytesAcknowledged"], MIB2 - REGIONS_4_5_START);
            }
        }
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string firmware_;
};

TEST_F(FleetTest, EightAccessPointsWithFaultsFromATargetFile) {
    const std::vector<Expected> rows = {
        {"10.79.2.10", "--model KRV001 --password secret", "updated", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.11", "--model KRV001 --password secret --merge-replies", "updated", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.12", "--model KRV001 --generation 1", "updated", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.13", "--model KRV001 --password secret --block-ms 2", "updated", "STATUS_COMPLETE", "正常終了"},
        {"10.79.2.14", "--model KRV999 --password secret", "skipped-other-model", "", "KRV999 対象外"},
        {"10.79.2.15", "--model KRV001 --password secret --answer-ip", "failed-before-writing", "STATUS_BAD_PASSWORD",
         "パスワードが間違っています"},
        {"10.79.2.16", "--model KRV001 --password secret --silent-at block:3", "failed-while-writing",
         "STATUS_WRITE_ERROR", "書込みエラーが発生しました"},
        {"10.79.2.17", "--model KRV001 --password secret --close-after-blocks 5", "failed-while-writing",
         "STATUS_WRITE_ERROR", "書込みエラーが発生しました"},
    };
    WriteText(dir_.File("targets"), "# the test network\n10.79.2.0/24  # searched first\n\n");
    const CommandResult run = RunFleet(rows, "--jobs 4 @" + ShellQuote(dir_.File("targets")), "QUORSEL_PEER_TIMEOUT_MS=1500");
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    ExpectRows(rows, run);
    auto report = ReportByAddress();
    EXPECT_EQ(report["10.79.2.14"]["model"], "KRV999");
    EXPECT_EQ(report["10.79.2.12"]["generation"], "old");
    EXPECT_EQ(report["10.79.2.12"]["generationDigit"], "1");
    EXPECT_EQ(report["10.79.2.10"]["generation"], "new");
    EXPECT_FALSE(report["10.79.2.15"]["flashTouched"].get<bool>());
    EXPECT_TRUE(report["10.79.2.17"]["flashTouched"].get<bool>());
    // Acknowledged blocks only: the simulator closed after five.
    EXPECT_LE(report["10.79.2.17"]["bytesAcknowledged"].get<uint64_t>(), 5u * 4096u);
    const nlohmann::json whole = Report();
    EXPECT_TRUE(whole["finished"].get<bool>());
    EXPECT_EQ(whole["exitStatus"], 1);
    EXPECT_EQ(whole["firmware"][0]["size"], std::filesystem::file_size(firmware_));
    EXPECT_EQ(whole["firmware"][0]["model"], "KRV001");
    EXPECT_EQ(whole["regions"], "fz");
    EXPECT_EQ(whole["targets"][0], "@" + dir_.File("targets"));
    EXPECT_EQ(report["10.79.2.15"]["exitStatus"], 279 - 256);
    EXPECT_NE(report["10.79.2.16"]["diagnostic"].get<std::string>().find("block"), std::string::npos)
        << report["10.79.2.16"].dump();
    EXPECT_EQ(UntimedLines(run.out).back(), "正常終了 4 台、失敗 3 台、中断 0 台、未実施 0 台、対象外 1 台");
}

TEST_F(FleetTest, CtrlCWaitsForTheBusyAccessPointAndStartsNoOther) {
    const std::vector<Expected> rows = {
        {"10.79.2.10", "--model KRV001 --password secret --erase-ms 2500 --block-ms 3", "updated", "STATUS_COMPLETE",
         "書込み中 (完了待ち)"},
        // Answers the probe and the run's inquiry, then nothing after "FLSH": not busy when stopped.
        {"10.79.2.11", "--model KRV001 --password secret --silent-at flsh", "stopped", "", "処理を中断しました"},
        {"10.79.2.12", "--model KRV001 --password secret", "stopped-before-start", "", "未実施"},
        {"10.79.2.13", "--model KRV001 --password secret", "stopped-before-start", "", "未実施"},
    };
    const std::string env = "FLEET_INTERRUPT_LOG=" + ShellQuote(dir_.File("apsim-10.79.2.10.log")) +
                            " FLEET_INTERRUPT_PATTERN=erasing FLEET_INTERRUPT_DELAY=0.5 FLEET_SECOND_INTERRUPT=1";
    const CommandResult run = RunFleet(rows, "--jobs 2 10.79.2.10 10.79.2.11 10.79.2.12 10.79.2.13", env);
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    ExpectRows(rows, run);
    const std::vector<std::string> lines = UntimedLines(run.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "書込み中の 1 台は中断できません。完了を待っています。"), 2)
        << run.out;
    EXPECT_EQ(lines.back(), "正常終了 1 台、失敗 0 台、中断 1 台、未実施 2 台、対象外 0 台") << run.out;
    const std::string stopped = ReportByAddress()["10.79.2.11"]["diagnostic"].get<std::string>();
    EXPECT_NE(stopped.find("stopped"), std::string::npos) << stopped;
    EXPECT_EQ(stopped.find("error"), std::string::npos) << stopped;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether any simulator took a connection.
bool AnyConnection(const TempDir& dir, const std::vector<std::string>& addresses) {
    for (const std::string& address : addresses) {
        for (const std::string& line : Lines(ReadText(dir.File("apsim-" + address + ".log")))) {
            if (line.find("connection") != std::string::npos) return true;
        }
    }
    return false;
}

TEST_F(FleetTest, TargetsWithoutAnAddressAndAnUnwritableReportContactNothing) {
    const std::vector<Expected> rows = {{"10.79.2.10", "--model KRV001 --password secret", "", "", ""}};
    WriteText(dir_.File("empty"), "");
    WriteText(dir_.File("comments"), "# nothing here\n\n   # still nothing\n");
    struct Case {
        std::string args;
        std::string report;  // empty: the usual one
        std::string message;
    };
    const Case cases[] = {
        {"@" + ShellQuote(dir_.File("empty")), "", "the targets given hold no address"},
        {"@" + ShellQuote(dir_.File("comments")), "", "the targets given hold no address"},
        {"@- </dev/null", "", "the targets given hold no address"},
        {"10.79.2.10", dir_.File("no-such-folder") + "/report.json", "レポートを書き込めません"},
        {"10.79.2.10", dir_.path(), "レポートを書き込めません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args + " " + c.report);
        const CommandResult run = RunFleet(rows, c.args, "", c.report);
        EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(AnyConnection(dir_, {"10.79.2.10"})) << ReadText(dir_.File("apsim-10.79.2.10.log"));
    }
}

// Without TARGET only the factory address is a default target in the namespace (its
// loopback is no subnet of the machine's): an access point there is written only with --yes.
TEST_F(FleetTest, DefaultTargetsAreWrittenOnlyAfterAYes) {
    const std::vector<Expected> rows = {{"192.168.1.254", "--model KRV001 --password secret", "", "", ""}};
    const std::string network = "FLEET_NETWORK=192.168.1.1/24";
    CommandResult run = RunFleet(rows, "</dev/null", network);
    EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("--yes"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("192.168.1.254"), std::string::npos) << run.out;  // the plan was shown
    EXPECT_FALSE(FlashHoldsImage("192.168.1.254"));
    run = RunFleet(rows, "--yes </dev/null", network);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_TRUE(FlashHoldsImage("192.168.1.254"));
}

TEST_F(FleetTest, ASilentNamedAddressEndsNoAnswerWithinTheSearchBound) {
    // Takes the connection and never answers "INQR"; a run would wait for its peer time-out.
    const std::vector<Expected> rows = {{"10.79.2.10", "--model KRV001 --password secret --silent-at inquiry", "", "", ""}};
    const CommandResult run = RunFleet(rows, "10.79.2.10", "QUORSEL_PEER_TIMEOUT_MS=60000");
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    const nlohmann::json report = Report();
    ASSERT_FALSE(report.is_discarded()) << run.out << run.err;
    ASSERT_EQ(report["accessPoints"].size(), 1u);
    EXPECT_EQ(report["accessPoints"][0]["result"], "no-answer");
    EXPECT_EQ(report["accessPoints"][0]["reason"], "silent");
    // The report's times are whole seconds: the bound of one address's probe, twice
    // over for a loaded machine, and two seconds for the rounding of both ends.
    const auto bound = SearchTimeBound(1, SearchSettings{}) * 2 + std::chrono::seconds(2);
    auto parse = [](const std::string& text) {
        std::tm time{};
        std::istringstream in(text);
        in >> std::get_time(&time, "%Y-%m-%dT%H:%M:%SZ");
        return std::chrono::seconds(timegm(&time));
    };
    const auto took = parse(report["ended"].get<std::string>()) - parse(report["started"].get<std::string>());
    EXPECT_LE(took, bound) << report.dump();
    EXPECT_LT(bound, std::chrono::seconds(60));
}

// Refused before any socket is opened: nothing needs a namespace.
TEST_F(FleetTest, InvalidArgumentsAndFilesThatCannotBeUsed) {
    WriteText(dir_.File("not-firmware"), "no container here\n");
    std::filesystem::create_directory(dir_.File("folder"));
    struct Case {
        std::string args;
        std::string message;  // on standard error
    };
    const std::string firmware = ShellQuote(firmware_);
    const Case cases[] = {
        {"", "引数の指定が間違っています"},
        {firmware + " --jobs 0 10.79.2.10", "--jobs"},
        {firmware + " --jobs=many 10.79.2.10", "--jobs"},
        {firmware + " -fx 10.79.2.10", "引数の指定が間違っています"},
        {firmware + " -b 10.79.2.10", "引数の指定が間違っています"},
        {firmware + " --colour 10.79.2.10", "--colour"},
        {firmware + " 10.79.2.300", "引数の指定が間違っています"},
        {firmware + " 10.0.0.0/8", "引数の指定が間違っています"},
        {firmware + " -i 10.79.2.10", firmware_ + " -i"},
        {firmware + " -fzi 10.79.2.10", firmware_ + " -i"},
        {firmware + " @" + ShellQuote(dir_.File("no-such-list")), dir_.File("no-such-list")},
        {firmware + " @" + ShellQuote(dir_.File("folder")), dir_.File("folder")},
        {firmware + " --password-file " + ShellQuote(dir_.File("no-such-password")) + " 10.79.2.10",
         "パスワードファイルを読み込めません: " + dir_.File("no-such-password")},
        {firmware + " --password-file=" + ShellQuote(dir_.File("folder")) + " 10.79.2.10",
         "パスワードファイルを読み込めません: " + dir_.File("folder")},
        {ShellQuote(dir_.File("no-such-firmware")) + " 10.79.2.10", dir_.File("no-such-firmware") + ": not found"},
        {ShellQuote(dir_.File("folder")) + " 10.79.2.10", dir_.File("folder") + ": is a directory"},
        {ShellQuote(dir_.File("not-firmware")) + " 10.79.2.10", "ファイルの読込みでエラーが発生しました: " + dir_.File("not-firmware")},
    };
    for (const Case& c : cases) {
        const CommandResult run = RunShell(ShellQuote(BuildPath("quorsel-fleet")) + " " + c.args + " </dev/null");
        EXPECT_EQ(run.exitStatus, 2) << c.args << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << "\n" << run.err;
        EXPECT_EQ(run.err.find("terminate called"), std::string::npos) << run.err;
    }
    for (const std::string& args : {std::string("--help"), std::string("-h"), std::string("--version"), firmware + " --help"}) {
        const CommandResult run = RunShell(ShellQuote(BuildPath("quorsel-fleet")) + " " + args + " </dev/null");
        EXPECT_EQ(run.exitStatus, 0) << args << run.err;
        EXPECT_NE(run.out.find("quorsel-fleet"), std::string::npos) << args << run.out;
    }
}

}  // namespace
}  // namespace quorsel::testing
