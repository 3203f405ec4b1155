// The LAN inquiry and range exchange against a peer whose every reply, split and
// failure comes from the fuzzer's input. Whatever the peer does, the exchange ends
// (the peer runs out of input and its data ends), raises a failure code when it
// fails, and succeeds only after the whole range went out in order and the peer
// confirmed it with "E " and then "OK".
//
// Input: flags (bit 0: new generation; bit 1: the inquiry instead of a range;
// bit 2: the sockets library does not start), the index of a send that fails
// (0xFF: none), the range start and length (16 bits each, little-endian), then the
// peer's events (see FuzzStream).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/lan_protocol.h"
#include "image/descrambler.h"
#include "image/file_stream.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/container_builder.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace quorsel::fuzzing {
namespace {

constexpr uint32_t FILE_SIZE = 5 * 4096 + 1000;

// The program file the range is read from, made once per process.
struct RangeFile {
    testing::TempDir dir;
    std::string path = dir.File("program");
    std::vector<uint8_t> bytes = testing::PseudoRandomBytes(FILE_SIZE, 11);
    RangeFile() {
        if (!testing::WriteBytes(path, bytes)) Violated("cannot write the range file");
    }
};

const RangeFile& File() {
    static const RangeFile file;
    return file;
}

// The lines a peer sent, as the reader splits them (LF or NUL ends a line).
std::vector<std::string> LinesOf(const std::vector<uint8_t>& received) {
    std::vector<std::string> lines(1);
    for (uint8_t byte : received) {
        if (byte == '\n' || byte == '\0') {
            lines.emplace_back();
        } else {
            lines.back() += static_cast<char>(byte);
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

bool IsFailure(StatusCode code) {
    return code == STATUS_COMM_ERROR || code == STATUS_WRITE_ERROR || code == STATUS_BAD_PASSWORD ||
           code == STATUS_FILE_ERROR || code == STATUS_CONNECT_FAILED;
}

// Hands out one FuzzStream and counts library starts, releases and open streams.
class FuzzNetwork : public Network {
public:
    FuzzNetwork(FuzzInput& input, size_t failSend, bool starts)
        : input_(input), failSend_(failSend), starts_(starts) {}

    bool StartLibrary() override {
        if (!starts_) return false;
        ++held;
        return true;
    }
    void ReleaseLibrary() override { --held; }
    std::unique_ptr<ByteStream> Connect(const PeerAddress&, std::chrono::milliseconds) override {
        FUZZ_CHECK(held > 0);
        ++connects;
        if (input_.empty()) return nullptr;
        return std::make_unique<Counted>(*this, input_, failSend_);
    }

    int held = 0;
    int open = 0;
    int connects = 0;

private:
    class Counted : public FuzzStream {
    public:
        Counted(FuzzNetwork& network, FuzzInput& input, size_t failSend)
            : FuzzStream(input, failSend), network_(network) {
            ++network_.open;
        }
        ~Counted() override {
            // The socket is closed before the library is released.
            FUZZ_CHECK(network_.held > 0);
            --network_.open;
        }

    private:
        FuzzNetwork& network_;
    };

    FuzzInput& input_;
    size_t failSend_;
    bool starts_;
};

void FuzzInquiry(FuzzInput& input, size_t failSend, bool libraryStarts) {
    FuzzNetwork network(input, failSend, libraryStarts);
    testing::RecordingSink sink;
    TransferCounters counters;
    StatusRaiser raiser(sink, counters);
    PeerTimeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(1);
    timeouts.lanRead = std::chrono::milliseconds(1);
    PeerAddress peer;
    InquiryResult result;
    const bool ok = RunInquiry(network, peer, timeouts, raiser, result);
    FUZZ_CHECK(network.held == 0);
    FUZZ_CHECK(network.open == 0);
    if (ok) {
        FUZZ_CHECK(sink.entries().empty());
        FUZZ_CHECK(result.line.size() <= REPLY_BUFFER_SIZE);
        FUZZ_CHECK(result.generation == GenerationOf(result.line));
    } else {
        FUZZ_CHECK(IsFailure(sink.last()));
        FUZZ_CHECK(!sink.diagnostics().empty());
    }
}

void FuzzRange(FuzzInput& input, size_t failSend, bool newGeneration) {
    const RangeFile& file = File();
    FlashRange range;
    range.start = input.Le16() % FILE_SIZE;
    range.length = input.Le16() % (FILE_SIZE - range.start + 1);

    std::optional<FileStream> stream = FileStream::Open(file.path);
    if (!stream) Violated("cannot open the range file");
    FuzzStream peer(input, failSend);
    ReplyReader reader(std::chrono::milliseconds(1));
    RangeHeader header;
    header.start = range.start;
    header.length = range.length;
    header.checksum = 0x1234;
    header.passwordDigest = 0x89ABCDEF;
    Descrambler descrambler;
    testing::RecordingSink sink;
    TransferCounters counters;
    StatusRaiser raiser(sink, counters);
    const RangeExchange exchange{peer, reader, header, *stream, 0, range,
                                 newGeneration ? Generation::New : Generation::Old, descrambler};
    const bool ok = RunRangeExchange(exchange, raiser);

    const auto& sends = peer.sends();
    const uint32_t blocks = (range.length + 4095) / 4096;
    FUZZ_CHECK(sends.size() <= 2 + size_t{blocks});
    std::vector<uint8_t> data;
    for (size_t i = 2; i < sends.size(); ++i) {
        FUZZ_CHECK(sends[i].size() <= 4096);
        data.insert(data.end(), sends[i].begin(), sends[i].end());
    }
    FUZZ_CHECK(data.size() <= range.length);
    FUZZ_CHECK(counters.done == data.size() || !ok);

    if (!ok) {
        FUZZ_CHECK(IsFailure(sink.last()));
        FUZZ_CHECK(!sink.diagnostics().empty());
        return;
    }
    // Success: "FLSH", the header, then every byte of the range exactly once.
    FUZZ_CHECK(sends.size() == 2 + size_t{blocks});
    FUZZ_CHECK(std::string(sends[0].begin(), sends[0].end()) == "FLSH");
    const auto encoded = header.Encode();
    FUZZ_CHECK(sends[1].size() == (newGeneration ? 20u : 16u));
    FUZZ_CHECK(std::equal(sends[1].begin(), sends[1].end(), encoded.begin()));
    FUZZ_CHECK(data.size() == range.length);
    FUZZ_CHECK(counters.done == range.length && counters.total == range.length);
    if (newGeneration) {
        FUZZ_CHECK(std::equal(data.begin(), data.end(), file.bytes.begin() + range.start));
    } else {
        // Whole blocks are the descrambled file bytes.
        Descrambler reference;
        reference.Skip(range.start);
        for (uint32_t b = 0; (b + 1) * 4096 <= range.length; ++b) {
            std::vector<uint8_t> block(file.bytes.begin() + range.start + b * 4096,
                                       file.bytes.begin() + range.start + (b + 1) * 4096);
            reference.DescrambleBlock(block.data());
            FUZZ_CHECK(std::equal(block.begin(), block.end(), data.begin() + b * 4096));
        }
    }
    FUZZ_CHECK(sink.Count(STATUS_WRITING) == 1);
    // The peer said "E " and after it "OK".
    const std::vector<std::string> lines = LinesOf(peer.received());
    auto end = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("E ", 0) == 0; });
    FUZZ_CHECK(end != lines.end());
    FUZZ_CHECK(std::any_of(end + 1, lines.end(), [](const std::string& l) { return l.rfind("OK", 0) == 0; }));
}

}  // namespace
}  // namespace quorsel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorsel::fuzzing;
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const uint8_t failing = input.Byte();
    const size_t failSend = failing == 0xFF ? SIZE_MAX : failing;
    if ((flags & 2) != 0) {
        FuzzInquiry(input, failSend, (flags & 4) == 0);
    } else {
        FuzzRange(input, failSend, (flags & 1) != 0);
    }
    return 0;
}
