// quorsel-scan's command line and its run over a scripted network: the conventions
// it shares with quorsel-fleet, @FILE, ranges, --verbose and the JSON keys.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "res/texts.h"
#include "tests/support/fake_probe_network.h"
#include "tools/scan/scan_command.h"
#include "tools/scan/scan_options.h"

namespace quorsel::scan {
namespace {

Result<ScanOptions, std::string> Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quorsel-scan");
    return ParseScanOptions(static_cast<int>(args.size()), args.data());
}

TEST(ScanOptions, TakesTheUsualConventionsAndRefusesWhatIsWrong) {
    EXPECT_TRUE(Parse({"--help"})->showHelp);
    EXPECT_TRUE(Parse({"-h"})->showHelp);
    EXPECT_TRUE(Parse({"--version"})->showVersion);
    EXPECT_NE(ScanVersionText().find("quorsel-scan "), std::string::npos);

    const auto inlineValues = Parse({"--jobs=4", "--firmware=fw.exe", "--verbose", "10.0.0.1", "@list"});
    ASSERT_TRUE(inlineValues.ok()) << inlineValues.error();
    EXPECT_EQ(inlineValues->jobs, 4u);
    EXPECT_EQ(inlineValues->firmwarePath, "fw.exe");
    EXPECT_TRUE(inlineValues->verbose);
    EXPECT_EQ(inlineValues->targets, (std::vector<std::string>{"10.0.0.1", "@list"}));

    const auto separate = Parse({"--jobs", "8", "--json", "--", "--json", "@-"});
    ASSERT_TRUE(separate.ok()) << separate.error();
    EXPECT_EQ(separate->jobs, 8u);
    EXPECT_TRUE(separate->json);
    EXPECT_EQ(separate->targets, (std::vector<std::string>{"--json", "@-"}));

    for (const std::vector<const char*>& wrong :
         {std::vector<const char*>{"--jobs"}, {"--jobs=0"}, {"--jobs=x"}, {"--firmware="}, {"--json=yes"},
          {"--what"}, {"-x"}}) {
        EXPECT_FALSE(Parse(wrong).ok()) << wrong.front();
    }
}

class ScanRun : public ::testing::Test {
protected:
    int Run(std::vector<const char*> args) {
        out_.str("");
        err_.str("");
        const auto options = Parse(std::move(args));
        if (!options) return -1;
        return RunScan(*options, network_, out_, err_, [this](const std::string& path) -> Result<std::string, std::string> {
            for (const auto& [name, text] : files_) {
                if (name == path) return text;
            }
            return Fail(path + ": no such file");
        });
    }
    std::vector<nlohmann::json> JsonLines() const {
        std::vector<nlohmann::json> lines;
        std::istringstream in(out_.str());
        for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

    testing::FakeProbeNetwork network_;
    std::vector<std::pair<std::string, std::string>> files_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(ScanRun, VerboseSaysWhyEachAddressIsNotListedInJsonAndTheTable) {
    using testing::FakePeerBehaviour;
    network_.Script({10, 0, 0, 1}, {FakePeerBehaviour::Answer, "KRV0012\r\n"});
    network_.Script({10, 0, 0, 2}, {FakePeerBehaviour::Refuse, ""});
    network_.Script({10, 0, 0, 3}, {FakePeerBehaviour::Answer, "HTTP/1.0 400\r\n"});
    network_.Script({10, 0, 0, 4}, {FakePeerBehaviour::Silent, ""});
    files_ = {{"list", "# the fourth\n10.0.0.4\n"}};

    ASSERT_EQ(Run({"--json", "--verbose", "10.0.0.1-3", "@list", "10.0.0.2"}), EXIT_FOUND) << err_.str();
    std::map<std::string, nlohmann::json> byAddress;
    for (const nlohmann::json& line : JsonLines()) byAddress[line["address"]] = line;
    ASSERT_EQ(byAddress.size(), 4u) << out_.str();
    EXPECT_EQ(byAddress["10.0.0.1"], nlohmann::json::parse(R"({"address":"10.0.0.1","accessPoint":true,
        "model":"KRV001","generation":"new","generationDigit":"2","fits":null})"));
    EXPECT_EQ(byAddress["10.0.0.2"], nlohmann::json::parse(R"({"address":"10.0.0.2","accessPoint":false,
        "result":"no-answer","reason":"refused"})"));
    EXPECT_EQ(byAddress["10.0.0.3"]["result"], "not-an-access-point");
    EXPECT_EQ(byAddress["10.0.0.3"]["accessPoint"], false);
    EXPECT_EQ(byAddress["10.0.0.4"]["reason"], "silent");
    // Each address once, though 10.0.0.2 was named twice.
    EXPECT_EQ(network_.connects().size(), 4u);

    ASSERT_EQ(Run({"--verbose", "10.0.0.1-4"}), EXIT_FOUND) << err_.str();
    const std::string table = out_.str();
    EXPECT_NE(table.find(TEXT_SEARCH_MISS_REFUSED), std::string::npos) << table;
    EXPECT_NE(table.find(TEXT_SEARCH_MISS_SILENT), std::string::npos) << table;
    EXPECT_LT(table.find("10.0.0.1"), table.find("10.0.0.2"));
    EXPECT_LT(table.find("10.0.0.3"), table.find("10.0.0.4"));

    // Without --verbose, the misses are not listed.
    ASSERT_EQ(Run({"10.0.0.1-4"}), EXIT_FOUND);
    EXPECT_EQ(out_.str().find("10.0.0.2"), std::string::npos) << out_.str();
}

TEST_F(ScanRun, TargetListsWithoutAnAddressOrWithAnUnreadableFileContactNothing) {
    files_ = {{"empty", "# nothing\n\n"}};
    EXPECT_EQ(Run({"@empty"}), EXIT_BAD_ARGUMENTS);
    EXPECT_NE(err_.str().find("no address"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"10.0.0.1", "@gone"}), EXIT_BAD_ARGUMENTS);
    EXPECT_NE(err_.str().find("gone: no such file"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"224.0.0.0/24"}), EXIT_BAD_ARGUMENTS);
    EXPECT_EQ(Run({"10.0.0.0/19"}), EXIT_BAD_ARGUMENTS);
    EXPECT_TRUE(network_.connects().empty());
}

TEST_F(ScanRun, DefaultTargetsBeyondTheBoundNameTheSubnetsLeftOut) {
    network_.SetSubnets({{{192, 168, 10, 5}, 24}, {{172, 17, 0, 1}, 16}, {{172, 18, 0, 1}, 16},
                         {{172, 19, 0, 1}, 16}, {{172, 20, 0, 1}, 16}});
    network_.LimitSockets(0);  // the search itself cannot run; what it was given is what counts here
    EXPECT_EQ(Run({}), EXIT_SEARCH_FAILED);
    EXPECT_NE(err_.str().find("not searched: 172.20.0.0/22\n"), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace quorsel::scan
