// quorsel-fleet's plan, redo and rollout against simulated access points in a private
// network namespace: several fleet commands one after the other against the same
// simulators, each leaving its report, its output and its exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace quorsel::testing {
namespace {

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t REGIONS_4_5_START = 0xB000;  // regions 4 and 5 of the 2 MiB layout run to its end
const std::string OK = "--password secret";      // a healthy new-generation simulator, with its model

struct Step {
    Step(std::string arguments) : args(std::move(arguments)) {}
    std::string args;  // after the fleet's firmware file, password file and --report dir/reportN.json
    int exitStatus = -1;
    std::string out, err;
    std::map<std::string, nlohmann::json> rows;  // the report's access points by address
};

class RolloutTest : public ::testing::Test {
protected:
    void SetUp() override {
        krvImage_ = SampleImage(MIB2, "KRV001", 1);
        mxdImage_ = SampleImage(MIB2, "MXD001", 2);
        krv_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), krvImage_, "krv");
        mxd_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), mxdImage_, "mxd");
        ASSERT_FALSE(krv_.empty() || mxd_.empty()) << "quorsel-pack failed";
        std::ofstream(dir_.File("password")) << "secret\n";
    }

    // Starts the simulators ("ADDRESS OPTIONS" lines) and runs the steps in order in one
    // namespace; after each step the simulators' logs are kept as apsim-ADDRESS.log.N.
    void Run(const std::vector<std::string>& aps, std::vector<Step>& steps) {
        std::ofstream(dir_.File("aps")) << [&] {
            std::string text;
            for (const std::string& ap : aps) text += ap + "\n";
            return text;
        }();
        std::ostringstream script;
        for (size_t n = 0; n < steps.size(); ++n) {
            const std::string report = ShellQuote(dir_.File("report" + std::to_string(n) + ".json"));
            script << ShellQuote(BuildPath("quorsel-fleet")) << " " << ShellQuote(krv_) << " --password-file "
                   << ShellQuote(dir_.File("password")) << " --report " << report << " " << steps[n].args << " >"
                   << ShellQuote(dir_.File("out" + std::to_string(n))) << " 2>"
                   << ShellQuote(dir_.File("err" + std::to_string(n))) << " </dev/null\necho $? >"
                   << ShellQuote(dir_.File("rc" + std::to_string(n))) << "\nfor f in " << ShellQuote(dir_.path())
                   << "/apsim-*.log; do cp \"$f\" \"$f." << n << "\"; done\n";
        }
        std::ofstream(dir_.File("steps.sh")) << script.str();
        RunShell(ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_fleet_in_netns.sh") + " " +
                 ShellQuote(dir_.path()) + " " + ShellQuote(BuildPath("quorsel-apsim")) + " " +
                 ShellQuote(dir_.File("aps")) + " -- bash " + ShellQuote(dir_.File("steps.sh")));
        for (size_t n = 0; n < steps.size(); ++n) {
            Step& step = steps[n];
            std::ifstream(dir_.File("rc" + std::to_string(n))) >> step.exitStatus;
            step.out = Text(dir_.File("out" + std::to_string(n)));
            step.err = Text(dir_.File("err" + std::to_string(n)));
            const auto report = nlohmann::json::parse(Text(dir_.File("report" + std::to_string(n) + ".json")), nullptr, false);
            if (report.is_object() && report["accessPoints"].is_array()) {
                for (const auto& row : report["accessPoints"]) step.rows[row["address"].get<std::string>()] = row;
            }
        }
    }

    static std::string Text(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // How often the log of the simulator at address held pattern after step n.
    size_t Count(const std::string& address, size_t n, const std::string& pattern) {
        const std::string log = Text(dir_.File("apsim-" + address + ".log." + std::to_string(n)));
        size_t count = 0;
        for (size_t at = log.find(pattern); at != std::string::npos; at = log.find(pattern, at + 1)) ++count;
        return count;
    }
    size_t FlashCommands(const std::string& address, size_t n) { return Count(address, n, "command FLSH"); }
    size_t Connections(const std::string& address, size_t n) { return Count(address, n, " from "); }

    bool FlashHolds(const std::string& address, const std::vector<uint8_t>& image) {
        const std::vector<uint8_t> flash = ReadFile(dir_.File("flash-" + address + ".bin"));
        return flash.size() == MIB2 && std::equal(image.begin() + REGIONS_4_5_START, image.end(), flash.begin() + REGIONS_4_5_START);
    }

    TempDir dir_;
    std::vector<uint8_t> krvImage_, mxdImage_;
    std::string krv_, mxd_;
};

TEST_F(RolloutTest, ADryRunWritesNothingThenTwoModelsEachGetTheirOwnFile) {
    const std::string both = "--firmware " + ShellQuote(mxd_) + " 10.79.2.10-12";
    std::vector<Step> steps = {{"--dry-run " + both}, {both}};
    Run({"10.79.2.10 --model KRV001 " + OK, "10.79.2.11 --model MXD001 " + OK, "10.79.2.12 --model ZLT010 " + OK},
        steps);
    const Step& dry = steps[0];
    EXPECT_EQ(dry.exitStatus, 0) << dry.out << dry.err;
    for (const char* address : {"10.79.2.10", "10.79.2.11", "10.79.2.12"}) EXPECT_EQ(FlashCommands(address, 0), 0u);
    EXPECT_EQ(dry.rows.at("10.79.2.10")["result"], "planned");
    EXPECT_EQ(dry.rows.at("10.79.2.10")["firmware"], krv_);
    EXPECT_EQ(dry.rows.at("10.79.2.11")["firmware"], mxd_);
    EXPECT_EQ(dry.rows.at("10.79.2.12")["result"], "skipped-other-model");
    EXPECT_NE(dry.rows.at("10.79.2.12")["reason"].get<std::string>().find("KRV001, MXD001"), std::string::npos);

    const Step& run = steps[1];
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(run.rows.at("10.79.2.10")["result"], "updated");
    EXPECT_EQ(run.rows.at("10.79.2.11")["result"], "updated");
    EXPECT_EQ(run.rows.at("10.79.2.11")["firmware"], mxd_);
    EXPECT_TRUE(FlashHolds("10.79.2.10", krvImage_));
    EXPECT_TRUE(FlashHolds("10.79.2.11", mxdImage_));
    EXPECT_EQ(FlashCommands("10.79.2.12", 1), 0u);
}

TEST_F(RolloutTest, RetryTouchesExactlyTheFailedOnesAndSkipUpdatedMakesTheRepeatANoOp) {
    const std::string report0 = ShellQuote(dir_.File("report0.json"));
    std::vector<Step> steps = {{"10.79.2.10-12"},
                               {"--retry-failed " + report0},
                               {"--skip-updated " + report0 + " 10.79.2.10 10.79.2.12"},
                               {"--retry-failed " + ShellQuote(dir_.File("report2.json"))}};
    Run({"10.79.2.10 --model KRV001 " + OK, "10.79.2.11 --model KRV001 --close-after-blocks 3 " + OK,
         "10.79.2.12 --model KRV001 " + OK},
        steps);
    EXPECT_EQ(steps[0].exitStatus, 1) << steps[0].out << steps[0].err;
    EXPECT_EQ(steps[0].rows.at("10.79.2.11")["result"], "failed-while-writing");
    // The retry: only the failed one is contacted at all.
    EXPECT_EQ(steps[1].rows.size(), 1u) << steps[1].out << steps[1].err;
    EXPECT_EQ(Connections("10.79.2.10", 1), Connections("10.79.2.10", 0));
    EXPECT_EQ(Connections("10.79.2.12", 1), Connections("10.79.2.12", 0));
    EXPECT_GT(FlashCommands("10.79.2.11", 1), FlashCommands("10.79.2.11", 0));
    // The updated ones again, with --skip-updated: nothing to update, nothing contacted.
    EXPECT_EQ(steps[2].exitStatus, 4) << steps[2].out << steps[2].err;
    EXPECT_EQ(Connections("10.79.2.10", 2), Connections("10.79.2.10", 0));
    EXPECT_EQ(Connections("10.79.2.12", 2), Connections("10.79.2.12", 0));
    // A redo of a report where nothing is left: says so, searches nothing.
    EXPECT_EQ(steps[3].exitStatus, 0) << steps[3].out << steps[3].err;
    EXPECT_NE(steps[3].out.find("やり直すアクセスポイントはありません"), std::string::npos) << steps[3].out;
    for (const char* address : {"10.79.2.10", "10.79.2.11", "10.79.2.12"}) {
        EXPECT_EQ(Connections(address, 3), Connections(address, 2)) << address;
    }
}

TEST_F(RolloutTest, MaxFailStopsTheRolloutBetweenBatches) {
    // Batches of 1, then 2: the first fails (one is allowed), the second has one more failure.
    std::vector<Step> steps = {{"--batches 1,2 --max-fail 1 10.79.2.13 10.79.2.10 10.79.2.11 10.79.2.12"}};
    Run({"10.79.2.10 --model KRV001 --answer-ip " + OK, "10.79.2.11 --model KRV001 " + OK,
         "10.79.2.12 --model KRV001 " + OK, "10.79.2.13 --model KRV001 --answer-ip " + OK},
        steps);
    const Step& step = steps[0];
    EXPECT_EQ(step.exitStatus, 1) << step.out << step.err;
    EXPECT_EQ(step.rows.at("10.79.2.13")["result"], "failed-before-writing");
    EXPECT_EQ(step.rows.at("10.79.2.10")["result"], "failed-before-writing");
    EXPECT_EQ(step.rows.at("10.79.2.11")["result"], "updated");
    EXPECT_EQ(step.rows.at("10.79.2.12")["result"], "stopped-before-start");
    EXPECT_NE(step.rows.at("10.79.2.12")["reason"].get<std::string>().find("--max-fail 1"), std::string::npos);
    EXPECT_EQ(FlashCommands("10.79.2.12", 0), 0u);
}

TEST_F(RolloutTest, AwaitRestartSeesTheRestartAndJsonEventsFollowIt) {
    std::vector<Step> steps = {{"--await-restart=2 --json 10.79.2.10"}};
    Run({"10.79.2.10 --model KRV001 --restart-ms 3000 " + OK}, steps);
    const Step& step = steps[0];
    EXPECT_EQ(step.exitStatus, 0) << step.out << step.err;
    EXPECT_EQ(step.rows.at("10.79.2.10")["restartSeen"], true);
    EXPECT_TRUE(step.rows.at("10.79.2.10")["restartSeenAt"].is_string());
    std::vector<std::string> events;
    size_t progress = 0;
    for (const std::string& line : Lines(step.out)) {
        const auto event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << "not JSON: " << line;
        events.push_back(event["event"]);
        if (events.back() == "progress") ++progress;
        if (events.back() == "restart") events.back() += ":" + event["restart"].get<std::string>();
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "plan");
    EXPECT_NE(std::find(events.begin(), events.end(), "restart:awaited"), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "restart:seen"), events.end());
    EXPECT_GT(progress, 0u);
    EXPECT_LE(progress, 101u);  // at most once per percent
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()), (std::vector<std::string>{"end", "recap"}));
    EXPECT_NE(step.err.find("再起動待ち"), std::string::npos);
    EXPECT_NE(step.err.find("再起動を確認"), std::string::npos);
}

}  // namespace
}  // namespace quorsel::testing
