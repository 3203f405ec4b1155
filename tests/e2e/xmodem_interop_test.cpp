// The serial upload against an XMODEM-1K receiver that nobody here wrote: the
// python3-xmodem package, on the master side of a pseudo-terminal. The upload goes
// through the real termios line (PosixSerialPorts with QUORSEL_COM3 naming the
// slave device). The receiver starts the transfer with "C", checks every block's
// number, complement and CRC-16 and answers ACK or NAK; what it hands back must be
// the loader, the range header and the range data, in that order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/limits.h"
#include "engine/serial_line_posix.h"
#include "engine/serial_protocol.h"
#include "engine/transfer.h"
#include "image/file_stream.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/child_process.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace quorsel::testing {
namespace {

using namespace std::chrono_literals;

// The interpreter the Debian package python3-xmodem installs for.
constexpr const char* PYTHON = "/usr/bin/python3";
constexpr uint32_t COM3 = 2;

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

struct InteropCase {
    const char* name;
    uint32_t loaderLength;
    uint32_t rangeStart;   // in the program file
    uint32_t rangeLength;
};

void PrintTo(const InteropCase& c, std::ostream* out) { *out << c.name; }

class XmodemInteropTest : public ::testing::TestWithParam<InteropCase> {};

TEST_P(XmodemInteropTest, ReceiverGetsLoaderHeaderAndRange) {
    const InteropCase& c = GetParam();
    const std::string script = std::string(QUORSEL_E2E_SCRIPT_DIR) + "/xmodem_receive.py";
    ChildResult probe = RunChild({{PYTHON, "-c", "import xmodem"}, {}, {}, ""}, 20s);
    ASSERT_EQ(probe.exitStatus, 0) << "python3-xmodem is missing (scripts/install-deps.sh installs it): " << probe.err;

    TempDir dir;
    // The program file: the range and some bytes after it, which fill up the last block.
    const std::vector<uint8_t> loader = Pattern(c.loaderLength, 1);
    const std::vector<uint8_t> file = Pattern(c.rangeStart + c.rangeLength + 4096, 2);
    const std::string programPath = dir.File("program.bin");
    WriteFile(programPath, file);
    RangeHeader header;
    header.checksum = 0xBEEF;
    header.start = c.rangeStart;
    header.length = c.rangeLength;
    header.passwordDigest = 0x00015D1B;
    const std::array<uint8_t, RANGE_HEADER_SIZE> headerBytes = header.Encode();

    ChildProcess receiver;
    const std::string received = dir.File("received.bin");
    ASSERT_TRUE(receiver.Start({{PYTHON, script, received}, {}, {}, ""}));
    ASSERT_TRUE(receiver.WaitForOut("\n", 20s)) << receiver.Out() << receiver.Err();
    const std::string device = receiver.Out().substr(0, receiver.Out().find('\n'));

    RecordingSink sink;
    TransferCounters counters;
    counters.total = c.loaderLength + static_cast<uint32_t>(RANGE_HEADER_SIZE) + c.rangeLength;
    StatusRaiser raiser(sink, counters);
    std::optional<FileStream> stream = FileStream::Open(programPath);
    ASSERT_TRUE(stream && stream->Seek(c.rangeStart));
    {
        ScopedEnv port("QUORSEL_COM3", device);
        PosixSerialPorts ports;
        auto opened = ports.Open(COM3, 115200);
        ASSERT_TRUE(opened) << "cannot open " << device;
        std::unique_ptr<SerialLine> line = std::move(opened.value());
        PeerTimeouts timeouts;
        timeouts.serialAnswer = 15s;
        UploadStream upload{loader.data(), c.loaderLength, headerBytes, *stream};
        EXPECT_TRUE(SendUploadStream(*line, upload, raiser, timeouts))
            << (sink.diagnostics().empty() ? std::string() : sink.diagnostics().back());
        line->Release();
    }
    std::optional<int> status = receiver.Wait(30s);
    ASSERT_TRUE(status.has_value()) << "the receiver did not end: " << receiver.Out();
    EXPECT_EQ(*status, 0) << receiver.Out() << receiver.Err();

    const uint32_t total = counters.total;
    const size_t blocks = (total + SERIAL_BLOCK_SIZE - 1) / SERIAL_BLOCK_SIZE;
    EXPECT_EQ(counters.done, total);
    EXPECT_EQ(sink.Count(STATUS_SERIAL_PROGRESS), blocks);
    EXPECT_NE(receiver.Out().find("received " + std::to_string(blocks * SERIAL_BLOCK_SIZE)), std::string::npos)
        << receiver.Out();

    // The receiver may keep or strip the padding of the last block; the stream
    // itself comes first and whole.
    std::vector<uint8_t> expected(loader);
    expected.insert(expected.end(), headerBytes.begin(), headerBytes.end());
    expected.insert(expected.end(), file.begin() + c.rangeStart, file.begin() + c.rangeStart + c.rangeLength);
    const std::vector<uint8_t> got = ReadFile(received);
    ASSERT_GE(got.size(), expected.size());
    EXPECT_LE(got.size(), blocks * SERIAL_BLOCK_SIZE);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << "the received stream differs";
    // The padding is what follows the range in the file.
    const size_t padding = got.size() - expected.size();
    const auto tail = file.begin() + c.rangeStart + c.rangeLength;
    EXPECT_TRUE(std::equal(tail, tail + static_cast<std::ptrdiff_t>(padding), got.begin() + expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, XmodemInteropTest,
    ::testing::Values(
        // The header lies across the first two blocks.
        InteropCase{"HeaderAcrossBlocks", 1010, 0x1000, 0x1000},
        // No loader; more than 256 blocks, so the block numbers wrap past 255 to 0.
        InteropCase{"NumbersWrap", 0, 0x0, 0x44000},
        // A loader of four whole blocks; the stream ends exactly at a block's end.
        InteropCase{"WholeBlocks", 4096, 0x2000, 0x2000 - 20}),
    [](const ::testing::TestParamInfo<InteropCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quorsel::testing
