// The fault matrix in process: whole update runs through the real POSIX network
// against quorsel-apsim on 127.0.0.1 misbehaving at one step in one way, and serial
// runs against scripted lines. Each cell ends with its status long before an
// unshortened bound could run out,
// reports success only with the flash equal to the image, and leaves exactly the
// descriptors it found: every socket and the program file closed, none twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "engine/limits.h"
#include "engine/serial_line_posix.h"
#include "tests/e2e/e2e_support.h"
#include "tests/reliability/fault_cells.h"
#include "tests/reliability/process_probe.h"
#include "tests/reliability/run_harness.h"
#include "tests/reliability/serial_cell.h"
#include "tests/support/apsim_process.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_serial_line.h"
#include "tests/support/temp_dir.h"

namespace quorsel::testing {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds PEER_TIMEOUT{300};
// Every cell must end well before a wait left at its default bound (60 s) could have
// run out: that shows the shortened bounds ended each silent wait, and leaves a slow
// or loaded machine (sanitizer builds at -j2) many times the time a cell needs here.
constexpr milliseconds CELL_LIMIT = PeerTimeouts{}.lanRead / 2;
static_assert(CELL_LIMIT <= PeerTimeouts{}.serialAnswer / 2 && CELL_LIMIT > 20 * PEER_TIMEOUT);

bool FlashHoldsTheRange(const std::string& flashPath, const std::vector<uint8_t>& plain) {
    const std::vector<uint8_t> flash = ReadFile(flashPath);
    if (flash.size() < MATRIX_RANGE_START + MATRIX_RANGE_LENGTH) return false;
    return std::equal(plain.begin() + MATRIX_RANGE_START, plain.begin() + MATRIX_RANGE_START + MATRIX_RANGE_LENGTH,
                      flash.begin() + MATRIX_RANGE_START);
}

TEST(EngineFaultMatrix, LanEveryStepAndFaultOverLoopbackSockets) {
    TempDir dir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(dir.File("updater"), MIB2, "KRV001"));

    for (const LanStep& step : LanSteps()) {
        for (size_t f = 0; f < ALL_FAULTS.size(); ++f) {
            const Fault fault = ALL_FAULTS[f];
            SCOPED_TRACE(std::string(step.name) + " / " + FaultName(fault));
            TempDir cell;
            ApSimProcess apsim;
            ASSERT_TRUE(apsim.Start({"--model", "KRV001", "--generation", "2", "--password", "pw", "--flash",
                                     cell.File("flash.bin"), ApsimFaultOption(fault), step.point},
                                    cell.File("apsim.log")));
            LoopbackNetwork network(apsim.port());
            FakeSerialPorts noPorts;
            FrontEnd front;

            const size_t descriptors = OpenDescriptorCount();
            ResetBadCloseCount();
            const auto started = std::chrono::steady_clock::now();
            const StatusCode code =
                front.Run(ShortRunSettings(firmware.path, 0, MATRIX_REGIONS, PEER_TIMEOUT), network, noPorts);
            const auto elapsed =
                std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
            const std::vector<std::string> left = OpenDescriptorTargets();

            EXPECT_EQ(code, step.expected[f]) << apsim.Log();
            EXPECT_LT(elapsed, CELL_LIMIT);
            EXPECT_EQ(left.size(), descriptors) << "descriptors after the run:\n" << ::testing::PrintToString(left);
            EXPECT_EQ(BadCloseCount(), 0u) << "a descriptor was closed twice";
            EXPECT_EQ(front.sink.Count(STATUS_COMPLETE), code == STATUS_COMPLETE ? 1u : 0u);
            if (code == STATUS_COMPLETE) {
                apsim.Stop(milliseconds(5000));
                EXPECT_TRUE(FlashHoldsTheRange(cell.File("flash.bin"), firmware.plain));
            }
            std::cout << "[cell] LAN " << step.name << " / " << FaultName(fault) << ": " << StatusName(code) << " in "
                      << elapsed.count() << " ms, descriptors " << descriptors << " -> " << left.size() << "\n";
        }
    }
}

TEST(EngineFaultMatrix, SerialEveryStepAndFaultOnScriptedLines) {
    TempDir dir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(dir.File("updater"), MIB2, "KRV001"));
    const milliseconds patience{300};

    for (const SerialStep& step : SerialSteps()) {
        for (size_t f = 0; f < ALL_FAULTS.size(); ++f) {
            const Fault fault = ALL_FAULTS[f];
            SCOPED_TRACE(std::string(step.name) + " / " + FaultName(fault));
            ResetBadCloseCount();
            const SerialCellOutcome outcome = RunSerialCell(firmware.path, step, fault, patience);
            EXPECT_EQ(outcome.code, step.expected[f]);
            EXPECT_FALSE(outcome.completeRaised);
            EXPECT_LT(outcome.elapsed, CELL_LIMIT);
            EXPECT_EQ(outcome.linesReleased, outcome.linesOpened) << "every line that was opened is released";
            EXPECT_EQ(outcome.descriptorsAfter, outcome.descriptorsBefore);
            EXPECT_EQ(BadCloseCount(), 0u);
            std::cout << "[cell] serial " << step.name << " / " << FaultName(fault) << ": " << StatusName(outcome.code)
                      << " in " << outcome.elapsed.count() << " ms, lines " << outcome.linesOpened << " opened, "
                      << outcome.linesReleased << " released\n";
        }
    }
}

// Serial runs through the real termios line to quorsel-apsim --serial on a
// pseudo-terminal, silent at each step: the line's descriptor is closed exactly
// once whichever way the run ends.
TEST(EngineFaultMatrix, SerialSilentStepsOverAPseudoTerminal) {
    TempDir dir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(dir.File("updater"), MIB2, "KRV001"));
    const milliseconds patience{1000};
    struct Row {
        const char* point;
        StatusCode expected;
    };
    for (const Row& row : {Row{"wake", STATUS_ABORTED}, Row{"c", STATUS_COMM_ERROR}, Row{"block:1", STATUS_COMM_ERROR},
                           Row{"block:27", STATUS_COMM_ERROR}, Row{"block:53", STATUS_COMM_ERROR},
                           Row{"eot", STATUS_COMM_ERROR}, Row{"report", STATUS_COMM_ERROR}, Row{nullptr, STATUS_COMPLETE}}) {
        SCOPED_TRACE(row.point != nullptr ? row.point : "no fault");
        TempDir cell;
        ApSimProcess apsim;
        std::vector<std::string> args = {"--model", "KRV001", "--loader-length", "300", "--password", "pw",
                                         "--flash", cell.File("flash.bin")};
        if (row.point != nullptr) args.insert(args.end(), {"--silent-at", row.point});
        ASSERT_TRUE(apsim.StartSerial(args, cell.File("apsim.log"))) << apsim.Log();
        ScopedComPort port(apsim.device());
        PosixSerialPorts ports;
        FakeNetwork noNetwork;
        FrontEnd front;
        front.powerOn.patience = patience;

        const size_t descriptors = OpenDescriptorCount();
        ResetBadCloseCount();
        const auto started = std::chrono::steady_clock::now();
        const StatusCode code = front.Run(ShortRunSettings(firmware.path, 1, MATRIX_REGIONS, PEER_TIMEOUT), noNetwork, ports);
        const auto elapsed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
        const std::vector<std::string> left = OpenDescriptorTargets();

        EXPECT_EQ(code, row.expected) << apsim.Log();
        EXPECT_LT(elapsed, CELL_LIMIT);
        EXPECT_EQ(left.size(), descriptors) << "descriptors after the run:\n" << ::testing::PrintToString(left);
        EXPECT_EQ(BadCloseCount(), 0u) << "a descriptor was closed twice";
        if (code == STATUS_COMPLETE) {
            apsim.Stop(milliseconds(5000));
            EXPECT_TRUE(FlashHoldsTheRange(cell.File("flash.bin"), firmware.plain));
        }
        std::cout << "[cell] serial over a pseudo-terminal, silent at " << (row.point ? row.point : "nothing") << ": "
                  << StatusName(code) << " in " << elapsed.count() << " ms, descriptors " << descriptors << " -> "
                  << left.size() << "\n";
    }
}

// The same runs without a fault: the matrix's baseline completes on both transports.
TEST(EngineFaultMatrix, WithoutAFaultBothTransportsComplete) {
    TempDir dir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(dir.File("updater"), MIB2, "KRV001"));

    ApSimProcess apsim;
    ASSERT_TRUE(apsim.Start({"--model", "KRV001", "--generation", "2", "--password", "pw", "--flash",
                             dir.File("flash.bin")},
                            dir.File("apsim.log")));
    LoopbackNetwork network(apsim.port());
    FakeSerialPorts noPorts;
    FrontEnd front;
    const size_t descriptors = OpenDescriptorCount();
    EXPECT_EQ(front.Run(ShortRunSettings(firmware.path, 0, MATRIX_REGIONS, PEER_TIMEOUT), network, noPorts),
              STATUS_COMPLETE)
        << apsim.Log();
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(network.connects, 2);
    apsim.Stop(milliseconds(5000));
    EXPECT_TRUE(FlashHoldsTheRange(dir.File("flash.bin"), firmware.plain));
}

}  // namespace
}  // namespace quorsel::testing
