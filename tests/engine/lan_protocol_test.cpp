#include "engine/lan_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_network.h"
#include "tests/support/recording_sink.h"
#include "tests/support/scripted_stream.h"

namespace quorsel {
namespace {

using testing::FakeNetwork;
using testing::RecordingSink;
using testing::ScriptedStream;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds READ_WAIT = 50ms;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

bool HasOneLine(const RecordingSink& sink) {
    return sink.diagnostics().size() == 1 && !sink.diagnostics()[0].empty() &&
           sink.diagnostics()[0].find('\n') == std::string::npos;
}

// ---------------------------------------------------------------------------
// Generation

TEST(GenerationOfTest, DigitTwoAndAboveIsTheNewGeneration) {
    EXPECT_EQ(GenerationOf("KRV0011"), Generation::Old);
    EXPECT_EQ(GenerationOf("KRV0010"), Generation::Old);
    EXPECT_EQ(GenerationOf("KRV0012"), Generation::New);
    EXPECT_EQ(GenerationOf("KRV0019"), Generation::New);
    EXPECT_EQ(GenerationOf("KRV001z rest"), Generation::New);
    // Only byte 6 decides.
    EXPECT_EQ(GenerationOf("KRV00112"), Generation::Old);
}

TEST(GenerationOfTest, BytesFromHexEightyUpCountAsOld) {
    EXPECT_EQ(GenerationOf(std::string("KRV001") + '\x80'), Generation::Old);
    EXPECT_EQ(GenerationOf(std::string("KRV001") + '\xFF'), Generation::Old);
    EXPECT_EQ(GenerationOf(std::string("KRV001") + '\x7F'), Generation::New);
}

TEST(GenerationOfTest, ReplyWithoutASeventhByteCountsAsOld) {
    EXPECT_EQ(GenerationOf(""), Generation::Old);
    EXPECT_EQ(GenerationOf("2"), Generation::Old);
    EXPECT_EQ(GenerationOf("KRV001"), Generation::Old);
}

// ---------------------------------------------------------------------------
// Inquiry

class InquiryTest : public ::testing::Test {
protected:
    InquiryTest() {
        peer.port = {0x23, 0x2A};
        peer.address = {10, 0, 0, 2};
        timeouts.connect = 70ms;
        timeouts.lanRead = READ_WAIT;
    }
    bool Run() { return RunInquiry(network, peer, timeouts, raiser, result); }

    FakeNetwork network;
    PeerAddress peer;
    PeerTimeouts timeouts;
    RecordingSink sink;
    TransferCounters counters;
    StatusRaiser raiser{sink, counters};
    InquiryResult result;
};

TEST_F(InquiryTest, AsksAndReadsModelAndGeneration) {
    auto ap = network.AddPeer();
    ap->AwaitSend().DeliverSplit("ZLT0112\r\n", {3});

    ASSERT_TRUE(Run());
    EXPECT_EQ(result.line, "ZLT0112\r");
    EXPECT_EQ(result.generation, Generation::New);
    ASSERT_EQ(ap->sends().size(), 1u);
    EXPECT_EQ(ap->sends()[0], Bytes("INQR"));
    // Nothing raised on success; the connection is gone and the library released.
    EXPECT_TRUE(sink.entries().empty());
    EXPECT_EQ(network.log(), (std::vector<std::string>{"start", "connect", "close", "release"}));
}

TEST_F(InquiryTest, ConnectsToTheGivenPeerWithTheGivenBounds) {
    network.AddPeer()->AwaitSend().Deliver("KRV0011\n");
    ASSERT_TRUE(Run());
    EXPECT_EQ(result.generation, Generation::Old);
    ASSERT_EQ(network.connects().size(), 1u);
    EXPECT_EQ(network.connects()[0].peer.port, peer.port);
    EXPECT_EQ(network.connects()[0].peer.address, peer.address);
    EXPECT_EQ(network.connects()[0].timeout, 70ms);
}

TEST_F(InquiryTest, WaitsForTheReplyAsLongAsTheReadBound) {
    auto ap = network.AddPeer();
    ap->AwaitSend().Deliver("KRV0011\n");
    ASSERT_TRUE(Run());
    for (const auto& call : ap->receives()) EXPECT_EQ(call.timeout, READ_WAIT);
}

TEST_F(InquiryTest, AddressZeroIsAConnectFailureWithoutASocket) {
    // On Linux a connect to 0.0.0.0 would reach this computer's own port 9002.
    peer.address = {0, 0, 0, 0};
    network.AddPeer()->AwaitSend().Deliver("KRV0011\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_CONNECT_FAILED}));
    EXPECT_TRUE(HasOneLine(sink));
    EXPECT_TRUE(network.connects().empty());
    EXPECT_TRUE(network.log().empty());
}

TEST_F(InquiryTest, ReplyEndedByCloseIsAccepted) {
    network.AddPeer()->AwaitSend().Deliver("MXD001").Close();
    ASSERT_TRUE(Run());
    EXPECT_EQ(result.line, "MXD001");
    EXPECT_EQ(result.generation, Generation::Old);
}

TEST_F(InquiryTest, LibraryThatDoesNotStartIsAConnectFailure) {
    network.SetLibraryStarts(false);
    EXPECT_FALSE(Run());
    EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_CONNECT_FAILED}));
    EXPECT_TRUE(HasOneLine(sink));
    EXPECT_TRUE(network.connects().empty());
    EXPECT_EQ(network.log(), (std::vector<std::string>{"start-failed"}));
}

TEST_F(InquiryTest, RefusedConnectionIsAConnectFailure) {
    network.AddRefusal();
    EXPECT_FALSE(Run());
    EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_CONNECT_FAILED}));
    EXPECT_TRUE(HasOneLine(sink));
    EXPECT_NE(sink.diagnostics()[0].find("10.0.0.2:9002"), std::string::npos) << sink.diagnostics()[0];
    EXPECT_EQ(network.log(), (std::vector<std::string>{"start", "refused", "release"}));
}

TEST_F(InquiryTest, UnsentInquiryIsACommunicationError) {
    network.AddPeer()->FailSend(0).Deliver("KRV0011\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_COMM_ERROR}));
    EXPECT_TRUE(HasOneLine(sink));
    EXPECT_NE(sink.diagnostics()[0].find("INQR"), std::string::npos);
    EXPECT_EQ(network.log(), (std::vector<std::string>{"start", "connect", "close", "release"}));
}

TEST_F(InquiryTest, MissingReplyIsACommunicationError) {
    struct Case {
        const char* name;
        std::function<void(ScriptedStream&)> script;
        const char* reason;
    };
    const Case cases[] = {
        {"silence", [](ScriptedStream& s) { s.FallSilent(); }, "no byte for 50 ms"},
        {"close", [](ScriptedStream& s) { s.Close(); }, "ended"},
        {"error", [](ScriptedStream& s) { s.Break(); }, "error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNetwork net;
        RecordingSink rec;
        StatusRaiser r(rec, counters);
        c.script(*net.AddPeer());
        EXPECT_FALSE(RunInquiry(net, peer, timeouts, r, result));
        EXPECT_EQ(rec.codes(), (std::vector<StatusCode>{STATUS_COMM_ERROR}));
        ASSERT_TRUE(HasOneLine(rec));
        EXPECT_NE(rec.diagnostics()[0].find("INQR"), std::string::npos) << rec.diagnostics()[0];
        EXPECT_NE(rec.diagnostics()[0].find(c.reason), std::string::npos) << rec.diagnostics()[0];
        EXPECT_EQ(net.log(), (std::vector<std::string>{"start", "connect", "close", "release"}));
    }
}

// ---------------------------------------------------------------------------
// Range exchange

// A program file: a prefix, then the image. The image bytes follow a pattern that
// differs for every offset within a block and from block to block.
class ImageFile {
public:
    ImageFile(uint32_t imageStart, size_t imageSize) : imageStart_(imageStart) {
        image_.resize(imageSize);
        for (size_t i = 0; i < imageSize; ++i) image_[i] = static_cast<uint8_t>((7 * i + 3 + (i >> 12) * 11) & 0xFF);
        static int counter = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::path(::testing::TempDir()) /
                (std::string("lan_exchange_") + info->name() + "_" + std::to_string(++counter) + ".bin");
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        const std::string prefix(imageStart, '\xEE');
        out.write(prefix.data(), static_cast<std::streamsize>(prefix.size()));
        out.write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
    }
    ~ImageFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    FileStream Open() const {
        auto stream = FileStream::Open(path_.string());
        EXPECT_TRUE(stream.has_value());
        return std::move(*stream);
    }
    uint32_t imageStart() const { return imageStart_; }
    // Stored bytes of the image from start on.
    std::vector<uint8_t> Stored(uint32_t start, size_t length) const {
        return {image_.begin() + start, image_.begin() + start + length};
    }

private:
    uint32_t imageStart_;
    std::vector<uint8_t> image_;
    std::filesystem::path path_;
};

// The descrambled blocks of a range, from a pass of its own.
std::vector<std::vector<uint8_t>> DescrambledBlocks(const ImageFile& file, uint32_t start, size_t length) {
    Descrambler pass;
    pass.Skip(start);
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint8_t> buffer(LAN_BLOCK_SIZE);
    for (size_t done = 0; done < length; done += LAN_BLOCK_SIZE) {
        const size_t n = std::min(LAN_BLOCK_SIZE, length - done);
        const auto stored = file.Stored(static_cast<uint32_t>(start + done), n);
        std::copy(stored.begin(), stored.end(), buffer.begin());
        pass.DescrambleBlock(buffer.data());
        blocks.emplace_back(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return blocks;
}

// The access point's side of a good exchange for a range of `blocks` blocks.
void ScriptGoodExchange(ScriptedStream& ap, size_t blocks) {
    ap.AwaitSend().Deliver("OK\n");              // to "FLSH"
    ap.AwaitSend().Deliver("OK\r\n").Deliver("S\n");  // to the header, then ready
    for (size_t i = 0; i < blocks; ++i) ap.AwaitSend().Deliver("C \n");
    ap.Deliver("E \n").Deliver("OK\n");
}

class RangeExchangeTest : public ::testing::Test {
protected:
    static constexpr uint32_t IMAGE_START = 37;
    static constexpr uint32_t RANGE_START = 0x3000;

    RangeExchangeTest() : file(IMAGE_START, RANGE_START + 0x5000), stream(file.Open()) {
        header.checksum = 0xA55A;
        header.start = RANGE_START;
        header.passwordDigest = 0x0001D209;
        // The descrambler stands anywhere when the exchange begins.
        descrambler.Skip(12345);
    }

    bool Run(uint32_t length, Generation generation) {
        header.length = length;
        RangeExchange exchange{ap,     reader, header, stream, IMAGE_START, FlashRange{RANGE_START, length},
                               generation, descrambler};
        return RunRangeExchange(exchange, raiser);
    }

    // Counters as they stood at each STATUS_PROGRESS.
    std::vector<uint32_t> DoneAtProgress() const {
        std::vector<uint32_t> done;
        for (const auto& entry : sink.entries()) {
            if (entry.code == STATUS_PROGRESS) done.push_back(entry.counters.done);
        }
        return done;
    }

    ImageFile file;
    FileStream stream;
    ScriptedStream ap;
    ReplyReader reader{READ_WAIT};
    RangeHeader header;
    Descrambler descrambler;
    RecordingSink sink;
    TransferCounters counters;
    StatusRaiser raiser{sink, counters};
};

TEST_F(RangeExchangeTest, NewGenerationSendsFullHeaderAndStoredBytes) {
    ScriptGoodExchange(ap, 2);
    ASSERT_TRUE(Run(8192, Generation::New));

    const auto& sends = ap.sends();
    ASSERT_EQ(sends.size(), 4u);
    EXPECT_EQ(sends[0], Bytes("FLSH"));
    const auto encoded = header.Encode();
    EXPECT_EQ(sends[1], std::vector<uint8_t>(encoded.begin(), encoded.end()));
    EXPECT_EQ(sends[2], file.Stored(RANGE_START, 4096));
    EXPECT_EQ(sends[3], file.Stored(RANGE_START + 4096, 4096));
    EXPECT_TRUE(ap.ScriptFinished());
    EXPECT_TRUE(sink.diagnostics().empty());
}

TEST_F(RangeExchangeTest, OldGenerationSendsShortHeaderAndDescrambledBytes) {
    ScriptGoodExchange(ap, 2);
    ASSERT_TRUE(Run(8192, Generation::Old));

    const auto& sends = ap.sends();
    ASSERT_EQ(sends.size(), 4u);
    EXPECT_EQ(sends[0], Bytes("FLSH"));
    const auto encoded = header.Encode();
    EXPECT_EQ(sends[1], std::vector<uint8_t>(encoded.begin(), encoded.begin() + RANGE_HEADER_SIZE_OLD));
    const auto expected = DescrambledBlocks(file, RANGE_START, 8192);
    EXPECT_EQ(sends[2], expected[0]);
    EXPECT_EQ(sends[3], expected[1]);
    EXPECT_NE(sends[2], file.Stored(RANGE_START, 4096));
}

TEST_F(RangeExchangeTest, EightKilobytesGoAsTwoBlocksWithThreeProgressReports) {
    ScriptGoodExchange(ap, 2);
    ASSERT_TRUE(Run(8192, Generation::New));

    EXPECT_EQ(sink.codes(),
              (std::vector<StatusCode>{STATUS_WRITING, STATUS_PROGRESS, STATUS_PROGRESS, STATUS_PROGRESS}));
    EXPECT_EQ(DoneAtProgress(), (std::vector<uint32_t>{4096, 8192, 8192}));
    for (const auto& entry : sink.entries()) {
        if (entry.code == STATUS_PROGRESS) {
            EXPECT_EQ(entry.counters.total, 8192u);
        }
    }
}

TEST_F(RangeExchangeTest, FiveThousandBytesGoAsAFullAndAShortBlock) {
    for (Generation generation : {Generation::New, Generation::Old}) {
        SCOPED_TRACE(generation == Generation::New ? "new" : "old");
        ScriptedStream peer;
        ScriptGoodExchange(peer, 2);
        RecordingSink rec;
        StatusRaiser r(rec, counters);
        ReplyReader fresh(READ_WAIT);
        header.length = 5000;
        RangeExchange exchange{peer, fresh, header, stream, IMAGE_START, FlashRange{RANGE_START, 5000},
                               generation, descrambler};
        ASSERT_TRUE(RunRangeExchange(exchange, r));

        ASSERT_EQ(peer.sends().size(), 4u);
        EXPECT_EQ(peer.sends()[2].size(), 4096u);
        EXPECT_EQ(peer.sends()[3].size(), 904u);
        if (generation == Generation::New) {
            EXPECT_EQ(peer.sends()[3], file.Stored(RANGE_START + 4096, 904));
        } else {
            EXPECT_EQ(peer.sends()[2], DescrambledBlocks(file, RANGE_START, 4096)[0]);
        }
        EXPECT_EQ(rec.codes(),
                  (std::vector<StatusCode>{STATUS_WRITING, STATUS_PROGRESS, STATUS_PROGRESS, STATUS_PROGRESS}));
        EXPECT_EQ(counters.done, 5000u);
        EXPECT_EQ(counters.total, 5000u);
    }
}

TEST_F(RangeExchangeTest, ShortLastBlockOfAnOldPeerIsDescrambledAsAWholeBuffer) {
    // The 904 bytes are descrambled together with what the buffer still holds from
    // the block before, with the keystream of the block's full 4096 positions.
    ScriptGoodExchange(ap, 2);
    ASSERT_TRUE(Run(5000, Generation::Old));
    ASSERT_EQ(ap.sends().size(), 4u);

    Descrambler pass;
    pass.Skip(RANGE_START + 4096);
    std::vector<uint8_t> buffer = DescrambledBlocks(file, RANGE_START, 4096)[0];
    const auto stored = file.Stored(RANGE_START + 4096, 904);
    std::copy(stored.begin(), stored.end(), buffer.begin());
    pass.DescrambleBlock(buffer.data());
    EXPECT_EQ(ap.sends()[3], std::vector<uint8_t>(buffer.begin(), buffer.begin() + 904));
}

TEST_F(RangeExchangeTest, CountersAreSetBeforeEachReport) {
    ScriptGoodExchange(ap, 2);
    counters.done = 77;
    counters.total = 1;
    std::vector<TransferCounters> seen;
    sink.onNotify = [&](StatusCode, const TransferCounters& c) { seen.push_back(c); };
    ASSERT_TRUE(Run(8192, Generation::New));
    ASSERT_EQ(seen.size(), 4u);
    // STATUS_WRITING comes before the counters are set for the data.
    EXPECT_EQ(seen[0].done, 77u);
    EXPECT_EQ(seen[1].done, 4096u);
    EXPECT_EQ(seen[1].total, 8192u);
}

TEST_F(RangeExchangeTest, AnswerToABlockNeedNotBeginWithC) {
    ap.AwaitSend().Deliver("OK\n").AwaitSend().Deliver("OK\nS\n");
    ap.AwaitSend().Deliver("received\n").Deliver("E \n").Deliver("OK\n");
    EXPECT_TRUE(Run(4096, Generation::New));
}

TEST_F(RangeExchangeTest, ClosingRightAfterTheFinalOkCompletesTheRange) {
    ap.AwaitSend().Deliver("OK\n").AwaitSend().Deliver("OK\nS\n");
    ap.AwaitSend().Deliver("C \nE \nOK").Close();
    EXPECT_TRUE(Run(4096, Generation::New));
    EXPECT_TRUE(sink.diagnostics().empty());
}

TEST_F(RangeExchangeTest, EmptyRangeSendsNoBlock) {
    ap.AwaitSend().Deliver("OK\n").AwaitSend().Deliver("OK\nS\nE \nOK\n");
    ASSERT_TRUE(Run(0, Generation::New));
    EXPECT_EQ(ap.sends().size(), 2u);
    EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_WRITING, STATUS_PROGRESS}));
}

TEST_F(RangeExchangeTest, FileRunningShortSendsWhatThereIsAndReadsNoFurther) {
    // The image ends 0x5000 bytes after the range start; ask for more.
    ScriptGoodExchange(ap, 5);
    ap.FallSilent();
    EXPECT_TRUE(Run(0x6000, Generation::New));
    ASSERT_EQ(ap.sends().size(), 7u);
    size_t sent = 0;
    for (size_t i = 2; i < ap.sends().size(); ++i) sent += ap.sends()[i].size();
    EXPECT_EQ(sent, 0x5000u);
    EXPECT_EQ(counters.done, 0x5000u);
}

TEST_F(RangeExchangeTest, PasswordRejectionIsReportedForBothGenerations) {
    for (Generation generation : {Generation::New, Generation::Old}) {
        SCOPED_TRACE(generation == Generation::New ? "new" : "old");
        ScriptedStream peer;
        peer.AwaitSend().Deliver("OK\n").AwaitSend().Deliver("IP\n");
        RecordingSink rec;
        StatusRaiser r(rec, counters);
        ReplyReader fresh(READ_WAIT);
        header.length = 4096;
        RangeExchange exchange{peer, fresh, header, stream, IMAGE_START, FlashRange{RANGE_START, 4096},
                               generation, descrambler};
        EXPECT_FALSE(RunRangeExchange(exchange, r));
        EXPECT_EQ(rec.codes(), (std::vector<StatusCode>{STATUS_BAD_PASSWORD}));
        ASSERT_TRUE(HasOneLine(rec));
        EXPECT_NE(rec.diagnostics()[0].find("password"), std::string::npos);
        EXPECT_EQ(peer.sends().size(), 2u);
    }
}

TEST_F(RangeExchangeTest, UnpositionableFileIsAFileError) {
    ScriptGoodExchange(ap, 1);
    stream.Close();
    EXPECT_FALSE(Run(4096, Generation::New));
    EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_WRITING, STATUS_FILE_ERROR}));
    EXPECT_TRUE(HasOneLine(sink));
    EXPECT_EQ(ap.sends().size(), 2u);
}

TEST_F(RangeExchangeTest, RepliesThatWaitOnFlashWorkHaveTheirOwnBound) {
    // 'S' (after the erase), "E " and the final "OK" (after the write) may take
    // minutes; every other reply has the reader's bound.
    ScriptGoodExchange(ap, 2);
    header.length = 8192;
    RangeExchange exchange{ap, reader, header, stream, IMAGE_START, FlashRange{RANGE_START, 8192},
                           Generation::New, descrambler, 900ms};
    ASSERT_TRUE(RunRangeExchange(exchange, raiser));
    std::vector<std::chrono::milliseconds> bounds;
    for (const auto& call : ap.receives()) {
        if (call.status == IoStatus::Data && call.peek) bounds.push_back(call.timeout);
    }
    // "OK", "OK", 'S', "C ", "C ", "E ", "OK": one peek each.
    EXPECT_EQ(bounds, (std::vector<std::chrono::milliseconds>{READ_WAIT, READ_WAIT, 900ms, READ_WAIT, READ_WAIT,
                                                              900ms, 900ms}));
    EXPECT_EQ(PeerTimeouts{}.flashWork, FLASH_WORK_TIMEOUT);
    EXPECT_EQ(FLASH_WORK_TIMEOUT, 300s);
}

// A failure at each step: what the access point does, the code that must end the
// exchange, and words the diagnostic must contain.
struct StepFailure {
    const char* name;
    std::function<void(ScriptedStream&)> script;
    StatusCode code;
    size_t sends;            // Send calls made, the failing one included
    bool writingRaised;      // STATUS_WRITING came before the failure
    std::vector<std::string> words;
};

void Ok(ScriptedStream& ap) { ap.AwaitSend().Deliver("OK\n"); }
void HeaderOk(ScriptedStream& ap) { Ok(ap); ap.AwaitSend().Deliver("OK\n"); }
void Started(ScriptedStream& ap) { HeaderOk(ap); ap.Deliver("S\n"); }
void TwoBlocks(ScriptedStream& ap) { Started(ap); ap.AwaitSend().Deliver("C \n").AwaitSend().Deliver("C \n"); }

std::vector<StepFailure> StepFailures() {
    return {
        {"FLSH not sent", [](ScriptedStream& ap) { ap.FailSend(0); Ok(ap); },
         STATUS_COMM_ERROR, 1, false, {"sending", "FLSH"}},
        {"no reply to FLSH", [](ScriptedStream& ap) { ap.FallSilent(); },
         STATUS_COMM_ERROR, 1, false, {"FLSH", "no byte for 50 ms"}},
        {"connection closed before the reply to FLSH", [](ScriptedStream& ap) { ap.AwaitSend().Close(); },
         STATUS_COMM_ERROR, 1, false, {"FLSH", "ended"}},
        {"reply to FLSH is not OK", [](ScriptedStream& ap) { ap.AwaitSend().Deliver("NG\n"); },
         STATUS_COMM_ERROR, 1, false, {"FLSH", "\"NG\""}},
        {"reply to FLSH is a lone O", [](ScriptedStream& ap) { ap.AwaitSend().Deliver("O\n"); },
         STATUS_COMM_ERROR, 1, false, {"FLSH", "\"O\""}},
        {"header not sent", [](ScriptedStream& ap) { Ok(ap); ap.FailSend(1); },
         STATUS_COMM_ERROR, 2, false, {"sending", "range header"}},
        {"no reply to the header", [](ScriptedStream& ap) { Ok(ap); ap.AwaitSend().FallSilent(); },
         STATUS_COMM_ERROR, 2, false, {"range header", "no byte for 50 ms"}},
        {"error instead of a reply to the header", [](ScriptedStream& ap) { Ok(ap); ap.AwaitSend().Break(); },
         STATUS_COMM_ERROR, 2, false, {"range header", "error"}},
        {"reply to the header is IP", [](ScriptedStream& ap) { Ok(ap); ap.AwaitSend().Deliver("IP\r\n"); },
         STATUS_BAD_PASSWORD, 2, false, {"range header", "password"}},
        {"reply to the header is neither OK nor IP",
         [](ScriptedStream& ap) { Ok(ap); ap.AwaitSend().Deliver("I\x01\n"); },
         STATUS_COMM_ERROR, 2, false, {"range header", "\"I\\x01\""}},
        {"no start line", [](ScriptedStream& ap) { HeaderOk(ap); ap.FallSilent(); },
         STATUS_COMM_ERROR, 2, true, {"start line", "no byte for 300 s"}},
        {"start line is not S", [](ScriptedStream& ap) { HeaderOk(ap); ap.Deliver("s\n"); },
         STATUS_COMM_ERROR, 2, true, {"start line", "\"s\""}},
        {"start line is empty", [](ScriptedStream& ap) { HeaderOk(ap); ap.Deliver("\n"); },
         STATUS_COMM_ERROR, 2, true, {"start line", "\"\""}},
        {"first block not sent", [](ScriptedStream& ap) { Started(ap); ap.FailSend(2); },
         STATUS_WRITE_ERROR, 3, true, {"sending", "data block", "0x3000"}},
        {"second block not sent", [](ScriptedStream& ap) { Started(ap); ap.AwaitSend().Deliver("C \n"); ap.FailSend(3); },
         STATUS_WRITE_ERROR, 4, true, {"sending", "data block", "0x4000"}},
        {"no answer to a block", [](ScriptedStream& ap) { Started(ap); ap.AwaitSend().FallSilent(); },
         STATUS_WRITE_ERROR, 3, true, {"answer", "data block", "0x3000", "no byte for 50 ms"}},
        {"peer gone after a block", [](ScriptedStream& ap) { Started(ap); ap.AwaitSend().Close(); },
         STATUS_WRITE_ERROR, 3, true, {"answer", "data block", "ended"}},
        {"no E line", [](ScriptedStream& ap) { TwoBlocks(ap); ap.FallSilent(); },
         STATUS_WRITE_ERROR, 4, true, {"\"E \"", "no byte for 300 s"}},
        {"E line is something else", [](ScriptedStream& ap) { TwoBlocks(ap); ap.Deliver("OK\n"); },
         STATUS_WRITE_ERROR, 4, true, {"\"E \"", "\"OK\""}},
        {"E without its space", [](ScriptedStream& ap) { TwoBlocks(ap); ap.Deliver("E\n"); },
         STATUS_WRITE_ERROR, 4, true, {"\"E \"", "\"E\""}},
        {"no final line", [](ScriptedStream& ap) { TwoBlocks(ap); ap.Deliver("E \n").FallSilent(); },
         STATUS_COMM_ERROR, 4, true, {"final", "no byte for 300 s"}},
        {"final line lost to an error", [](ScriptedStream& ap) { TwoBlocks(ap); ap.Deliver("E \n").PhantomByte(IoStatus::Failed); },
         STATUS_COMM_ERROR, 4, true, {"final", "error"}},
        {"final line is not OK", [](ScriptedStream& ap) { TwoBlocks(ap); ap.Deliver("E \nNG\n"); },
         STATUS_WRITE_ERROR, 4, true, {"final", "\"NG\""}},
    };
}

TEST_F(RangeExchangeTest, FailureAtEveryStepRaisesItsCodeWithOneDiagnosticLine) {
    for (Generation generation : {Generation::New, Generation::Old}) {
        for (const StepFailure& step : StepFailures()) {
            SCOPED_TRACE(std::string(step.name) + (generation == Generation::New ? " (new)" : " (old)"));
            ScriptedStream peer;
            step.script(peer);
            RecordingSink rec;
            StatusRaiser r(rec, counters);
            ReplyReader fresh(READ_WAIT);
            header.length = 8192;
            RangeExchange exchange{peer, fresh, header, stream, IMAGE_START, FlashRange{RANGE_START, 8192},
                                   generation, descrambler};

            EXPECT_FALSE(RunRangeExchange(exchange, r));
            ASSERT_FALSE(rec.entries().empty());
            EXPECT_EQ(rec.last(), step.code);
            EXPECT_EQ(rec.Count(STATUS_WRITING), step.writingRaised ? 1u : 0u);
            EXPECT_EQ(peer.sends().size(), step.sends);
            ASSERT_TRUE(HasOneLine(rec));
            for (const std::string& word : step.words) {
                EXPECT_NE(rec.diagnostics()[0].find(word), std::string::npos)
                    << "\"" << word << "\" not in: " << rec.diagnostics()[0];
            }
        }
    }
}

}  // namespace
}  // namespace quorsel
