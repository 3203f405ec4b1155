// The search over real sockets, in the network namespace that search_netns.sh lays
// out (see there for who is at which address). Bounds come from the configured
// timeouts, with slack for a loaded machine.
#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/search/access_point_search.h"
#include "engine/search/probe_network_posix.h"
#include "tests/support/container_builder.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A bound from the configured timeouts, doubled for a loaded machine.
constexpr int BOUND_SLACK = 2;

struct RecordingListener : SearchListener {
    void OnFound(const FoundPeer& peer) override { found[FormatAddress(peer.address)] = peer; }
    void OnProgress(size_t probed, size_t) override { lastProbed = probed; }
    std::map<std::string, FoundPeer> found;
    size_t lastProbed = 0;
};

std::vector<Ipv4Address> Expand(const std::string& target) {
    TargetExpansion targets = ExpandTargets({target});
    EXPECT_EQ(targets.error, "");
    return targets.addresses;
}

size_t OpenDescriptors() {
    size_t count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return 0;
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
    return count;
}

SearchSettings Settings() {
    SearchSettings settings;
    settings.connectTimeout = 1000ms;
    settings.replyTimeout = 1000ms;
    settings.firmwareModel = "KRV001";
    return settings;
}

class SearchInNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("QUORSEL_SEARCH_NETNS"), nullptr) << "run through tests/search/search_netns.sh";
    }
    PosixProbeNetwork network;
};

TEST_F(SearchInNamespace, FindsExactlyTheAccessPointsOfASubnetAndTellsOtherServicesApart) {
    const std::vector<Ipv4Address> addresses = Expand("10.79.1.0/24");
    const SearchSettings settings = Settings();
    RecordingListener listener;
    SearchStop stop;
    const size_t descriptors = OpenDescriptors();
    const auto started = Clock::now();

    const SearchOutcome outcome = SearchAccessPoints(network, addresses, settings, listener, stop);

    EXPECT_LT(Clock::now() - started, BOUND_SLACK * SearchTimeBound(addresses.size(), settings));
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.probed, 254u);
    EXPECT_EQ(listener.lastProbed, 254u);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    // address, model ("" : not an access point), generation digit, generation, fits
    const std::tuple<std::string, std::string, char, Generation, bool> expected[] = {
        {"10.79.1.10", "KRV001", '2', Generation::New, true}, {"10.79.1.11", "MXD001", '1', Generation::Old, false},
        {"10.79.1.12", "KRV001", '1', Generation::Old, true}, {"10.79.1.20", "", 0, Generation::Old, false},
    };
    EXPECT_EQ(listener.found.size(), std::size(expected));
    for (const auto& [address, model, digit, generation, fits] : expected) {
        SCOPED_TRACE(address);
        const auto found = listener.found.find(address);
        ASSERT_NE(found, listener.found.end());
        const FoundPeer& peer = found->second;
        EXPECT_EQ(peer.kind, model.empty() ? PeerKind::NOT_ACCESS_POINT : PeerKind::ACCESS_POINT);
        EXPECT_EQ(peer.modelCode, model);
        EXPECT_EQ(peer.generationDigit, digit);
        EXPECT_EQ(peer.generation, generation);
        EXPECT_EQ(peer.fitsFirmware, fits);
    }
}

TEST_F(SearchInNamespace, ASubnetThatDropsEveryAttemptEndsAfterOneConnectBound) {
    const std::vector<Ipv4Address> addresses = Expand("10.78.0.0/24");
    const SearchSettings settings = Settings();
    RecordingListener listener;
    SearchStop stop;
    const auto started = Clock::now();

    const SearchOutcome outcome = SearchAccessPoints(network, addresses, settings, listener, stop);

    const auto took = Clock::now() - started;
    // The attempts really waited for their bound (nobody answered them) ...
    EXPECT_GE(took, settings.connectTimeout);
    // ... and all of the /24 was in flight at once: one bound, not one per address.
    EXPECT_LT(took, BOUND_SLACK * SearchTimeBound(addresses.size(), settings));
    EXPECT_EQ(outcome.probed, 254u);
    EXPECT_TRUE(listener.found.empty());
}

TEST_F(SearchInNamespace, TheDefaultTargetsComeFromTheInterfacesThatAreUpAndNotLoopback) {
    const std::vector<LocalSubnet> subnets = network.LocalSubnets();
    ASSERT_EQ(subnets.size(), 1u);
    EXPECT_EQ(FormatAddress(subnets[0].address), "10.78.0.1");
    EXPECT_EQ(subnets[0].prefixLength, 24u);
    const TargetExpansion targets = DefaultTargets(subnets);
    EXPECT_EQ(targets.addresses.size(), 253u + 1u);  // the /24 without its own address, and the factory address
}

// quorsel-scan itself: its JSON lines, its table and its exit status.
class ScanInNamespace : public SearchInNamespace {
protected:
    testing::CommandResult Scan(const std::string& arguments) {
        return testing::RunShell(std::string(QUORSEL_BUILD_DIR) + "/quorsel-scan " + arguments);
    }
};

TEST_F(ScanInNamespace, PrintsOneJsonObjectPerPeerAndMarksWhereTheFirmwareFits) {
    testing::TempDir dir;
    const std::string firmware = dir.File("firmware.bin");
    ASSERT_TRUE(testing::WriteContainerFile(
        firmware, testing::MakeContainerParts(testing::MakePlainImage(0x200000, "MXD001"), {})));

    const testing::CommandResult result = Scan("--json --jobs 64 --firmware " + firmware + " 10.79.1.0/24");

    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::map<std::string, nlohmann::json> lines;
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(object.is_discarded()) << line;
        lines[object.at("address").get<std::string>()] = object;
    }
    const std::map<std::string, nlohmann::json> expected = {
        {"10.79.1.10", {{"address", "10.79.1.10"}, {"accessPoint", true}, {"model", "KRV001"},
                        {"generation", "new"}, {"generationDigit", "2"}, {"fits", false}}},
        {"10.79.1.11", {{"address", "10.79.1.11"}, {"accessPoint", true}, {"model", "MXD001"},
                        {"generation", "old"}, {"generationDigit", "1"}, {"fits", true}}},
        {"10.79.1.12", {{"address", "10.79.1.12"}, {"accessPoint", true}, {"model", "KRV001"},
                        {"generation", "old"}, {"generationDigit", "1"}, {"fits", false}}},
        {"10.79.1.20", {{"address", "10.79.1.20"}, {"accessPoint", false}, {"result", "not-an-access-point"},
                        {"reason", "answered something other than a model line"}}},
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(ScanInNamespace, ExitStatusSaysWhetherAnAccessPointWasFound) {
    testing::TempDir dir;
    // arguments, exit status, part of standard output, part of standard error
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"10.79.1.10 10.79.1.11", 0, "10.79.1.11  MXD001  1 (旧)", ""},
        {"10.79.1.20 10.79.1.2", 1, "IPアドレス", ""},
        {"--jobs 300 10.78.0.0/24", 1, "", ""},
        {"10.0.0.0/19", 2, "", "8190 addresses; at most 4096"},
        {"10.79.1.300", 2, "", "not an IPv4 address"},
        {"--jobs 0 10.79.1.10", 2, "", "--jobs must be"},
        {"--color 10.79.1.10", 2, "", "unknown option --color"},
        {"--firmware " + dir.File("missing") + " 10.79.1.10", 2, "", "not found"},
        // The conventions quorsel-fleet shares.
        {"--version", 0, "quorsel-scan 1.0\n", ""},
        {"-h", 0, "Usage: quorsel-scan", ""},
        {"--jobs=8 10.79.1.10-11", 0, "10.79.1.11  MXD001  1 (旧)", ""},
        {"@- <<<'10.79.1.11  # the old one'", 0, "10.79.1.11  MXD001", ""},
        {"-- 10.79.1.12", 0, "10.79.1.12  KRV001", ""},
        {"--json --verbose 10.79.1.2", 1, "\"accessPoint\":false,\"result\":\"no-answer\"", ""},
        {"@/dev/null", 2, "", "/dev/null: is not a regular file"},
        {"@" + dir.path(), 2, "", dir.path() + ": is a folder"},
        {"@- </dev/null", 2, "", "no address"},
        {"224.0.0.1/32", 2, "", "never searched"},
    };
    for (const auto& [arguments, exitStatus, outPart, errPart] : cases) {
        SCOPED_TRACE(arguments);
        const testing::CommandResult result = Scan(arguments);
        EXPECT_EQ(result.exitStatus, exitStatus) << result.err;
        EXPECT_NE(result.out.find(outPart), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(errPart), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace quorsel
