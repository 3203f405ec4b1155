#include "job/startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "job/timeouts_from_environment.h"
#include "res/texts.h"
#include "tests/support/environment_variable.h"
#include "tests/support/fake_network.h"

namespace quorsel {
namespace {

// A front-end that answers the settings form from a list and records what start-up asked.
class ScriptedFrontend : public StartupFrontend {
public:
    struct Answer {
        bool ok;
        uint32_t transport;
        std::string addressText;
        uint32_t comIndex;
    };

    std::vector<Answer> answers;
    std::vector<UpdateJob> shown;  // the job as each settings showing received it
    std::vector<std::string> errors;
    std::vector<UpdateJob> runs;
    std::vector<RunSettings> runSettings;
    std::string runPath;
    int runResult = 0;

    void ShowStartupError(const char* text) override { errors.emplace_back(text); }
    bool AskSettings(UpdateJob& job) override {
        shown.push_back(job);
        if (shown.size() > answers.size()) return false;
        const Answer& a = answers[shown.size() - 1];
        if (!a.ok) return false;
        job.transport = a.transport;
        job.addressText = a.addressText;
        job.comIndex = a.comIndex;
        return true;
    }
    int RunProgress(const UpdateJob& job, const RunSettings& settings) override {
        runs.push_back(job);
        runSettings.push_back(settings);
        runPath = settings.programPath;
        return runResult;
    }
};

TEST(StartupTest, SocketLayerFailureShowsItsMessageAndRunsNothing) {
    testing::FakeNetwork network;
    network.SetLibraryStarts(false);
    ScriptedFrontend frontend;
    EXPECT_EQ(RunStartup(frontend, network, "\"quorsel\"", "/x", PeerTimeouts{}), EXIT_SOCKET_LAYER);
    ASSERT_EQ(frontend.errors.size(), 1u);
    EXPECT_EQ(frontend.errors[0], TEXT_SOCKET_INIT_FAILED);
    EXPECT_TRUE(frontend.runs.empty());
}

TEST(StartupTest, InvalidArgumentsShowTheirMessageAndRunNothing) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    EXPECT_EQ(RunStartup(frontend, network, "\"quorsel\" -b 192.168.1.10", "/x", PeerTimeouts{}), EXIT_INVALID_ARGUMENTS);
    ASSERT_EQ(frontend.errors.size(), 1u);
    EXPECT_EQ(frontend.errors[0], TEXT_INVALID_ARGUMENTS);
    EXPECT_TRUE(frontend.shown.empty());
    EXPECT_TRUE(frontend.runs.empty());
    EXPECT_EQ(network.librariesHeld(), 0);
}

TEST(StartupTest, CompleteCommandLineRunsWithoutSettingsAndPort9002) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    frontend.runResult = 7;
    EXPECT_EQ(RunStartup(frontend, network, "\"quorsel\" -f 10.0.0.2", "/proc/self/exe", PeerTimeouts{}), 7);
    EXPECT_TRUE(frontend.shown.empty());
    ASSERT_EQ(frontend.runs.size(), 1u);
    const UpdateJob& job = frontend.runs[0];
    EXPECT_EQ(job.transport, TRANSPORT_LAN);
    EXPECT_EQ(job.optionFlags, 0x0010);
    EXPECT_EQ(job.address, (std::array<uint8_t, 4>{10, 0, 0, 2}));
    EXPECT_EQ(job.tcpPort, (std::array<uint8_t, 2>{0x23, 0x2A}));
    EXPECT_EQ(frontend.runPath, "/proc/self/exe");
}

TEST(StartupTest, RunSettingsCarryTheJobThePortAndTheGivenTimeouts) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    PeerTimeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(1234);
    timeouts.serialAnswer = std::chrono::milliseconds(5678);
    RunStartup(frontend, network, "\"quorsel\" -f 10.0.0.2", "/x", timeouts);
    ASSERT_EQ(frontend.runSettings.size(), 1u);
    const RunSettings& settings = frontend.runSettings[0];
    EXPECT_EQ(settings.transport, TRANSPORT_LAN);
    EXPECT_EQ(settings.optionFlags, 0x0010);
    EXPECT_EQ(settings.peer.address, (std::array<uint8_t, 4>{10, 0, 0, 2}));
    EXPECT_EQ(settings.peer.port, (std::array<uint8_t, 2>{0x23, 0x2A}));
    EXPECT_EQ(settings.baudRate, 115200u);
    EXPECT_EQ(settings.programPath, "/x");
    EXPECT_EQ(settings.timeouts.connect, std::chrono::milliseconds(1234));
    EXPECT_EQ(settings.timeouts.serialAnswer, std::chrono::milliseconds(5678));
}

TEST(StartupTest, WithoutAnExecutablePathTheCommandLinePathIsUsed) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    RunStartup(frontend, network, "\"C:\\tools\\updater\" -b", "", PeerTimeouts{});
    EXPECT_EQ(frontend.runPath, "C:\\tools\\updater.exe");
    ASSERT_EQ(frontend.runs.size(), 1u);
    EXPECT_EQ(frontend.runs[0].transport, TRANSPORT_SERIAL);
}

TEST(StartupTest, SettingsShownWithDefaultsAndAgainAfterAnInvalidAddress) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    frontend.answers = {{true, TRANSPORT_LAN, "1.2.3", 0}, {true, TRANSPORT_LAN, "10.1.2.3", 0}};
    RunStartup(frontend, network, "\"quorsel\"", "/x", PeerTimeouts{});
    ASSERT_EQ(frontend.shown.size(), 2u);
    EXPECT_EQ(frontend.shown[0].addressText, "192.168.1.254");
    EXPECT_EQ(frontend.shown[0].transport, TRANSPORT_LAN);
    EXPECT_EQ(frontend.shown[0].comIndex, 0u);
    EXPECT_EQ(frontend.shown[0].baudRate, 115200u);
    EXPECT_EQ(frontend.shown[1].addressText, "1.2.3") << "shown again with the text as typed";
    ASSERT_EQ(frontend.runs.size(), 1u);
    EXPECT_EQ(frontend.runs[0].address, (std::array<uint8_t, 4>{10, 1, 2, 3}));
    EXPECT_EQ(frontend.runs[0].optionFlags, OPTION_DEFAULT_REGIONS);
}

TEST(StartupTest, SerialChosenInSettingsIsNotCheckedForAnAddress) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    frontend.answers = {{true, TRANSPORT_SERIAL, "not an address", 2}};
    RunStartup(frontend, network, "\"quorsel\" -i", "/x", PeerTimeouts{});
    ASSERT_EQ(frontend.runs.size(), 1u);
    EXPECT_EQ(frontend.runs[0].transport, TRANSPORT_SERIAL);
    EXPECT_EQ(frontend.runs[0].comIndex, 2u);
    EXPECT_EQ(frontend.runs[0].optionFlags, 0x4030);
}

TEST(StartupTest, CancelledSettingsEndTheProgramWithoutARun) {
    testing::FakeNetwork network;
    ScriptedFrontend frontend;
    frontend.answers = {{false, 0, "", 0}};
    EXPECT_EQ(RunStartup(frontend, network, "\"quorsel\"", "/x", PeerTimeouts{}), EXIT_USER_ENDED);
    EXPECT_TRUE(frontend.runs.empty());
    EXPECT_TRUE(frontend.errors.empty());
}

TEST(StartupTest, ExitStatusOfARunIsItsFinalCodeLess256) {
    EXPECT_EQ(ExitStatusFor(STATUS_COMPLETE), 0);
    EXPECT_EQ(ExitStatusFor(STATUS_CONNECT_FAILED), 4);
    EXPECT_EQ(ExitStatusFor(STATUS_COMM_ERROR), 5);
    EXPECT_EQ(ExitStatusFor(STATUS_WRITE_ERROR), 6);
    EXPECT_EQ(ExitStatusFor(STATUS_WRONG_MODEL), 7);
    EXPECT_EQ(ExitStatusFor(STATUS_FILE_ERROR), 8);
    EXPECT_EQ(ExitStatusFor(STATUS_BAD_PASSWORD), 23);
    EXPECT_EQ(ExitStatusFor(STATUS_ABORTED), 32);
}

// The variable shortens only the bounds the program adds; the serial completion
// silence and the flash-work bound are the same as without it.
TEST(TimeoutsFromEnvironmentTest, PeerTimeoutVariableLeavesTheFlashWorkWaitsAlone) {
    PeerTimeouts timeouts;
    {
        testing::ScopedEnvironmentVariable variable("QUORSEL_PEER_TIMEOUT_MS", "500");
        timeouts = TimeoutsFromEnvironment();
    }
    const PeerTimeouts defaults;
    EXPECT_EQ(timeouts.connect, milliseconds(500));
    EXPECT_EQ(timeouts.lanRead, milliseconds(500));
    EXPECT_EQ(timeouts.serialAnswer, milliseconds(500));
    EXPECT_EQ(timeouts.completionSilence, milliseconds(90000));
    EXPECT_EQ(timeouts.flashWork, milliseconds(300000));
    EXPECT_EQ(TimeoutsFromEnvironment().lanRead, defaults.lanRead);
}

}  // namespace
}  // namespace quorsel
