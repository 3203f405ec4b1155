// The fault matrix end to end: the real quorsel binary, packed by quorsel-pack,
// against quorsel-apsim misbehaving at every step of the LAN exchange in each of
// three ways, inside a private network namespace. Every cell must end with its
// exit status long before an unshortened bound could run out, and "正常終了" may
// appear only where the simulator's flash equals the image over the range. The
// serial rows run the real binaries over a pseudo-terminal where the simulator can
// play the fault (it can fall silent at every step), and at engine level on
// scripted lines for all three. The test writes the outcome as a Markdown table to
// <build>/fault-matrix.md. With QUORSEL_UPDATE_FAULT_MATRIX=1 it rewrites
// docs/fault-matrix.md in the source tree; otherwise that page must show the same
// outcomes (its times may differ).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/limits.h"
#include "res/texts.h"
#include "tests/e2e/e2e_support.h"
#include "tests/reliability/fault_cells.h"
#include "tests/reliability/run_harness.h"
#include "tests/reliability/serial_cell.h"
#include "tests/support/apsim_process.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace quorsel::testing {
namespace {

using std::chrono::milliseconds;

constexpr int PEER_TIMEOUT_MS = 500;
// Every cell must end well before a wait left at its default bound (60 s) could have
// run out: that shows the shortened bound ended each silent wait, and leaves a slow
// or loaded machine (sanitizer builds at -j2) many times the time a cell needs here.
constexpr milliseconds CELL_LIMIT = PeerTimeouts{}.lanRead / 2;
static_assert(CELL_LIMIT <= PeerTimeouts{}.serialAnswer / 2 && CELL_LIMIT > milliseconds(20 * PEER_TIMEOUT_MS));
constexpr const char* COMPLETE_TEXT = "正常終了";
// The waits on the access point's flash work (LAN: 'S', "E ", the final "OK"; serial:
// the completion report) are not shortened by QUORSEL_PEER_TIMEOUT_MS. A peer that
// falls silent there keeps the updater waiting well beyond it; the test ends the
// updater after this long. The engine-level matrix shows how those waits end.
constexpr milliseconds FLASH_WORK_PATIENCE{4 * PEER_TIMEOUT_MS};
constexpr int EXIT_ENDED_BY_TEST = 124;  // timeout(1)'s status when it ended the updater

bool IsFlashWorkStep(const std::string& point) { return point == "start" || point == "end" || point == "final"; }

// A script that runs the updater, notes how long it ran and passes its exit status on;
// with a limit, the updater is ended (SIGTERM) once it has run that long.
std::string TimedUpdater(const TempDir& cell, const std::string& updater, milliseconds limit = milliseconds(0)) {
    const std::string path = cell.File("timed-updater");
    std::ofstream script(path);
    script << "#!/usr/bin/env bash\n"
           << "start=$(date +%s%N)\n"
           << (limit.count() > 0 ? "timeout -s TERM " + std::to_string(limit.count() / 1000) + "." +
                                       std::to_string(1000 + limit.count() % 1000).substr(1) + " "
                                 : std::string())
           << ShellQuote(updater) << " \"$@\"\n"
           << "status=$?\n"
           << "echo $(( ($(date +%s%N) - start) / 1000000 )) >" << ShellQuote(cell.File("elapsed-ms")) << "\n"
           << "exit $status\n";
    script.close();
    ::chmod(path.c_str(), 0755);
    return path;
}

std::string Seconds(milliseconds elapsed) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(2);
    text << static_cast<double>(elapsed.count()) / 1000.0 << " s";
    return text.str();
}

// The page with every time ("1.23 s") replaced by "#.## s", for comparing outcomes only.
std::string WithoutTimes(const std::string& page) {
    static const std::regex time("[0-9]+\\.[0-9]+ s");
    return std::regex_replace(page, time, "#.## s");
}

// Milliseconds from `started` to now.
milliseconds Since(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
}

bool RangeMatches(const std::vector<uint8_t>& image, const std::vector<uint8_t>& flash) {
    return flash.size() >= MATRIX_RANGE_START + MATRIX_RANGE_LENGTH &&
           std::equal(image.begin() + MATRIX_RANGE_START, image.begin() + MATRIX_RANGE_START + MATRIX_RANGE_LENGTH,
                      flash.begin() + MATRIX_RANGE_START);
}

// A serial step quorsel-apsim --serial can fall silent at, and how the run ends.
struct SerialSilence {
    const char* name;
    const char* point;  // --silent-at STEP; nullptr: no fault
    StatusCode expected;
};

struct SerialRun {
    std::optional<int> exitStatus;
    std::string out;
    std::string err;
    milliseconds elapsed{-1};
    bool flashMatches = false;
};

// One serial update of region 4 by the packed updater over the simulator's
// pseudo-terminal. A run that waits at the power-on prompt is given Ctrl-C once the
// simulator has heard the wake-up, as a user who gives up would.
SerialRun RunSerialUpdate(const std::string& updater, const std::vector<uint8_t>& image, const SerialSilence& row) {
    using namespace std::chrono_literals;
    SerialRun result;
    TempDir cell;
    ApSimProcess apsim;
    std::vector<std::string> args = {"--model", "KRV001", "--loader-length", "300", "--password", "pw",
                                     "--flash", cell.File("flash.bin")};
    if (row.point != nullptr) args.insert(args.end(), {"--silent-at", row.point});
    if (!apsim.StartSerial(args, cell.File("apsim.log"))) {
        ADD_FAILURE() << "quorsel-apsim --serial did not start: " << apsim.Log();
        return result;
    }
    ChildSpec launch;
    launch.argv = {updater, "-f", "com1"};
    launch.setEnv = {"QUORSEL_COM1=" + apsim.device(), "QUORSEL_COM2=" + cell.File("none"),
                   "QUORSEL_COM3=" + cell.File("none"), "QUORSEL_COM4=" + cell.File("none"),
                   "QUORSEL_PEER_TIMEOUT_MS=" + std::to_string(PEER_TIMEOUT_MS)};
    launch.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    launch.input = "pw\n";
    ChildProcess child;
    const auto started = std::chrono::steady_clock::now();
    if (!child.Start(launch)) {
        ADD_FAILURE() << "the updater did not start";
        return result;
    }
    if (row.expected == STATUS_ABORTED) {
        EXPECT_TRUE(child.WaitForOut(TEXT_POWER_ON_LINE3, 20s)) << child.Out() << child.Err();
        for (int i = 0; i < 200 && apsim.Log().find("fault: silent at wake") == std::string::npos; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        child.Signal(SIGINT);
    }
    if (row.expected == STATUS_NONE) {
        // A silent completion report: the updater is still waiting once the patience
        // has passed from the moment the simulator fell silent.
        for (int i = 0; i < 6000 && apsim.Log().find("fault: silent at") == std::string::npos; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_NE(apsim.Log().find("fault: silent at"), std::string::npos) << apsim.Log();
    }
    result.exitStatus = child.Wait(row.expected == STATUS_NONE ? FLASH_WORK_PATIENCE : milliseconds(60s));
    result.elapsed = Since(started);
    result.out = child.Out();
    result.err = child.Err();
    apsim.Stop(5000ms);
    result.flashMatches = RangeMatches(image, ReadFile(cell.File("flash.bin")));
    return result;
}

struct LanCell {
    int exitStatus = -1;
    bool completeShown = false;
    bool flashMatches = false;
    milliseconds elapsed{-1};
};

TEST(FaultMatrix, EveryStepAndFaultThroughTheRealBinaries) {
    TempDir dir;
    const std::vector<uint8_t> image = SampleImage(MIB2, "KRV001");
    const std::string updater = PackUpdater(dir, std::vector<uint8_t>(300, 0x5A), image);
    ASSERT_FALSE(updater.empty()) << "quorsel-pack failed";

    std::ostringstream doc;
    doc << "# Fault matrix\n\n"
        << "Generated by `reliability_tests --gtest_filter=FaultMatrix.*` (run with\n"
        << "`QUORSEL_UPDATE_FAULT_MATRIX=1` to rewrite this file); do not edit by hand.\n\n"
        << "## LAN, end to end\n\n"
        << "The packed `quorsel` updates region 4 of a 2 MiB KRV001 image (0xB000, 13 blocks of\n"
        << "4096 bytes) at 192.168.1.254:9002 inside a private network namespace, against\n"
        << "`quorsel-apsim --generation 2` with one fault option; `QUORSEL_PEER_TIMEOUT_MS="
        << PEER_TIMEOUT_MS << "`.\n"
        << "Each cell: the final status, the updater's exit status, and the time from its start\n"
        << "to its exit. \"flash = image\" means the simulator's flash equals the image over the\n"
        << "whole range; \"正常終了\" was shown only in those cells. The waits on the flash work\n"
        << "('S', \"E \", the final \"OK\") have their own bound of 300 s, which the variable does\n"
        << "not shorten: there the test ends the updater, still waiting, after "
        << Seconds(FLASH_WORK_PATIENCE) << ".\n\n"
        << "| step | peer closes | peer falls silent | peer answers garbage |\n"
        << "|---|---|---|---|\n";

    int cells = 0;
    for (const LanStep& step : LanSteps()) {
        doc << "| " << step.name << " |";
        for (size_t f = 0; f < ALL_FAULTS.size(); ++f) {
            const Fault fault = ALL_FAULTS[f];
            SCOPED_TRACE(std::string(step.name) + " / " + FaultName(fault));
            TempDir cell;
            const std::string apsimArgs = "--model KRV001 --generation 2 --password pw " + ApsimFaultOption(fault) +
                                          " " + step.point;
            const bool waits = fault == Fault::Silent && IsFlashWorkStep(step.point);
            UpdateOutcome run = RunLanUpdate(cell, TimedUpdater(cell, updater, waits ? FLASH_WORK_PATIENCE : milliseconds(0)),
                                             "-f 192.168.1.254", apsimArgs, "pw\n",
                                             "QUORSEL_PEER_TIMEOUT_MS=" + std::to_string(PEER_TIMEOUT_MS));
            LanCell result;
            result.exitStatus = run.exitStatus;
            result.completeShown = run.out.find(COMPLETE_TEXT) != std::string::npos;
            result.flashMatches = RangeMatches(image, ReadFile(cell.File("flash.bin")));
            std::ifstream elapsedFile(cell.File("elapsed-ms"));
            long elapsedMs = -1;
            if (elapsedFile >> elapsedMs) result.elapsed = milliseconds(elapsedMs);

            const StatusCode expected = step.expected[f];
            if (waits) {
                EXPECT_EQ(result.exitStatus, EXIT_ENDED_BY_TEST) << run.out << run.err << run.apsimLog;
                EXPECT_NE(run.apsimLog.find("fault: silent at"), std::string::npos) << run.apsimLog;
            } else {
                EXPECT_EQ(result.exitStatus, ExitStatusOf(expected)) << run.out << run.err << run.apsimLog;
            }
            EXPECT_EQ(result.completeShown, result.exitStatus == 0) << run.out;
            if (result.completeShown) {
                EXPECT_TRUE(result.flashMatches) << "success reported over a flash that differs";
            }
            ASSERT_GE(result.elapsed.count(), 0) << "the updater did not end";
            EXPECT_LT(result.elapsed, CELL_LIMIT);
            if (result.exitStatus != 0 && !waits) {
                EXPECT_FALSE(run.err.empty()) << "a failure names its step";
            }

            if (waits) {
                doc << " still waiting, ended by the test after " << Seconds(result.elapsed) << " |";
                ++cells;
                continue;
            }
            doc << " `" << StatusName(StatusOfExit(result.exitStatus)) << "`, exit " << result.exitStatus << ", " << Seconds(result.elapsed);
            if (result.completeShown) doc << ", 正常終了, flash = image";
            else if (result.flashMatches) doc << " (flash written before the failure)";
            doc << " |";
            ++cells;
        }
        doc << "\n";
    }
    EXPECT_EQ(cells, 27);

    doc << "\n## Serial, end to end\n\n"
        << "The same updater writes the same region over the serial line (`quorsel -f com1`,\n"
        << "300-byte loader: 53 blocks of 1024 bytes) to `quorsel-apsim --serial` on a\n"
        << "pseudo-terminal, which can fall silent at each step; `QUORSEL_PEER_TIMEOUT_MS="
        << PEER_TIMEOUT_MS << "`.\n"
        << "At the power-on prompt the updater waits for the user: the test presses Ctrl-C once\n"
        << "the simulator has heard the wake-up, so that time includes the wait for it. The\n"
        << "completion report has the 90 s silence limit of the serial protocol, which the\n"
        << "variable does not shorten: there the test ends the updater, still waiting, after "
        << Seconds(FLASH_WORK_PATIENCE) << ".\n\n"
        << "| step | line falls silent |\n"
        << "|---|---|\n";
    const std::vector<SerialSilence> silences = {
        {"no fault", nullptr, STATUS_COMPLETE},
        {"\"*\" to the wake-up \"X\"", "wake", STATUS_ABORTED},
        {"\"C\" (ready to receive)", "c", STATUS_COMM_ERROR},
        {"ACK of the first block", "block:1", STATUS_COMM_ERROR},
        {"ACK of a middle block (27 of 53)", "block:27", STATUS_COMM_ERROR},
        {"ACK of the last block (53)", "block:53", STATUS_COMM_ERROR},
        {"ACK of the end mark (EOT)", "eot", STATUS_COMM_ERROR},
        {"completion report (\"F\")", "report", STATUS_NONE},  // still waiting
    };
    for (const SerialSilence& row : silences) {
        SCOPED_TRACE(std::string("serial, end to end: ") + row.name);
        const SerialRun run = RunSerialUpdate(updater, image, row);
        if (row.expected == STATUS_NONE) {
            EXPECT_FALSE(run.exitStatus.has_value()) << "the updater ended: " << run.out << run.err;
            EXPECT_EQ(run.out.find(COMPLETE_TEXT), std::string::npos) << run.out;
            doc << "| " << row.name << " | still waiting, ended by the test after " << Seconds(run.elapsed) << " |\n";
            continue;
        }
        ASSERT_TRUE(run.exitStatus.has_value()) << "the updater did not end: " << run.out << run.err;
        const bool completeShown = run.out.find(COMPLETE_TEXT) != std::string::npos;
        EXPECT_EQ(*run.exitStatus, ExitStatusOf(row.expected)) << run.out << run.err;
        EXPECT_EQ(completeShown, *run.exitStatus == 0) << run.out;
        if (completeShown) {
            EXPECT_TRUE(run.flashMatches) << "success reported over a flash that differs";
        }
        EXPECT_LT(run.elapsed, CELL_LIMIT);
        doc << "| " << row.name << " | `" << StatusName(StatusOfExit(*run.exitStatus)) << "`, exit " << *run.exitStatus
            << ", " << Seconds(run.elapsed);
        if (completeShown) {
            doc << ", 正常終了, flash = image";
        } else if (run.flashMatches) {
            doc << " (flash written before the failure)";
        }
        doc << " |\n";
    }

    doc << "\nClosing the line and answering garbage are played at engine level below.\n"
        << "\n## Serial, engine level\n\n"
        << "Whole serial runs of the same region (300-byte loader: 53 blocks of 1024 bytes) in\n"
        << "process, against scripted serial lines: \"closes\" is a line that reports a hang-up,\n"
        << "\"garbage\" the bytes `?`, 0x00, 0xFF in place of the answer (then nothing). The\n"
        << "scripted line never really waits, so the times show the work, not the waits; the\n"
        << "power-on prompt gives up after 0.3 s like a user pressing Cancel. Each cell also\n"
        << "shows the serial lines opened and released and how the process's count of open\n"
        << "descriptors changed over the run.\n\n"
        << "| step | line closes | line falls silent | line answers garbage |\n"
        << "|---|---|---|---|\n";
    TempDir serialDir;
    FirmwareFile firmware;
    ASSERT_TRUE(firmware.Make(serialDir.File("updater"), MIB2, "KRV001"));
    for (const SerialStep& step : SerialSteps()) {
        doc << "| " << step.name << " |";
        for (size_t f = 0; f < ALL_FAULTS.size(); ++f) {
            SCOPED_TRACE(std::string(step.name) + " / " + FaultName(ALL_FAULTS[f]));
            const SerialCellOutcome outcome = RunSerialCell(firmware.path, step, ALL_FAULTS[f], milliseconds(300));
            EXPECT_EQ(outcome.code, step.expected[f]);
            EXPECT_FALSE(outcome.completeRaised);
            EXPECT_EQ(outcome.linesReleased, outcome.linesOpened);
            const long left = static_cast<long>(outcome.descriptorsAfter) - static_cast<long>(outcome.descriptorsBefore);
            doc << " `" << StatusName(outcome.code) << "`, " << Seconds(outcome.elapsed) << ", lines "
                << outcome.linesOpened << " opened / " << outcome.linesReleased << " released, descriptors "
                << (left >= 0 ? "+" : "") << left << " |";
        }
        doc << "\n";
    }

    const std::string text = doc.str();
    std::ofstream(std::string(QUORSEL_BUILD_DIR) + "/fault-matrix.md") << text;
    const std::string committedPath = std::string(QUORSEL_SOURCE_DIR) + "/docs/fault-matrix.md";
    const char* update = std::getenv("QUORSEL_UPDATE_FAULT_MATRIX");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream out(committedPath);
        out << text;
        EXPECT_TRUE(out.good());
    } else {
        // The committed page must show what was measured: every cell's status, exit
        // status, flash verdict and line and descriptor counts. Only the times may differ.
        const std::vector<uint8_t> committed = ReadFile(committedPath);
        EXPECT_EQ(WithoutTimes(std::string(committed.begin(), committed.end())), WithoutTimes(text))
            << "docs/fault-matrix.md differs from this run (" << QUORSEL_BUILD_DIR
            << "/fault-matrix.md); rewrite it with QUORSEL_UPDATE_FAULT_MATRIX=1";
    }
}

}  // namespace
}  // namespace quorsel::testing
