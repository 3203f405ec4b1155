// Soak runs: many whole update runs one after the other in one process, watching
// for anything that accumulates. 200 LAN runs go through the real POSIX network to
// one quorsel-apsim on 127.0.0.1; 20 serial runs go through the power-on wait's
// worker thread and the real termios line to one quorsel-apsim --serial on a
// pseudo-terminal. After every run the process must hold exactly
// the descriptors and threads it held after the first (which lets the runtime and
// the sanitizers set up what they keep for the process's life); its resident memory must
// not grow from the end of the warm-up to the last run (checked without sanitizers,
// whose quarantine holds freed memory on purpose). The figures are printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "engine/serial_line_posix.h"
#include "tests/e2e/e2e_support.h"
#include "tests/reliability/fault_cells.h"
#include "tests/reliability/process_probe.h"
#include "tests/reliability/run_harness.h"
#include "tests/support/apsim_process.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_serial_line.h"
#include "tests/support/temp_dir.h"

namespace quorsel::testing {
namespace {

using std::chrono::milliseconds;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

constexpr int LAN_RUNS = 200;
constexpr int SERIAL_RUNS = 20;
constexpr int WARM_UP_RUNS = 10;
// Growth of the resident set from the end of the warm-up to the last run that
// counts as a leak: well below what 190 runs would leave if each kept one range
// buffer (4 KiB) or one reply buffer.
constexpr uint64_t RSS_GROWTH_LIMIT_KIB = 512;

struct Figures {
    size_t descriptorsBefore = 0;
    size_t descriptorsMax = 0;
    uint64_t threadsBefore = 0;
    uint64_t threadsMax = 0;
    uint64_t rssAfterWarmUp = 0;
    uint64_t rssAtEnd = 0;
    uint64_t rssMax = 0;

    // After run `run` (1-based); the first sets the baseline.
    void Sample(int run) {
        if (run == 1) {
            descriptorsBefore = descriptorsMax = OpenDescriptorCount();
            threadsBefore = threadsMax = ThreadCount().value_or(0);
        }
        const size_t descriptors = OpenDescriptorCount();
        const uint64_t threads = ThreadCount().value_or(0);
        const uint64_t rss = ResidentKiB().value_or(0);
        descriptorsMax = std::max(descriptorsMax, descriptors);
        threadsMax = std::max(threadsMax, threads);
        rssMax = std::max(rssMax, rss);
        if (run == WARM_UP_RUNS) rssAfterWarmUp = rss;
        rssAtEnd = rss;
        EXPECT_EQ(descriptors, descriptorsBefore) << "after run " << run << ":\n"
                                                  << ::testing::PrintToString(OpenDescriptorTargets());
        EXPECT_EQ(threads, threadsBefore) << "after run " << run;
    }
    void Report(const char* what, int runs, milliseconds elapsed) const {
        std::cout << "[soak] " << what << ": " << runs << " runs in " << elapsed.count() << " ms; descriptors "
                  << descriptorsBefore << " after the first run, at most " << descriptorsMax << " after any; threads "
                  << threadsBefore << " after the first, at most " << threadsMax << "; VmRSS " << rssAfterWarmUp
                  << " KiB after " << WARM_UP_RUNS << " runs, " << rssAtEnd << " KiB at the end (max " << rssMax
                  << " KiB)" << (SANITIZED ? ", sanitizer build: growth not judged" : "") << std::endl;
        ::testing::Test::RecordProperty(std::string(what) + "_rss_growth_kib",
                                        std::to_string(static_cast<int64_t>(rssAtEnd) -
                                                       static_cast<int64_t>(rssAfterWarmUp)));
        if (!SANITIZED && rssAtEnd > rssAfterWarmUp) {
            EXPECT_LE(rssAtEnd - rssAfterWarmUp, RSS_GROWTH_LIMIT_KIB) << what << ": resident memory grew";
        }
    }
};

TEST(Soak, TwoHundredLanRunsAgainstOneSimulator) {
    TempDir dir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(dir.File("updater"), MIB2, "KRV001"));
    ApSimProcess apsim;
    ASSERT_TRUE(apsim.Start({"--model", "KRV001", "--generation", "2", "--password", "pw", "--flash",
                             dir.File("flash.bin")},
                            dir.File("apsim.log")));
    LoopbackNetwork network(apsim.port());
    FakeSerialPorts noPorts;
    const RunSettings settings = ShortRunSettings(firmware.path, 0, MATRIX_REGIONS, milliseconds(5000));

    Figures figures;
    const auto started = std::chrono::steady_clock::now();
    for (int run = 1; run <= LAN_RUNS; ++run) {
        FrontEnd front;
        const StatusCode code = front.Run(settings, network, noPorts);
        ASSERT_EQ(code, STATUS_COMPLETE) << "run " << run << "\n" << apsim.Log();
        figures.Sample(run);
        if (::testing::Test::HasFailure()) break;
    }
    const auto elapsed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(network.connects, 2 * LAN_RUNS);
    figures.Report("LAN", LAN_RUNS, elapsed);

    apsim.Stop(milliseconds(5000));
    const std::vector<uint8_t> flash = ReadFile(dir.File("flash.bin"));
    ASSERT_GE(flash.size(), MATRIX_RANGE_START + MATRIX_RANGE_LENGTH);
    EXPECT_TRUE(std::equal(firmware.plain.begin() + MATRIX_RANGE_START,
                           firmware.plain.begin() + MATRIX_RANGE_START + MATRIX_RANGE_LENGTH,
                           flash.begin() + MATRIX_RANGE_START));
}

TEST(Soak, TwentySerialRunsOverAPseudoTerminal) {
    TempDir dir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(dir.File("updater"), MIB2, "KRV001"));
    ApSimProcess apsim;
    ASSERT_TRUE(apsim.StartSerial({"--model", "KRV001", "--loader-length", "300", "--password", "pw", "--flash",
                                   dir.File("flash.bin")},
                                  dir.File("apsim.log")))
        << apsim.Log();
    ScopedComPort port(apsim.device());
    PosixSerialPorts ports;
    FakeNetwork noNetwork;
    const RunSettings settings = ShortRunSettings(firmware.path, 1, MATRIX_REGIONS, milliseconds(5000));

    Figures figures;
    const auto started = std::chrono::steady_clock::now();
    for (int run = 1; run <= SERIAL_RUNS; ++run) {
        FrontEnd front;
        ASSERT_EQ(front.Run(settings, noNetwork, ports), STATUS_COMPLETE) << "run " << run << "\n" << apsim.Log();
        EXPECT_EQ(front.powerOn.shown, 1);
        EXPECT_EQ(front.erasing, "Erasing\n");
        figures.Sample(run);
        if (::testing::Test::HasFailure()) break;
    }
    const auto elapsed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
    figures.Report("serial", SERIAL_RUNS, elapsed);

    apsim.Stop(milliseconds(5000));
    const std::vector<uint8_t> flash = ReadFile(dir.File("flash.bin"));
    ASSERT_GE(flash.size(), MATRIX_RANGE_START + MATRIX_RANGE_LENGTH);
    EXPECT_TRUE(std::equal(firmware.plain.begin() + MATRIX_RANGE_START,
                           firmware.plain.begin() + MATRIX_RANGE_START + MATRIX_RANGE_LENGTH,
                           flash.begin() + MATRIX_RANGE_START));
}

}  // namespace
}  // namespace quorsel::testing
