// The terminal front-end of the real quorsel binary (packed firmware) on a
// pseudo-terminal, typed at as a user would: Ctrl-C and the end of input at every
// prompt, Ctrl-C during a run and while the access point writes, the password read
// without echo and asked again when it cannot be used, and the progress bar, which
// only a terminal gets.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "res/texts.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/apsim_process.h"
#include "tests/support/child_process.h"

namespace quorsel::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t MIB2 = 0x200000;
// Output and prompts that are expected come well within this.
constexpr auto SCREEN_WAIT = 20s;
constexpr auto RUN_LIMIT = 90s;
constexpr const char* CTRL_C = "\x03";
constexpr const char* CTRL_D = "\x04";
// The bar as the terminal front-end draws it in place: at the start of the line.
constexpr const char* BAR_START = "\r[";

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = SampleImage(MIB2, "KRV001");
        updater_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), image_);
        ASSERT_FALSE(updater_.empty()) << "quorsel-pack failed";
    }

    // The updater with args, every COM port on comDevice (or on nothing), on the
    // terminal front-end whatever display the test runs under.
    ChildSpec Updater(const std::vector<std::string>& args, const std::string& comDevice = "",
                      const std::vector<std::string>& env = {}) const {
        ChildSpec launch;
        launch.argv.push_back(updater_);
        launch.argv.insert(launch.argv.end(), args.begin(), args.end());
        for (int n = 1; n <= 4; ++n) {
            launch.setEnv.push_back("QUORSEL_COM" + std::to_string(n) + "=" +
                                  (comDevice.empty() ? dir_.File("no-such-port") : comDevice));
        }
        launch.setEnv.insert(launch.setEnv.end(), env.begin(), env.end());
        launch.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
        return launch;
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string updater_;
};

// One prompt and how the program ends when Ctrl-C or the end of input meets it.
struct PromptCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> answers;  // typed before the prompt that is cancelled
    const char* prompt;                 // the question left without an answer
    const char* key;                    // CTRL_C or CTRL_D
    int exitStatus;
};

class TerminalPromptTest : public TerminalTest, public ::testing::WithParamInterface<PromptCase> {};

// The settings form ends the program with status 1 on either key, at each of its
// questions; the password prompt aborts the run ("処理を中断しました", 32).
TEST_P(TerminalPromptTest, CtrlCAndEndOfInputEndThePrompt) {
    const PromptCase& c = GetParam();
    TerminalProcess updater;
    ASSERT_TRUE(updater.Start(Updater(c.args)));
    for (const std::string& answer : c.answers) ASSERT_TRUE(updater.Type(answer + "\r"));
    ASSERT_TRUE(updater.WaitForScreen(c.prompt, SCREEN_WAIT)) << updater.Screen();
    if (std::string(c.prompt) == TEXT_PASSWORD_PROMPT) {
        // Typed before echo is off, the key would be flushed with the rest.
        ASSERT_TRUE(updater.WaitForEchoOff(SCREEN_WAIT)) << updater.Screen();
    }
    ASSERT_TRUE(updater.Type(c.key));
    const std::optional<int> status = updater.Wait(RUN_LIMIT);
    ASSERT_TRUE(status.has_value()) << "still running: " << updater.Screen();
    EXPECT_EQ(*status, c.exitStatus) << updater.Screen();
    const bool aborted = updater.Screen().find(TEXT_ABORTED) != std::string::npos;
    EXPECT_EQ(aborted, c.exitStatus == 32) << updater.Screen();
    EXPECT_EQ(updater.Screen().find(TEXT_PREPARING) != std::string::npos, c.exitStatus == 32)
        << "a cancelled form runs nothing: " << updater.Screen();
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, TerminalPromptTest,
    ::testing::Values(PromptCase{"FormTransportCtrlC", {}, {}, TEXT_FORM_TRANSPORT, CTRL_C, 1},
                      PromptCase{"FormTransportEnd", {}, {}, TEXT_FORM_TRANSPORT, CTRL_D, 1},
                      PromptCase{"FormLanAddressCtrlC", {}, {"1"}, TEXT_IP_ADDRESS, CTRL_C, 1},
                      PromptCase{"FormLanAddressEnd", {}, {"1"}, TEXT_IP_ADDRESS, CTRL_D, 1},
                      PromptCase{"FormSerialPortCtrlC", {}, {"2"}, TEXT_FORM_SERIAL_PORT, CTRL_C, 1},
                      PromptCase{"FormSerialPortEnd", {}, {"2"}, TEXT_FORM_SERIAL_PORT, CTRL_D, 1},
                      PromptCase{"PasswordCtrlC", {"-f", "com1"}, {}, TEXT_PASSWORD_PROMPT, CTRL_C, 32},
                      PromptCase{"PasswordEnd", {"-f", "com1"}, {}, TEXT_PASSWORD_PROMPT, CTRL_D, 32}),
    [](const ::testing::TestParamInfo<PromptCase>& param) { return std::string(param.param.name); });

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// An answer that cannot be taken asks the same question again with the reason, and
// the default stays the last valid value: the form does not start over.
TEST_F(TerminalTest, InvalidAnswersAreAskedAgainWithTheReason) {
    TerminalProcess updater;
    ASSERT_TRUE(updater.Start(Updater({})));
    ASSERT_TRUE(updater.Type("3\r"));
    ASSERT_TRUE(updater.WaitForScreen("3: answer 1 or 2", SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.Type("1\r"));
    ASSERT_TRUE(updater.WaitForScreen(std::string(TEXT_IP_ADDRESS) + " [192.168.1.254]", SCREEN_WAIT));
    ASSERT_TRUE(updater.Type("999.1.1.1\r"));
    ASSERT_TRUE(updater.WaitForScreen("999.1.1.1: not an IPv4 address", SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.Type(CTRL_C));
    const std::optional<int> status = updater.Wait(RUN_LIMIT);
    ASSERT_TRUE(status.has_value()) << updater.Screen();
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(Occurrences(updater.Screen(), TEXT_FORM_TRANSPORT), 2u) << updater.Screen();
    EXPECT_EQ(Occurrences(updater.Screen(), std::string(TEXT_IP_ADDRESS) + " [192.168.1.254]"), 2u)
        << updater.Screen();

    TerminalProcess serial;
    ASSERT_TRUE(serial.Start(Updater({})));
    ASSERT_TRUE(serial.Type("2\r"));
    ASSERT_TRUE(serial.Type("com257\r"));
    ASSERT_TRUE(serial.WaitForScreen("com257: not a serial port", SCREEN_WAIT)) << serial.Screen();
    ASSERT_TRUE(serial.Type(CTRL_D));
    ASSERT_TRUE(serial.Wait(RUN_LIMIT).has_value()) << serial.Screen();
    EXPECT_EQ(Occurrences(serial.Screen(), std::string(TEXT_FORM_SERIAL_PORT) + " [COM1]"), 2u) << serial.Screen();
}

// A LAN run on the terminal, inside the network namespace at the default address.
// The password is read without echo; one of 16 bytes and one with a character that
// code page 932 lacks are refused and asked again. The bar is drawn while blocks go
// out. The access point falls silent at block 7: Ctrl-C while it writes is ignored,
// and the run ends by the bound on the silence with its write error.
TEST_F(TerminalTest, LanRunPasswordBarAndCtrlCWhileWriting) {
    const std::string apsim = ShellQuote(BuildPath("quorsel-apsim")) + " --flash " +
                              ShellQuote(dir_.File("flash.bin")) +
                              " --model KRV001 --generation 2 --password pw --silent-at block:7";
    ChildSpec launch;
    launch.argv = {"/bin/sh", "-c",
                 ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_in_netns.sh") + " " + ShellQuote(dir_.path()) +
                     " " + apsim + " -- " + ShellQuote(updater_) + " -f 192.168.1.254"};
    launch.setEnv = {"NETNS_ON_TERMINAL=1", "QUORSEL_PEER_TIMEOUT_MS=3000"};
    launch.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    TerminalProcess updater;
    ASSERT_TRUE(updater.Start(launch));

    const std::string tooLong = "0123456789abcdef";  // 16 bytes
    const std::string notInCp932 = "p\xED\x95\x9C";  // "p" and a Hangul syllable
    const std::vector<std::string> refused = {tooLong, notInCp932};
    for (size_t attempt = 0; attempt < refused.size(); ++attempt) {
        ASSERT_TRUE(updater.WaitForScreen(TEXT_PASSWORD_PROMPT, SCREEN_WAIT, attempt + 1)) << updater.Screen();
        ASSERT_TRUE(updater.WaitForEchoOff(SCREEN_WAIT)) << "the password would be echoed: " << updater.Screen();
        ASSERT_TRUE(updater.Type(refused[attempt] + "\r"));
    }
    ASSERT_TRUE(updater.WaitForScreen(TEXT_PASSWORD_PROMPT, SCREEN_WAIT, 3)) << updater.Screen();
    ASSERT_TRUE(updater.WaitForEchoOff(SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.Type("pw\r"));

    ASSERT_TRUE(updater.WaitForScreen(TEXT_WRITING, SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.WaitForScreen(BAR_START, SCREEN_WAIT)) << "no bar on a terminal: " << updater.Screen();
    ASSERT_TRUE(updater.Type(CTRL_C));
    const std::optional<int> status = updater.Wait(RUN_LIMIT);
    ASSERT_TRUE(status.has_value()) << "still running: " << updater.Screen();
    const std::string screen = updater.Screen();
    std::string tooLongText = TEXT_PASSWORD_TOO_LONG_FORMAT;
    tooLongText.replace(tooLongText.find("%1"), 2, "15");
    EXPECT_NE(screen.find(tooLongText), std::string::npos) << screen;
    EXPECT_NE(screen.find(TEXT_PASSWORD_BAD_CHARACTER), std::string::npos) << screen;
    // Echoed, the Enter would follow as CR LF.
    for (const std::string& typed : {tooLong, notInCp932, std::string("pw\r\n")}) {
        EXPECT_EQ(screen.find(typed), std::string::npos) << "echoed: " << typed;
    }
    EXPECT_NE(screen.find(TEXT_WRITE_ERROR), std::string::npos) << "Ctrl-C while writing ended the run: " << screen;
    EXPECT_EQ(ReadFile(dir_.File("updater.rc")), std::vector<uint8_t>({'6', '\n'})) << screen;
}

// Ctrl-C while the blocks go out over the serial line, outside any prompt and before
// the access point erases: the program ends at once with status 1.
TEST_F(TerminalTest, CtrlCDuringTheSerialTransferEndsWithStatus1) {
    ApSimProcess apsim;
    // Paced at 9600 baud the upload takes about a minute.
    ASSERT_TRUE(apsim.StartSerial({"--model", "KRV001", "--loader-length", "300", "--password", "pw", "--flash",
                                   dir_.File("flash.bin"), "--baud", "9600"},
                                  dir_.File("apsim.log")))
        << apsim.Log();
    TerminalProcess updater;
    ASSERT_TRUE(updater.Start(Updater({"-f", "com1"}, apsim.device())));
    ASSERT_TRUE(updater.WaitForScreen(TEXT_PASSWORD_PROMPT, SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.WaitForEchoOff(SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.Type("pw\r"));
    ASSERT_TRUE(updater.WaitForScreen(TEXT_TRANSFERRING, RUN_LIMIT)) << updater.Screen() << apsim.Log();
    ASSERT_TRUE(updater.Type(CTRL_C));
    const std::optional<int> status = updater.Wait(RUN_LIMIT);
    ASSERT_TRUE(status.has_value()) << "still running after Ctrl-C: " << updater.Screen();
    EXPECT_EQ(*status, 1) << updater.Screen();
    EXPECT_EQ(updater.Screen().find(TEXT_ERASING), std::string::npos) << updater.Screen();
}

// A port that opens but is no serial line: the setup error goes to standard error
// and the run is aborted. (That no bar is drawn off a terminal is checked by the
// LAN end-to-end runs, whose output is a file.)
TEST_F(TerminalTest, PortThatCannotBeSetUpShowsItsError) {
    const std::string notALine = dir_.File("plain-file");
    WriteFile(notALine, {0});
    ChildSpec launch = Updater({"-f", "com1"}, notALine);
    launch.input = "pw\n";
    const ChildResult run = RunChild(launch, RUN_LIMIT);
    EXPECT_EQ(run.exitStatus, 32) << run.out << run.err;
    EXPECT_NE(run.err.find(TEXT_PORT_SETUP_ERROR), std::string::npos) << run.err;
    EXPECT_NE(run.out.find(TEXT_ABORTED), std::string::npos) << run.out;
}

// In a namespace whose only interface is on 10.79.0.0/24 (every address there but
// the simulator's swallows the connect), with the access point at 10.79.0.20 and
// nothing at the default address: "?" at the address question searches the default
// targets and prints the numbered table; "1" picks the access point, which the run
// then updates.
TEST_F(TerminalTest, QuestionMarkSearchesAndANumberPicksTheAccessPoint) {
    const std::string apsim = ShellQuote(BuildPath("quorsel-apsim")) + " --flash " +
                              ShellQuote(dir_.File("flash.bin")) + " --model KRV001 --generation 1";
    ChildSpec launch;
    launch.argv = {"/bin/sh", "-c",
                   ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_in_netns.sh") + " " +
                       ShellQuote(dir_.path()) + " " + apsim + " -- " + ShellQuote(updater_)};
    launch.setEnv = {"NETNS_ON_TERMINAL=1", "NETNS_APSIM_ADDRESS=10.79.0.20", "NETNS_SEARCH_SUBNET=10.79.0.1/24"};
    launch.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    TerminalProcess updater;
    ASSERT_TRUE(updater.Start(launch));
    ASSERT_TRUE(updater.WaitForScreen(TEXT_FORM_TRANSPORT, SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.Type("1\r"));
    ASSERT_TRUE(updater.WaitForScreen(std::string(TEXT_IP_ADDRESS) + " [192.168.1.254]", SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.Type("?\r"));
    ASSERT_TRUE(updater.WaitForScreen(TEXT_SEARCH_PROGRESS, SCREEN_WAIT)) << updater.Screen();
    ASSERT_TRUE(updater.WaitForScreen(TEXT_SEARCH_PICK_HINT, SCREEN_WAIT)) << updater.Screen();
    const std::string table = updater.Screen();
    ASSERT_TRUE(updater.Type("1\r"));
    const std::optional<int> status = updater.Wait(RUN_LIMIT);
    ASSERT_TRUE(status.has_value()) << "still running: " << updater.Screen();

    // The header, then one numbered row: address, model, generation digit, fit mark.
    EXPECT_NE(table.find("    IPアドレス  機種    世代  対応\r\n"), std::string::npos) << table;
    EXPECT_NE(table.find("1)  10.79.0.20  KRV001  1     ○\r\n"), std::string::npos) << table;
    EXPECT_EQ(table.find("2)"), std::string::npos) << "only the access point is listed: " << table;
    EXPECT_NE(updater.Screen().find(TEXT_COMPLETE), std::string::npos) << updater.Screen();
    EXPECT_EQ(ReadFile(dir_.File("updater.rc")), std::vector<uint8_t>({'0', '\n'})) << updater.Screen();
}

// A LAN run that cannot connect: the status line stays as it is, and the diagnostic
// line suggests the search.
TEST_F(TerminalTest, AFailedConnectSuggestsTheSearch) {
    ChildSpec launch;
    launch.argv = {"/bin/sh", "-c",
                   ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_in_netns.sh") + " " +
                       ShellQuote(dir_.path()) + " none -- " + ShellQuote(updater_) + " -f 192.168.1.254"};
    launch.setEnv = {"NETNS_ON_TERMINAL=1"};
    launch.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    TerminalProcess updater;
    ASSERT_TRUE(updater.Start(launch));
    ASSERT_TRUE(updater.Wait(RUN_LIMIT).has_value()) << "still running: " << updater.Screen();
    const std::string screen = updater.Screen();
    EXPECT_NE(screen.find("192.168.1.254 に接続できません\r\n"), std::string::npos) << screen;
    const size_t diagnostic = screen.find("quorsel: connecting to ");
    ASSERT_NE(diagnostic, std::string::npos) << screen;
    const std::string line = screen.substr(diagnostic, screen.find('\n', diagnostic) - diagnostic);
    EXPECT_NE(line.find(std::string("; ") + TEXT_SEARCH_SUGGESTION), std::string::npos) << line;
    EXPECT_NE(line.find("quorsel-scan"), std::string::npos) << line;
}

}  // namespace
}  // namespace quorsel::testing
