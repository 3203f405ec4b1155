// One serial update of a 256 KiB range against quorsel-apsim --serial, paced like a
// real line at 115200 baud (10 bits a byte): the power-on wait on the termios line,
// the upload of loader, range header and range data in 1024-byte blocks, and the
// loader's report. The line sets the pace, so the wall time is the line's; what the
// updater itself costs is its CPU time (user and system, all its threads), shown as
// a share of the wall time.
#include <sys/resource.h>
#include <sys/time.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/power_on_wait.h"
#include "engine/serial_line_posix.h"
#include "engine/serial_protocol.h"
#include "engine/transfer.h"
#include "image/checksums.h"
#include "image/file_stream.h"
#include "tests/support/apsim_process.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t BAUD_RATE = 115200;
constexpr uint32_t RANGE_LENGTH = 256 * 1024;
constexpr uint32_t LOADER_LENGTH = 1010;
constexpr uint32_t COM1 = 0;
constexpr auto ANSWER_LIMIT = 30s;
constexpr double BITS_PER_BYTE = 10.0;

class QuietSink : public StatusSink {
public:
    void Notify(StatusCode, const TransferCounters&) override {}
    void Post(StatusCode, const TransferCounters&) override {}
    void Diagnose(const std::string& line) override { last = line; }
    std::string last;
};

// User plus system time of the whole process, every thread included.
std::chrono::microseconds ProcessCpuTime() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto micros = [](const timeval& t) { return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec); };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// The power-on wait as the run does it, without a prompt: waits for the answer.
std::unique_ptr<SerialLine> WakeAccessPoint(SerialPorts& ports) {
    PowerOnWait wait(ports, COM1, BAUD_RATE);
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<PowerOnEvent> event;
    wait.Start([&](PowerOnEvent e) {
        std::lock_guard<std::mutex> lock(mutex);
        event = e;
        changed.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, ANSWER_LIMIT, [&] { return event.has_value(); });
    }
    wait.Stop();
    return event == PowerOnEvent::Answered ? wait.TakeLine() : nullptr;
}

void BM_SerialUpdate256KiBAt115200Baud(benchmark::State& state) {
    testing::TempDir dir;
    // The range's bytes as the program file stores them, and what follows them.
    const std::string programPath = dir.File("program.bin");
    testing::WriteBytes(programPath, testing::PseudoRandomBytes(RANGE_LENGTH + 4096, 7));
    const std::vector<uint8_t> loader = testing::PseudoRandomBytes(LOADER_LENGTH, 8);

    testing::ApSimProcess apsim;
    if (!apsim.StartSerial({"--model", "KRV001", "--loader-length", std::to_string(LOADER_LENGTH), "--baud",
                            std::to_string(BAUD_RATE)},
                           dir.File("apsim.log"))) {
        state.SkipWithError("quorsel-apsim --serial did not start");
        return;
    }
    ::setenv("QUORSEL_COM1", apsim.device().c_str(), 1);

    std::optional<FileStream> stream = FileStream::Open(programPath);
    RangeHeader header;
    header.start = 0;
    header.length = RANGE_LENGTH;
    header.checksum = RawRangeChecksum(*stream, 0, header.start, header.length);
    header.passwordDigest = PasswordDigest("");

    PosixSerialPorts ports;
    QuietSink sink;
    TransferCounters counters;
    StatusRaiser raiser(sink, counters);
    PeerTimeouts timeouts;
    double cpuShare = 0;
    double cpuMs = 0;
    for (auto _ : state) {
        const auto wallStart = Clock::now();
        const auto cpuStart = ProcessCpuTime();

        std::unique_ptr<SerialLine> line = WakeAccessPoint(ports);
        if (!line) {
            state.SkipWithError("the simulator did not answer the wake-up");
            break;
        }
        stream->Seek(header.start);
        counters.done = 0;
        counters.total = LOADER_LENGTH + static_cast<uint32_t>(RANGE_HEADER_SIZE) + RANGE_LENGTH;
        UploadStream upload{loader.data(), LOADER_LENGTH, header.Encode(), *stream};
        if (!SendUploadStream(*line, upload, raiser, timeouts) ||
            !WaitForCompletion(*line, raiser, [](const char*) {})) {
            state.SkipWithError(("the update failed: " + sink.last).c_str());
            break;
        }
        line->Release();

        const auto cpu = ProcessCpuTime() - cpuStart;
        const auto wall = Clock::now() - wallStart;
        cpuMs += std::chrono::duration<double, std::milli>(cpu).count();
        cpuShare += std::chrono::duration<double>(cpu).count() / std::chrono::duration<double>(wall).count();
    }
    ::unsetenv("QUORSEL_COM1");
    const double iterations = static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["cpu_ms"] = cpuMs / iterations;
    state.counters["cpu_share_pct"] = 100.0 * cpuShare / iterations;
    const double frames = static_cast<double>((counters.total + SERIAL_BLOCK_SIZE - 1) / SERIAL_BLOCK_SIZE);
    state.counters["line_ms"] = 1000.0 * frames * SERIAL_FRAME_SIZE * BITS_PER_BYTE / BAUD_RATE;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * RANGE_LENGTH);
}
BENCHMARK(BM_SerialUpdate256KiBAt115200Baud)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace quorsel
