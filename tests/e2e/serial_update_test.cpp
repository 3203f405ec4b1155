// The real quorsel binary, with a container appended by quorsel-pack, updates
// quorsel-apsim --serial over a pseudo-terminal that QUORSEL_COM<n> names. The
// updater runs in a session of its own, so it reads the password from standard input.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <csignal>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "res/texts.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/apsim_process.h"
#include "tests/support/child_process.h"

namespace quorsel::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t MIB2 = 0x200000;
constexpr const char* MODEL = "KRV001";  // 2 MiB layout
constexpr const char* PASSWORD = "secret";
constexpr auto RUN_LIMIT = 90s;

// Ranges of the KRV001 layout.
struct Span {
    uint32_t start;
    uint32_t length;
};
constexpr Span REGION_0{0x0, 0x1000};
constexpr Span REGION_1{0x1000, 0x1000};
constexpr Span REGION_4{0xB000, 0xD000};
constexpr Span REGIONS_4_5{0xB000, MIB2 - 0xB000};

std::vector<uint8_t> LoaderOf(size_t length) {
    std::vector<uint8_t> loader(length);
    for (size_t i = 0; i < length; ++i) loader[i] = static_cast<uint8_t>(i * 7 + 3);
    return loader;
}

bool ContainsInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    size_t at = 0;
    for (const std::string& line : lines) {
        if (at < wanted.size() && line.rfind(wanted[at], 0) == 0) ++at;
    }
    return at == wanted.size();
}

size_t CountLines(const std::string& text, const std::string& line) {
    std::vector<std::string> lines = Lines(text);
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

extern "C" char** environ;

// Runs the child with its standard output on a pseudo-terminal, in a session of its
// own (no controlling terminal, so the password still comes from standard input,
// given as bytes). What it wrote there, or nullopt when it did not end within limit.
std::optional<std::string> RunWithTerminalOutput(const ChildSpec& launch, std::chrono::milliseconds limit) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return std::nullopt;
    // Opened here and handed down, so the slave side is open from before the child
    // starts until it ends: then the master reads end of output.
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    int input[2];
    if (slave < 0 || ::pipe2(input, O_CLOEXEC) != 0) return std::nullopt;
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        bool drop = std::find(launch.unsetEnv.begin(), launch.unsetEnv.end(), name) != launch.unsetEnv.end();
        for (const std::string& set : launch.setEnv) drop = drop || set.substr(0, set.find('=')) == name;
        if (!drop) env.push_back(text);
    }
    env.insert(env.end(), launch.setEnv.begin(), launch.setEnv.end());
    std::vector<char*> argv, envp;
    for (const std::string& arg : launch.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(input[0], 0) < 0 || ::dup2(slave, 1) < 0 || ::dup2(null, 2) < 0) _exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(slave);
    ::close(input[0]);
    if (pid > 0) {
        [[maybe_unused]] ssize_t written = ::write(input[1], launch.input.data(), launch.input.size());
    }
    ::close(input[1]);
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{master, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0) continue;
        char chunk[4096];
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0) break;  // EIO: the child and its slave side are gone
        out.append(chunk, static_cast<size_t>(n));
    }
    ::close(master);
    if (pid <= 0) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::optional<int> status = ReapWithin(pid, std::max(left, std::chrono::milliseconds(0)));
    if (!status) {
        ::kill(pid, SIGKILL);
        ReapWithin(pid, std::chrono::milliseconds(5000));
        return std::nullopt;
    }
    return out;
}

class SerialUpdateTest : public ::testing::Test {
protected:
    void Pack(size_t loaderLength, uint32_t imageSize = MIB2) {
        image_ = SampleImage(imageSize, MODEL);
        loader_ = LoaderOf(loaderLength);
        updater_ = PackUpdater(dir_, loader_, image_);
        ASSERT_FALSE(updater_.empty()) << "quorsel-pack failed";
    }

    void StartSimulator(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--model",    MODEL,    "--loader-length", std::to_string(loader_.size()),
                                         "--password", PASSWORD, "--flash",         dir_.File("flash.bin")};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(apsim_.StartSerial(args, dir_.File("apsim.log"))) << apsim_.Log();
    }

    // The updater with its port (COMn, n from 1) on the simulator's device and the
    // other three on a path where nothing is.
    ChildSpec UpdaterSpec(const std::vector<std::string>& args, const std::string& input, int com = 1,
                          const std::vector<std::string>& env = {}) const {
        ChildSpec child;
        child.argv.push_back(updater_);
        child.argv.insert(child.argv.end(), args.begin(), args.end());
        for (int n = 1; n <= 4; ++n) {
            const std::string device = n == com && apsim_.device().size() > 0 ? apsim_.device() : NoPort();
            child.setEnv.push_back("QUORSEL_COM" + std::to_string(n) + "=" + device);
        }
        // The run log goes into the test's folder, not the user's.
        child.setEnv.push_back("XDG_STATE_HOME=" + dir_.File("state"));
        child.setEnv.insert(child.setEnv.end(), env.begin(), env.end());
        // The terminal front-end, whatever display the test runs under.
        child.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
        if (std::none_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("QUORSEL_PEER", 0) == 0; })) {
            child.unsetEnv.push_back("QUORSEL_PEER_TIMEOUT_MS");
        }
        child.input = input;
        return child;
    }

    ChildResult Update(const std::vector<std::string>& args, const std::string& input, int com = 1,
                       const std::vector<std::string>& env = {}) {
        ChildResult result = RunChild(UpdaterSpec(args, input, com, env), RUN_LIMIT);
        EXPECT_NE(result.exitStatus, -1) << "the updater did not end within the limit";
        return result;
    }

    std::string NoPort() const { return dir_.File("no-such-port"); }

    // The simulator's flash holds the plain image over the written spans and is
    // erased (0xFF) everywhere else.
    void ExpectFlash(const std::vector<Span>& written) {
        std::vector<uint8_t> flash = ReadFile(dir_.File("flash.bin"));
        ASSERT_EQ(flash.size(), MIB2);
        std::vector<bool> covered(flash.size(), false);
        for (const Span& span : written) {
            ASSERT_LE(span.start + span.length, image_.size());
            EXPECT_TRUE(std::equal(image_.begin() + span.start, image_.begin() + span.start + span.length,
                                   flash.begin() + span.start))
                << "flash differs from the image in 0x" << std::hex << span.start << "+0x" << span.length;
            std::fill(covered.begin() + span.start, covered.begin() + span.start + span.length, true);
        }
        for (size_t i = 0; i < flash.size(); ++i) {
            if (!covered[i] && flash[i] != 0xFF) {
                ADD_FAILURE() << "byte 0x" << std::hex << i << " outside the written ranges was changed";
                break;
            }
        }
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::vector<uint8_t> loader_;
    std::string updater_;
    ApSimProcess apsim_;
};

TEST_F(SerialUpdateTest, RegionZeroOverCom2At9600Baud) {
    Pack(300);
    StartSimulator({"--baud", "57600"});
    ChildResult run = Update({"-b", "com2", "9600"}, std::string(PASSWORD) + "\n", 2);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << apsim_.Log();
    std::vector<std::string> lines = Lines(run.out);
    EXPECT_TRUE(ContainsInOrder(lines, {TEXT_PREPARING, TEXT_PASSWORD_PROMPT, TEXT_POWER_ON_LINE1, TEXT_POWER_ON_LINE2,
                                        TEXT_POWER_ON_LINE3, TEXT_TRANSFERRING, TEXT_ERASING, "Erasing", TEXT_WRITING,
                                        TEXT_COMPLETE, "アップデートを完了しました。",
                                        "アクセスポイントを再起動してください。"}))
        << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), TEXT_PREPARING);
    EXPECT_EQ(lines.back(), "アクセスポイントを再起動してください。");
    EXPECT_EQ(CountLines(run.out, "Erasing"), 1u);
    EXPECT_EQ(run.out.find('\r'), std::string::npos) << "no progress bar when stdout is not a terminal";
    EXPECT_TRUE(run.err.empty()) << run.err;
    ExpectFlash({REGION_0});
    // 300 + 20 + 4096 bytes: five blocks.
    EXPECT_NE(apsim_.Log().find("end of upload: 5 blocks"), std::string::npos) << apsim_.Log();
}

// On a terminal the bar takes the progress dialog's positions: 80 % of the upload,
// 90 % at the flash write, and the full bar before "正常終了".
TEST_F(SerialUpdateTest, OnATerminalTheBarEndsFullBeforeTheLastStatusLine) {
    Pack(300);
    StartSimulator();
    std::optional<std::string> out = RunWithTerminalOutput(UpdaterSpec({"-b", "com1"}, std::string(PASSWORD) + "\n"), RUN_LIMIT);
    ASSERT_TRUE(out.has_value()) << "the updater did not end within the limit";
    const std::string full = "[" + std::string(40, '#') + "] 100%";
    const size_t eighty = out->find("]  80%"), ninety = out->find("]  90%"), writing = out->find(TEXT_WRITING);
    const size_t whole = out->find(full), complete = out->find(TEXT_COMPLETE);
    ASSERT_NE(complete, std::string::npos) << *out << apsim_.Log();
    EXPECT_LT(eighty, ninety) << *out;
    EXPECT_LT(ninety, writing) << *out;
    EXPECT_LT(writing, whole) << *out;
    EXPECT_LT(whole, complete) << *out;
    EXPECT_EQ(out->find("\033[K"), std::string::npos) << "a bar that was drawn stays: " << *out;
}

TEST_F(SerialUpdateTest, DefaultRegionsWithTheHeaderAcrossTwoBlocks) {
    // 1010 bytes of loader: the first block holds 14 bytes of the header, the second the other 6.
    Pack(1010);
    StartSimulator();
    ChildResult run = Update({"-i", "com1"}, std::string(PASSWORD) + "\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << apsim_.Log();
    EXPECT_TRUE(ContainsInOrder(Lines(run.out), {TEXT_TRANSFERRING, TEXT_ERASING, TEXT_WRITING, TEXT_COMPLETE}))
        << run.out;
    ExpectFlash({REGIONS_4_5});
    // 1010 + 20 + 0x1F5000 bytes take 2006 blocks; block numbers wrapped seven times.
    EXPECT_NE(apsim_.Log().find("end of upload: 2006 blocks"), std::string::npos) << apsim_.Log();
}

TEST_F(SerialUpdateTest, TwoRangesAskForPowerOnTwiceAndOpenThePortTwice) {
    Pack(512);
    StartSimulator({"--exit-after-ranges", "2"});
    ChildResult run = Update({"-ef", "com1"}, std::string(PASSWORD) + "\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << apsim_.Log();
    EXPECT_EQ(CountLines(run.out, TEXT_POWER_ON_LINE1), 2u) << run.out;
    EXPECT_EQ(CountLines(run.out, TEXT_TRANSFERRING), 2u) << run.out;
    EXPECT_EQ(CountLines(run.out, "Erasing"), 2u) << run.out;
    EXPECT_EQ(CountLines(run.out, TEXT_COMPLETE), 1u) << run.out;
    EXPECT_TRUE(ContainsInOrder(Lines(run.out), {TEXT_PASSWORD_PROMPT, TEXT_POWER_ON_LINE1, TEXT_TRANSFERRING,
                                                 TEXT_WRITING, TEXT_POWER_ON_LINE1, TEXT_TRANSFERRING, TEXT_WRITING,
                                                 TEXT_COMPLETE}))
        << run.out;
    ExpectFlash({REGION_1, REGION_4});
    // The simulator saw two separate openings of the line and ended after the second range.
    EXPECT_EQ(apsim_.WaitExit(5s), 0) << apsim_.Log();
    const std::string log = apsim_.Log();
    EXPECT_NE(log.find("serial 1: range written: start 0x1000"), std::string::npos) << log;
    EXPECT_NE(log.find("serial 2: range written: start 0xb000"), std::string::npos) << log;
}

TEST_F(SerialUpdateTest, RefusedBlocksAreSentAgainAndBootNoiseIsPassedOver) {
    Pack(1004);
    const std::string noise = "Boot ROM 1.02\r\n";
    StartSimulator({"--nak-blocks", "1,2,5", "--boot-noise", noise, "--wake-after", "5"});
    ChildResult run = Update({"-f", "com1"}, std::string(PASSWORD) + "\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << apsim_.Log();
    ExpectFlash({REGION_4});
    const std::string log = apsim_.Log();
    for (const char* block : {"block 1\n", "block 2\n", "block 5\n"}) {
        EXPECT_NE(log.find(std::string("NAK to the first transmission of ") + block), std::string::npos) << log;
    }
    EXPECT_NE(log.find("5 \"X\" received"), std::string::npos) << log;
    // The wake-up takes one byte a pass: one more "X" for every byte of noise before the "*".
    EXPECT_NE(log.find(std::to_string(noise.size()) + " stray bytes dropped"), std::string::npos) << log;
}

TEST_F(SerialUpdateTest, AFailedRunLeavesThePortUsableForTheNext) {
    Pack(100);
    StartSimulator();
    ChildResult wrong = Update({"-b", "com1"}, "not-it\n");
    EXPECT_EQ(wrong.exitStatus, 23) << wrong.out << wrong.err << apsim_.Log();
    EXPECT_NE(wrong.out.find(TEXT_BAD_PASSWORD), std::string::npos) << wrong.out;
    ChildResult right = Update({"-b", "com1"}, std::string(PASSWORD) + "\n");
    EXPECT_EQ(right.exitStatus, 0) << right.out << right.err << apsim_.Log();
    ExpectFlash({REGION_0});
}

// A device path on the command line: the simulator's pseudo-terminal itself, no
// QUORSEL_COMn involved. Each run appends its record to the day's log, and a
// failed run names that file.
TEST_F(SerialUpdateTest, DevicePathOnTheCommandLineAndTheRunLog) {
    Pack(100);
    StartSimulator();
    ASSERT_EQ(apsim_.device().rfind("/dev/", 0), 0u) << apsim_.device();
    ChildResult wrong = Update({"-b", apsim_.device()}, "not-it\n", 0);
    EXPECT_EQ(wrong.exitStatus, 23) << wrong.out << wrong.err << apsim_.Log();
    const std::string logFolder = dir_.File("state") + "/quorsel";
    EXPECT_NE(wrong.err.find("quorsel: the run's log: " + logFolder + "/quorsel-"), std::string::npos) << wrong.err;
    ChildResult right = Update({"-b", apsim_.device(), "115200"}, std::string(PASSWORD) + "\n", 0);
    EXPECT_EQ(right.exitStatus, 0) << right.out << right.err << apsim_.Log();
    EXPECT_EQ(right.err.find("the run's log"), std::string::npos) << "only a failure names the log";
    ExpectFlash({REGION_0});

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(logFolder)) files.push_back(entry.path().string());
    ASSERT_EQ(files.size(), 1u);
    const std::vector<uint8_t> bytes = ReadFile(files[0]);
    const std::string log(bytes.begin(), bytes.end());
    EXPECT_NE(log.find("job: serial " + apsim_.device() + ", 115200 baud, regions 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("outcome: 279 STATUS_BAD_PASSWORD\n"), std::string::npos) << log;
    EXPECT_NE(log.find("outcome: 278 STATUS_COMPLETE\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(PASSWORD), std::string::npos) << log;
    EXPECT_EQ(log.find("not-it"), std::string::npos) << log;
}

struct LoaderFault {
    const char* name;
    std::vector<std::string> apsimArgs;
    const char* password;
    int exitStatus;
    const char* statusText;
    bool erased;  // the loader reported "E" before the failure
};

void PrintTo(const LoaderFault& fault, std::ostream* out) { *out << fault.name; }

class SerialFaultTest : public SerialUpdateTest, public ::testing::WithParamInterface<LoaderFault> {};

TEST_P(SerialFaultTest, FailureEndsTheRunWithItsStatusAndWritesNothing) {
    const LoaderFault& fault = GetParam();
    Pack(700);
    StartSimulator(fault.apsimArgs);
    ChildResult run =
        Update({"-ef", "com1"}, std::string(fault.password) + "\n", 1, {"QUORSEL_PEER_TIMEOUT_MS=3000"});
    EXPECT_EQ(run.exitStatus, fault.exitStatus) << run.out << run.err << apsim_.Log();
    EXPECT_NE(run.out.find(fault.statusText), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(TEXT_COMPLETE), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Erasing") != std::string::npos, fault.erased) << run.out;
    // The first of the two ranges failed: the second was never asked for.
    EXPECT_EQ(CountLines(run.out, TEXT_POWER_ON_LINE1), 1u) << run.out;
    EXPECT_NE(run.err.find("quorsel: "), std::string::npos) << "a diagnostic names the step: " << run.err;
    ExpectFlash({});
}

INSTANTIATE_TEST_SUITE_P(
    EveryLetterAndSilence, SerialFaultTest,
    ::testing::Values(
        LoaderFault{"WrongPassword", {}, "wrong", 23, TEXT_BAD_PASSWORD, false},
        LoaderFault{"ReportB", {"--report", "B"}, PASSWORD, 23, TEXT_BAD_PASSWORD, false},
        LoaderFault{"ReportI", {"--report", "I"}, PASSWORD, 8, TEXT_FILE_ERROR, false},
        LoaderFault{"ReportN", {"--report", "N"}, PASSWORD, 6, TEXT_WRITE_ERROR, true},
        LoaderFault{"SilentAtReady", {"--silent-at", "c"}, PASSWORD, 5, TEXT_COMM_ERROR, false},
        LoaderFault{"SilentAtBlock3", {"--silent-at", "block:3"}, PASSWORD, 5, TEXT_COMM_ERROR, false},
        LoaderFault{"SilentAtEndMark", {"--silent-at", "eot"}, PASSWORD, 5, TEXT_COMM_ERROR, false}),
    [](const ::testing::TestParamInfo<LoaderFault>& param) { return std::string(param.param.name); });

// The silence limit after the upload is the protocol's 90 s: QUORSEL_PEER_TIMEOUT_MS,
// which shortens the other waits above, leaves it alone.
TEST_F(SerialUpdateTest, SilenceAfterTheUploadOutlastsThePeerTimeoutVariable) {
    Pack(700);
    StartSimulator({"--silent-at", "report"});
    ChildProcess updater;
    ASSERT_TRUE(updater.Start(UpdaterSpec({"-ef", "com1"}, std::string(PASSWORD) + "\n", 1, {"QUORSEL_PEER_TIMEOUT_MS=500"})));
    const std::string silent = "fault: silent at report";
    for (int i = 0; i < 1200 && apsim_.Log().find(silent) == std::string::npos; ++i) std::this_thread::sleep_for(50ms);
    ASSERT_NE(apsim_.Log().find(silent), std::string::npos) << apsim_.Log() << updater.Out() << updater.Err();
    EXPECT_FALSE(updater.Wait(2s).has_value()) << "ended within 4 times the variable's bound: " << updater.Out()
                                               << updater.Err();
    EXPECT_EQ(updater.Out().find(TEXT_COMM_ERROR), std::string::npos) << updater.Out();
}

TEST_F(SerialUpdateTest, MissingPortIsReportedAndAbortsTheRun) {
    Pack(100);
    // No simulator: every COM port names a path where nothing is.
    ChildResult run = Update({"-b", "com1"}, std::string(PASSWORD) + "\n");
    EXPECT_EQ(run.exitStatus, 32) << run.out << run.err;
    EXPECT_NE(run.err.find(TEXT_PORT_OPEN_ERROR), std::string::npos) << run.err;
    EXPECT_NE(run.out.find(TEXT_ABORTED), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(TEXT_TRANSFERRING), std::string::npos) << run.out;
}

TEST_F(SerialUpdateTest, CtrlCAtThePowerOnPromptAbortsAndReleasesThePort) {
    Pack(100);
    StartSimulator({"--silent-at", "wake"});
    ChildProcess updater;
    ASSERT_TRUE(updater.Start(UpdaterSpec({"-b", "com1"}, std::string(PASSWORD) + "\n")));
    ASSERT_TRUE(updater.WaitForOut(TEXT_POWER_ON_LINE3, 20s)) << updater.Out() << updater.Err();
    // Once the simulator hears the wake-up bytes, the prompt waits for the answer.
    const std::string heard = "fault: silent at wake";
    for (int i = 0; i < 200 && apsim_.Log().find(heard) == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_NE(apsim_.Log().find(heard), std::string::npos) << apsim_.Log();
    updater.Signal(SIGINT);
    std::optional<int> status = updater.Wait(20s);
    ASSERT_TRUE(status.has_value()) << "the updater did not end after Ctrl-C: " << updater.Out();
    EXPECT_EQ(*status, 32) << updater.Out() << updater.Err();
    EXPECT_NE(updater.Out().find(TEXT_ABORTED), std::string::npos) << updater.Out();
    EXPECT_EQ(updater.Out().find(TEXT_TRANSFERRING), std::string::npos) << updater.Out();
    // The updater closed the port when it gave up the prompt.
    for (int i = 0; i < 100 && apsim_.Log().find("silent line ended: the updater closed") == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_NE(apsim_.Log().find("silent line ended: the updater closed the line"), std::string::npos) << apsim_.Log();
    ExpectFlash({});
}

TEST_F(SerialUpdateTest, LoaderOverFourKilobytesFailsAfterThePassword) {
    Pack(4097);
    // Nothing may be opened: every COM port names a path where nothing is.
    ChildResult run = Update({"-b", "com1"}, std::string(PASSWORD) + "\n");
    EXPECT_EQ(run.exitStatus, 8) << run.out << run.err;
    EXPECT_TRUE(ContainsInOrder(Lines(run.out), {TEXT_PREPARING, TEXT_PASSWORD_PROMPT, TEXT_FILE_ERROR})) << run.out;
    EXPECT_EQ(run.out.find(TEXT_POWER_ON_LINE1), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(TEXT_PORT_OPEN_ERROR), std::string::npos) << run.err;
}

}  // namespace
}  // namespace quorsel::testing
