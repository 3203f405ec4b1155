// The serial upload and the completion wait against a line whose every answer comes
// from the fuzzer's input. Whatever the line does, both end (a used-up input is
// silence), a failure raises its code, and success means: every block of the stream
// went out correctly framed, in order, each accepted by an ACK, then the end mark
// was accepted; the completion wait succeeds only on the loader's "F".
//
// Input: flags (bit 0: only the completion wait), the loader length and the range
// start and length (16 bits each, little-endian), then the line's bytes (see
// FuzzSerialLine).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/serial_protocol.h"
#include "image/checksums.h"
#include "image/file_stream.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/container_builder.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace quorsel::fuzzing {
namespace {

constexpr uint32_t FILE_SIZE = 8192;
constexpr uint32_t LOADER_LIMIT = 2100;
constexpr uint32_t RANGE_LIMIT = 4000;

struct ProgramFile {
    testing::TempDir dir;
    std::string path = dir.File("program");
    std::vector<uint8_t> bytes = testing::PseudoRandomBytes(FILE_SIZE, 5);
    std::vector<uint8_t> loader = testing::PseudoRandomBytes(LOADER_LIMIT, 6);
    ProgramFile() {
        if (!testing::WriteBytes(path, bytes)) Violated("cannot write the program file");
    }
};

const ProgramFile& File() {
    static const ProgramFile file;
    return file;
}

void CheckCompletion(FuzzSerialLine& line, testing::RecordingSink& sink, StatusRaiser& raiser) {
    const size_t readBefore = line.bytesRead().size();
    const size_t codesBefore = sink.entries().size();
    int erasingLines = 0;
    CompletionLimits limits;
    limits.silencePolls = 3;
    limits.pollInterval = std::chrono::milliseconds(0);
    limits.reportLimit = std::chrono::milliseconds(200);
    const bool ok = WaitForCompletion(line, raiser, [&](const char* text) {
        FUZZ_CHECK(std::string(text) == "Erasing\n");
        ++erasingLines;
    }, limits);

    const std::vector<uint8_t> bytes(line.bytesRead().begin() + static_cast<std::ptrdiff_t>(readBefore),
                                     line.bytesRead().end());
    auto isReport = [](uint8_t b) { return b == 'F' || b == 'B' || b == 'I' || b == 'N'; };
    const auto firstReport = std::find_if(bytes.begin(), bytes.end(), isReport);
    // Nothing is read after the report that ends the wait.
    FUZZ_CHECK(firstReport == bytes.end() || firstReport + 1 == bytes.end());
    const int erases = static_cast<int>(std::count(bytes.begin(), bytes.end(), uint8_t{'E'}));
    FUZZ_CHECK(erasingLines == erases);
    size_t erasingCodes = 0;
    for (size_t i = codesBefore; i < sink.entries().size(); ++i) {
        if (sink.entries()[i].code == STATUS_ERASING) ++erasingCodes;
    }
    FUZZ_CHECK(erasingCodes == static_cast<size_t>(erases));
    if (ok) {
        FUZZ_CHECK(!bytes.empty() && bytes.back() == 'F');
        return;
    }
    const StatusCode last = sink.last();
    FUZZ_CHECK(!sink.diagnostics().empty());
    if (firstReport == bytes.end()) {
        FUZZ_CHECK(last == STATUS_COMM_ERROR);
    } else {
        const StatusCode expected = *firstReport == 'B'   ? STATUS_BAD_PASSWORD
                                    : *firstReport == 'I' ? STATUS_FILE_ERROR
                                                          : STATUS_WRITE_ERROR;
        FUZZ_CHECK(*firstReport != 'F');
        FUZZ_CHECK(last == expected);
    }
}

void CheckUpload(FuzzInput& input, FuzzSerialLine& line, testing::RecordingSink& sink, StatusRaiser& raiser,
                 bool& uploaded) {
    const ProgramFile& file = File();
    const uint32_t loaderLength = input.Le16() % (LOADER_LIMIT + 1);
    const uint32_t start = input.Le16() % FILE_SIZE;
    const uint32_t length = input.Le16() % (std::min(RANGE_LIMIT, FILE_SIZE - start) + 1);

    std::optional<FileStream> stream = FileStream::Open(file.path);
    if (!stream || !stream->Seek(start)) Violated("cannot open the program file");
    RangeHeader header;
    header.checksum = 0xBEEF;
    header.start = start;
    header.length = length;
    header.passwordDigest = 0x01020304;
    UploadStream upload{file.loader.data(), loaderLength, header.Encode(), *stream};
    TransferCounters& counters = raiser.counters();
    counters.done = 0;
    counters.total = loaderLength + static_cast<uint32_t>(RANGE_HEADER_SIZE) + length;
    PeerTimeouts timeouts;
    timeouts.serialAnswer = std::chrono::milliseconds(1);

    uploaded = SendUploadStream(line, upload, raiser, timeouts);
    FUZZ_CHECK(counters.done <= counters.total);
    if (!uploaded) {
        FUZZ_CHECK(sink.last() == STATUS_COMM_ERROR);
        FUZZ_CHECK(!sink.diagnostics().empty());
        return;
    }

    // The stream as it should have gone out.
    std::vector<uint8_t> expected(file.loader.begin(), file.loader.begin() + loaderLength);
    const auto encoded = header.Encode();
    expected.insert(expected.end(), encoded.begin(), encoded.end());
    expected.insert(expected.end(), file.bytes.begin() + start, file.bytes.begin() + start + length);
    const size_t blocks = (expected.size() + SERIAL_BLOCK_SIZE - 1) / SERIAL_BLOCK_SIZE;

    // Frames: resends repeat the frame before them; new blocks count up from 1.
    std::vector<uint8_t> sent;
    std::vector<uint8_t> previous;
    size_t distinct = 0;
    size_t repeats = 0;
    const auto& writes = line.writes();
    size_t w = 0;
    for (; w < writes.size() && writes[w].size() != 1; ++w) {
        const std::vector<uint8_t>& frame = writes[w];
        FUZZ_CHECK(frame.size() == SERIAL_FRAME_SIZE);
        FUZZ_CHECK(frame[0] == XMODEM_STX);
        FUZZ_CHECK(frame[2] == static_cast<uint8_t>(255 - frame[1]));
        const uint16_t crc = Crc16Xmodem(frame.data() + 3, SERIAL_BLOCK_SIZE);
        FUZZ_CHECK(frame[3 + SERIAL_BLOCK_SIZE] == (crc >> 8) && frame[4 + SERIAL_BLOCK_SIZE] == (crc & 0xFF));
        if (frame == previous) {
            FUZZ_CHECK(++repeats < RESEND_LIMIT);
            continue;
        }
        repeats = 0;
        ++distinct;
        FUZZ_CHECK(frame[1] == static_cast<uint8_t>(distinct));
        sent.insert(sent.end(), frame.begin() + 3, frame.begin() + 3 + SERIAL_BLOCK_SIZE);
        previous = frame;
    }
    FUZZ_CHECK(distinct == blocks);
    FUZZ_CHECK(sent.size() >= expected.size());
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), sent.begin()));
    // Then only end marks, at most RESEND_LIMIT of them.
    FUZZ_CHECK(w < writes.size());
    FUZZ_CHECK(writes.size() - w <= RESEND_LIMIT);
    for (; w < writes.size(); ++w) FUZZ_CHECK(writes[w].size() == 1 && writes[w][0] == XMODEM_EOT);
    FUZZ_CHECK(counters.done == counters.total);
    // Every block and the end mark were acknowledged.
    const auto& read = line.bytesRead();
    FUZZ_CHECK(static_cast<size_t>(std::count(read.begin(), read.end(), XMODEM_ACK)) >= blocks + 1);
}

}  // namespace
}  // namespace quorsel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorsel;
    using namespace quorsel::fuzzing;
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    testing::RecordingSink sink;
    TransferCounters counters;
    StatusRaiser raiser(sink, counters);
    // The line reads from the input only after the parameters have been taken.
    FuzzSerialLine line(input);
    bool uploaded = true;
    if ((flags & 1) == 0) CheckUpload(input, line, sink, raiser, uploaded);
    if (uploaded) CheckCompletion(line, sink, raiser);
    return 0;
}
