#include "engine/serial_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "image/checksums.h"
#include "tests/support/fake_serial_line.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using std::chrono::milliseconds;
using testing::Answer;
using testing::AnswerGone;
using testing::AnswerSilence;
using testing::FakeInbound;
using testing::FakeSerialLine;
using testing::RecordingSink;
using testing::TempDir;

// Bytes whose value depends on their position (and the seed), so a byte taken
// from the wrong place shows.
std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

struct Frame {
    uint8_t stx;
    uint8_t number;
    uint8_t complement;
    std::vector<uint8_t> data;
    uint8_t crcHigh;
    uint8_t crcLow;
};

// The frames among the writes (writes of a frame's size), in order.
std::vector<Frame> FramesIn(const std::vector<std::vector<uint8_t>>& writes) {
    std::vector<Frame> frames;
    for (const auto& w : writes) {
        if (w.size() != SERIAL_FRAME_SIZE) continue;
        frames.push_back(Frame{w[0], w[1], w[2], std::vector<uint8_t>(w.begin() + 3, w.begin() + 3 + 1024),
                               w[1027], w[1028]});
    }
    return frames;
}

size_t CountEot(const std::vector<std::vector<uint8_t>>& writes) {
    return static_cast<size_t>(std::count_if(writes.begin(), writes.end(), [](const std::vector<uint8_t>& w) {
        return w.size() == 1 && w[0] == XMODEM_EOT;
    }));
}

// A receiver that accepts every block and the end mark.
std::vector<FakeInbound> AcceptAll(const std::vector<uint8_t>&) { return Answer({XMODEM_ACK}); }

class SerialUploadTest : public ::testing::Test {
protected:
    // A program file of fileSize bytes, a range [start, start + length) in it and a
    // loader of loaderLength bytes; the file stands at the range's start.
    void Prepare(uint32_t loaderLength, uint32_t fileSize, uint32_t start, uint32_t length) {
        loader_ = Pattern(loaderLength, 1);
        fileBytes_ = Pattern(fileSize, 2);
        start_ = start;
        RangeHeader header;
        header.checksum = 0x1234;
        header.start = start;
        header.length = length;
        header.passwordDigest = 0x00C0FFEE;
        header_ = header.Encode();

        const std::string path = dir_.File("program.bin");
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(fileBytes_.data(), 1, fileBytes_.size(), out), fileBytes_.size());
        std::fclose(out);
        file_ = FileStream::Open(path);
        ASSERT_TRUE(file_.has_value());
        ASSERT_TRUE(file_->Seek(start));
        counters_.done = 0;
        counters_.total = loaderLength + static_cast<uint32_t>(RANGE_HEADER_SIZE) + length;
    }

    UploadStream Stream() {
        return UploadStream{loader_.data(), static_cast<uint32_t>(loader_.size()), header_, *file_};
    }

    // What the stream's blocks carry: loader, header, then the file from the
    // range's start to the file's end.
    std::vector<uint8_t> StreamAndTail() const {
        std::vector<uint8_t> bytes(loader_);
        bytes.insert(bytes.end(), header_.begin(), header_.end());
        bytes.insert(bytes.end(), fileBytes_.begin() + start_, fileBytes_.end());
        return bytes;
    }

    // Block k (from 0) as the wire must carry it: 1024 bytes of StreamAndTail, with
    // zeros where the file has ended.
    std::vector<uint8_t> ExpectedBlock(size_t k) const {
        std::vector<uint8_t> all = StreamAndTail();
        std::vector<uint8_t> block(SERIAL_BLOCK_SIZE, 0);
        for (size_t i = 0; i < SERIAL_BLOCK_SIZE && k * SERIAL_BLOCK_SIZE + i < all.size(); ++i) {
            block[i] = all[k * SERIAL_BLOCK_SIZE + i];
        }
        return block;
    }

    // Runs FillBlock as the sender does, advancing done by 1024 after each block:
    // each block's result and bytes until the end of the stream or a short block.
    std::vector<std::pair<int, std::vector<uint8_t>>> FillAll() {
        std::vector<std::pair<int, std::vector<uint8_t>>> blocks;
        UploadStream stream = Stream();
        for (;;) {
            std::vector<uint8_t> block(SERIAL_BLOCK_SIZE, 0xEE);
            int n = FillBlock(block.data(), stream, counters_);
            if (n < 0) break;
            blocks.emplace_back(n, block);
            counters_.done = std::min(counters_.done + 1024, counters_.total);
            if (n < 1024) break;
        }
        return blocks;
    }

    std::vector<uint32_t> ProgressDone() const {
        std::vector<uint32_t> done;
        for (const auto& entry : sink_.entries()) {
            if (entry.code == STATUS_SERIAL_PROGRESS) done.push_back(entry.counters.done);
        }
        return done;
    }

    PeerTimeouts Timeouts() const {
        PeerTimeouts timeouts;
        timeouts.serialAnswer = milliseconds(40);
        return timeouts;
    }

    TempDir dir_;
    std::vector<uint8_t> loader_;
    std::vector<uint8_t> fileBytes_;
    uint32_t start_ = 0;
    std::array<uint8_t, RANGE_HEADER_SIZE> header_{};
    std::optional<FileStream> file_;
    TransferCounters counters_;
    RecordingSink sink_;
    StatusRaiser raiser_{sink_, counters_};
    FakeSerialLine line_;
};

// ---- FillBlock: where each block's bytes come from ----

TEST_F(SerialUploadTest, WithoutLoaderTheFirstBlockStartsWithTheHeader) {
    Prepare(0, 10000, 100, 3000);
    auto blocks = FillAll();
    ASSERT_EQ(blocks.size(), 3u);  // 3020 bytes
    EXPECT_TRUE(std::equal(header_.begin(), header_.end(), blocks[0].second.begin()));
    EXPECT_EQ(blocks[0].second[20], fileBytes_[100]);
    for (size_t k = 0; k < blocks.size(); ++k) {
        EXPECT_EQ(blocks[k].first, 1024) << "block " << k;
        EXPECT_EQ(blocks[k].second, ExpectedBlock(k)) << "block " << k;
    }
}

TEST_F(SerialUploadTest, LoaderOf1004FillsTheFirstBlockWithLoaderAndHeader) {
    Prepare(1004, 8192, 512, 2048);
    auto blocks = FillAll();
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_TRUE(std::equal(loader_.begin(), loader_.end(), blocks[0].second.begin()));
    EXPECT_TRUE(std::equal(header_.begin(), header_.end(), blocks[0].second.begin() + 1004));
    EXPECT_TRUE(std::equal(blocks[1].second.begin(), blocks[1].second.end(), fileBytes_.begin() + 512));
}

TEST_F(SerialUploadTest, LoaderOf1010SplitsTheHeaderAcrossTwoBlocks) {
    Prepare(1010, 8192, 512, 2048);
    auto blocks = FillAll();
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].first, 1024);
    EXPECT_TRUE(std::equal(header_.begin(), header_.begin() + 14, blocks[0].second.begin() + 1010));
    EXPECT_TRUE(std::equal(header_.begin() + 14, header_.end(), blocks[1].second.begin()));
    EXPECT_TRUE(std::equal(blocks[1].second.begin() + 6, blocks[1].second.end(), fileBytes_.begin() + 512));
    EXPECT_EQ(blocks[1].first, 1024);
    for (size_t k = 0; k < blocks.size(); ++k) EXPECT_EQ(blocks[k].second, ExpectedBlock(k)) << "block " << k;
}

TEST_F(SerialUploadTest, LoaderOf4096TakesFourWholeBlocks) {
    Prepare(4096, 8192, 0, 1000);
    auto blocks = FillAll();
    ASSERT_EQ(blocks.size(), 5u);  // 5116 bytes
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_TRUE(std::equal(blocks[k].second.begin(), blocks[k].second.end(), loader_.begin() + 1024 * k));
    }
    EXPECT_TRUE(std::equal(header_.begin(), header_.end(), blocks[4].second.begin()));
    for (size_t k = 0; k < blocks.size(); ++k) EXPECT_EQ(blocks[k].second, ExpectedBlock(k)) << "block " << k;
}

TEST_F(SerialUploadTest, TotalAMultipleOf1024EndsWithoutBytesBeyondTheRange) {
    Prepare(1004, 16384, 1000, 2048);  // total 3072
    auto blocks = FillAll();
    ASSERT_EQ(blocks.size(), 3u);
    // The last block is the range's last 1024 bytes and nothing after them.
    EXPECT_TRUE(std::equal(blocks[2].second.begin(), blocks[2].second.end(), fileBytes_.begin() + 1000 + 1024));
    EXPECT_EQ(counters_.done, counters_.total);
    std::vector<uint8_t> scratch(1024);
    EXPECT_EQ(FillBlock(scratch.data(), Stream(), counters_), -1);
}

TEST_F(SerialUploadTest, TheLastBlockIsFilledUpWithTheBytesAfterTheRange) {
    Prepare(0, 10000, 100, 3000);  // total 3020: 52 stream bytes in the last block
    auto blocks = FillAll();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2].first, 1024);
    // Past the range's end (file offset 3100) the block goes on with the file's bytes.
    EXPECT_TRUE(std::equal(blocks[2].second.begin(), blocks[2].second.end(), fileBytes_.begin() + 100 + 2028));
    EXPECT_EQ(blocks[2].second[1023], fileBytes_[100 + 2028 + 1023]);
}

TEST_F(SerialUploadTest, ARangeEndingAtTheFilesEndGivesAShortLastBlockPaddedWithZeros) {
    Prepare(1004, 5000, 2000, 3000);  // the range ends exactly at the file's end; total 4024
    auto blocks = FillAll();
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[3].first, 4024 - 3072);
    EXPECT_EQ(blocks[3].second, ExpectedBlock(3));
    EXPECT_TRUE(std::all_of(blocks[3].second.begin() + blocks[3].first, blocks[3].second.end(),
                            [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(counters_.done, counters_.total);
}

TEST_F(SerialUploadTest, ARangeRunningPastTheFilesEndStopsAtTheBlockWhereTheFileRanOut) {
    Prepare(0, 3000, 1000, 10000);  // only 2000 range bytes exist
    auto blocks = FillAll();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].first, 1024);
    EXPECT_EQ(blocks[1].first, 2020 - 1024);
    EXPECT_EQ(blocks[1].second, ExpectedBlock(1));
    EXPECT_LT(counters_.done, counters_.total);
}

// ---- SendUploadStream against a receiver ----

TEST_F(SerialUploadTest, SendsEveryBlockFramedWithNumberComplementAndCrc) {
    Prepare(1010, 20000, 300, 5000);  // total 6030: 6 blocks
    line_.Feed({XMODEM_READY});
    line_.OnWrite(AcceptAll);

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));

    auto writes = line_.Writes();
    auto frames = FramesIn(writes);
    ASSERT_EQ(frames.size(), 6u);
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(frames[k].stx, XMODEM_STX);
        EXPECT_EQ(frames[k].number, k + 1);
        EXPECT_EQ(frames[k].complement, 255 - (k + 1));
        EXPECT_EQ(frames[k].data, ExpectedBlock(k)) << "block " << k + 1;
        const uint16_t crc = Crc16Xmodem(frames[k].data.data(), frames[k].data.size());
        EXPECT_EQ(frames[k].crcHigh, crc >> 8);
        EXPECT_EQ(frames[k].crcLow, crc & 0xFF);
    }
    // Each block goes out in one write, and the end mark follows the last one.
    EXPECT_EQ(writes.size(), 7u);
    EXPECT_EQ(writes.back(), std::vector<uint8_t>{XMODEM_EOT});
    EXPECT_EQ(ProgressDone(), (std::vector<uint32_t>{1024, 2048, 3072, 4096, 5120, 6030}));
    EXPECT_EQ(counters_.done, counters_.total);
    EXPECT_TRUE(sink_.diagnostics().empty());
}

TEST_F(SerialUploadTest, BlockNumbersWrapFrom255ToZero) {
    Prepare(0, 258 * 1024, 0, 257 * 1024 - 20);  // exactly 257 blocks
    line_.Feed({XMODEM_READY});
    line_.OnWrite(AcceptAll);

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));

    auto frames = FramesIn(line_.Writes());
    ASSERT_EQ(frames.size(), 257u);
    EXPECT_EQ(frames[254].number, 255);
    EXPECT_EQ(frames[254].complement, 0);
    EXPECT_EQ(frames[255].number, 0);
    EXPECT_EQ(frames[255].complement, 255);
    EXPECT_EQ(frames[256].number, 1);
    EXPECT_EQ(frames[256].complement, 254);
    EXPECT_EQ(counters_.done, counters_.total);
}

TEST_F(SerialUploadTest, AnyAnswerButAckResendsTheSameBlockAndDoneAdvancesOnlyOnAck) {
    Prepare(0, 8192, 0, 3000);  // 3 blocks
    line_.Feed({XMODEM_READY});
    size_t framesSeen = 0;
    line_.OnWrite([&](const std::vector<uint8_t>& w) {
        if (w.size() != SERIAL_FRAME_SIZE) return Answer({XMODEM_ACK});
        ++framesSeen;
        // Block 2 is refused by a NAK, then by another "C", then by noise.
        if (framesSeen == 2) return Answer({XMODEM_NAK});
        if (framesSeen == 3) return Answer({XMODEM_READY});
        if (framesSeen == 4) return Answer({0x7F});
        return Answer({XMODEM_ACK});
    });

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));

    auto frames = FramesIn(line_.Writes());
    ASSERT_EQ(frames.size(), 6u);
    const std::vector<uint8_t> expectedNumbers = {1, 2, 2, 2, 2, 3};
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].number, expectedNumbers[i]) << "write " << i;
    for (size_t i = 2; i <= 4; ++i) EXPECT_EQ(frames[i].data, frames[1].data);
    EXPECT_EQ(ProgressDone(), (std::vector<uint32_t>{1024, 2048, 3020}));
}

TEST_F(SerialUploadTest, SeveralWaitingReadyBytesEachMakeBlockOneGoAgain) {
    Prepare(0, 8192, 0, 2000);  // 2 blocks
    line_.Feed({'*', 'X', XMODEM_READY, XMODEM_READY, XMODEM_READY});
    line_.OnWrite(AcceptAll);

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));

    auto frames = FramesIn(line_.Writes());
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].number, 1);
    EXPECT_EQ(frames[1].number, 1);
    EXPECT_EQ(frames[2].number, 1);
    EXPECT_EQ(frames[3].number, 2);
    EXPECT_EQ(CountEot(line_.Writes()), 1u);
}

TEST_F(SerialUploadTest, TheEndMarkIsRepeatedUntilAcknowledged) {
    Prepare(0, 4096, 0, 500);  // 1 block
    line_.Feed({XMODEM_READY});
    size_t eots = 0;
    line_.OnWrite([&](const std::vector<uint8_t>& w) {
        if (w.size() == 1 && w[0] == XMODEM_EOT && ++eots < 3) return Answer({XMODEM_NAK});
        return Answer({XMODEM_ACK});
    });

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(CountEot(line_.Writes()), 3u);
}

TEST_F(SerialUploadTest, ARangePastTheFilesEndEndsWithTheEndMarkAndDoneBelowTotal) {
    Prepare(0, 3000, 1000, 10000);
    line_.Feed({XMODEM_READY});
    line_.OnWrite(AcceptAll);

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));

    auto writes = line_.Writes();
    EXPECT_EQ(FramesIn(writes).size(), 2u);
    EXPECT_EQ(writes.back(), std::vector<uint8_t>{XMODEM_EOT});
    EXPECT_EQ(counters_.done, 2048u);
    EXPECT_LT(counters_.done, counters_.total);
}

TEST_F(SerialUploadTest, AFileEndingAtABlockBoundarySendsNoEmptyBlock) {
    Prepare(1004, 3048, 1000, 8000);  // the file holds 2048 range bytes: blocks 1 to 3 are full
    line_.Feed({XMODEM_READY});
    line_.OnWrite(AcceptAll);

    ASSERT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));

    auto writes = line_.Writes();
    EXPECT_EQ(FramesIn(writes).size(), 3u);
    EXPECT_EQ(writes.back(), std::vector<uint8_t>{XMODEM_EOT});
    EXPECT_EQ(counters_.done, 3072u);
}

// ---- SendUploadStream: bounded waits ----

TEST_F(SerialUploadTest, SilenceBeforeReadyFailsWithoutSendingAnything) {
    Prepare(0, 4096, 0, 1000);
    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.codes(), std::vector<StatusCode>{STATUS_COMM_ERROR});
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("\"C\""), std::string::npos) << sink_.diagnostics()[0];
    EXPECT_NE(sink_.diagnostics()[0].find("no byte for 40 ms"), std::string::npos) << sink_.diagnostics()[0];
    EXPECT_TRUE(line_.Written().empty());
    ASSERT_FALSE(line_.ReadTimeouts().empty());
    EXPECT_LE(line_.ReadTimeouts()[0], milliseconds(40));
}

TEST_F(SerialUploadTest, EndlessNoiseWithoutReadyStillEndsTheWait) {
    Prepare(0, 4096, 0, 1000);
    line_.SetIdleByte('X');
    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.codes(), std::vector<StatusCode>{STATUS_COMM_ERROR});
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("other bytes dropped"), std::string::npos) << sink_.diagnostics()[0];
    EXPECT_TRUE(line_.Written().empty());
}

TEST_F(SerialUploadTest, SilenceAfterABlockFailsNamingThatBlock) {
    Prepare(0, 8192, 0, 4000);
    line_.Feed({XMODEM_READY});
    size_t frames = 0;
    line_.OnWrite([&](const std::vector<uint8_t>&) { return ++frames == 3 ? AnswerSilence() : Answer({XMODEM_ACK}); });

    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.last(), STATUS_COMM_ERROR);
    EXPECT_EQ(sink_.Count(STATUS_SERIAL_PROGRESS), 2u);
    EXPECT_EQ(counters_.done, 2048u);
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_EQ(sink_.diagnostics()[0], "waiting for the ACK of block 3: no byte for 40 ms");
    EXPECT_EQ(CountEot(line_.Writes()), 0u);
    EXPECT_EQ(line_.ReadTimeouts().back(), milliseconds(40));
}

// A block write is bounded like every other wait on the peer, not by 3000 ms for
// each of its 1029 bytes; one that fails ends the upload naming the block.
TEST_F(SerialUploadTest, ABlockThatCannotBeWrittenFailsNamingThatBlock) {
    EXPECT_EQ(SerialWriteBound(SERIAL_FRAME_SIZE), SERIAL_BLOCK_WRITE_TIMEOUT);
    EXPECT_EQ(SERIAL_BLOCK_WRITE_TIMEOUT, milliseconds(60000));
    EXPECT_EQ(SerialWriteBound(1), milliseconds(6000));

    Prepare(0, 8192, 0, 4000);
    line_.Feed({XMODEM_READY});
    size_t frames = 0;
    line_.OnWrite([&](const std::vector<uint8_t>&) {
        if (++frames == 1) line_.FailWrites(true);  // block 2 on
        return Answer({XMODEM_ACK});
    });
    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.codes(), (std::vector<StatusCode>{STATUS_SERIAL_PROGRESS, STATUS_COMM_ERROR}));
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_EQ(sink_.diagnostics()[0], "sending block 2: the serial write failed or did not end within 60 s");
    EXPECT_EQ(CountEot(line_.Writes()), 0u);
}

TEST_F(SerialUploadTest, SilenceAfterTheEndMarkFails) {
    Prepare(0, 4096, 0, 1000);
    line_.Feed({XMODEM_READY});
    line_.OnWrite([](const std::vector<uint8_t>& w) { return w.size() == 1 ? AnswerSilence() : Answer({XMODEM_ACK}); });

    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.last(), STATUS_COMM_ERROR);
    EXPECT_EQ(counters_.done, counters_.total);
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("end mark"), std::string::npos) << sink_.diagnostics()[0];
}

TEST_F(SerialUploadTest, ABlockRefusedTooOftenInARowFails) {
    Prepare(0, 8192, 0, 3000);
    line_.Feed({XMODEM_READY});
    size_t frames = 0;
    line_.OnWrite([&](const std::vector<uint8_t>&) { return ++frames == 1 ? Answer({XMODEM_ACK}) : Answer({XMODEM_NAK}); });

    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    auto sent = FramesIn(line_.Writes());
    ASSERT_EQ(sent.size(), 1 + RESEND_LIMIT);
    EXPECT_TRUE(std::all_of(sent.begin() + 1, sent.end(), [](const Frame& f) { return f.number == 2; }));
    EXPECT_EQ(sink_.last(), STATUS_COMM_ERROR);
    EXPECT_EQ(counters_.done, 1024u);
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("block 2"), std::string::npos) << sink_.diagnostics()[0];
    EXPECT_NE(sink_.diagnostics()[0].find("0x15"), std::string::npos) << sink_.diagnostics()[0];
}

TEST_F(SerialUploadTest, RefusalsAreCountedInARowOnly) {
    Prepare(0, 8192, 0, 3000);  // 3 blocks
    line_.Feed({XMODEM_READY});
    // Every block is refused RESEND_LIMIT - 1 times before its ACK: never enough to fail.
    uint32_t refusals = 0;
    line_.OnWrite([&](const std::vector<uint8_t>&) {
        if (refusals + 1 < RESEND_LIMIT) {
            ++refusals;
            return Answer({XMODEM_NAK});
        }
        refusals = 0;
        return Answer({XMODEM_ACK});
    });

    EXPECT_TRUE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(FramesIn(line_.Writes()).size(), 3 * RESEND_LIMIT);
    EXPECT_EQ(counters_.done, counters_.total);
}

TEST_F(SerialUploadTest, ALineThatIsGoneEndsTheUpload) {
    Prepare(0, 8192, 0, 3000);
    line_.Feed({XMODEM_READY});
    size_t frames = 0;
    line_.OnWrite([&](const std::vector<uint8_t>&) { return ++frames == 2 ? AnswerGone() : Answer({XMODEM_ACK}); });

    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.last(), STATUS_COMM_ERROR);
    EXPECT_EQ(FramesIn(line_.Writes()).size(), 2u);
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_EQ(sink_.diagnostics()[0], "waiting for the ACK of block 2: the serial line is gone");
}

TEST_F(SerialUploadTest, ALineGoneBeforeReadyEndsTheUpload) {
    Prepare(0, 4096, 0, 1000);
    line_.FeedGone();
    EXPECT_FALSE(SendUploadStream(line_, Stream(), raiser_, Timeouts()));
    EXPECT_EQ(sink_.codes(), std::vector<StatusCode>{STATUS_COMM_ERROR});
    EXPECT_TRUE(line_.Written().empty());
}

// ---- WaitForCompletion ----

class CompletionTest : public ::testing::Test {
protected:
    bool Wait(const CompletionLimits& limits = CompletionLimits{}) {
        return WaitForCompletion(line_, raiser_, [this](const char* text) { printed_ += text; }, limits);
    }

    static CompletionLimits Short(uint32_t polls) {
        CompletionLimits limits;
        limits.silencePolls = polls;
        limits.pollInterval = milliseconds(10);
        return limits;
    }

    FakeSerialLine line_;
    TransferCounters counters_;
    RecordingSink sink_;
    StatusRaiser raiser_{sink_, counters_};
    std::string printed_;
};

TEST_F(CompletionTest, WritingErasingAndFinishedRaiseTheirCodesInOrder) {
    line_.Feed("EPEPPF");
    EXPECT_TRUE(Wait());
    EXPECT_EQ(sink_.codes(), (std::vector<StatusCode>{STATUS_ERASING, STATUS_FLASH_WRITING, STATUS_ERASING,
                                                      STATUS_FLASH_WRITING, STATUS_FLASH_WRITING}));
    EXPECT_EQ(printed_, "Erasing\nErasing\n");
    EXPECT_TRUE(sink_.diagnostics().empty());
}

TEST_F(CompletionTest, ErasingIsPrintedAfterItsCodeIsRaised) {
    std::string printedWhenRaised = "unset";
    sink_.onNotify = [&](StatusCode code, const TransferCounters&) {
        if (code == STATUS_ERASING) printedWhenRaised = printed_;
    };
    line_.Feed("EF");
    EXPECT_TRUE(Wait());
    EXPECT_EQ(printedWhenRaised, "");
    EXPECT_EQ(printed_, "Erasing\n");
}

TEST_F(CompletionTest, FailureLettersRaiseTheirCodesAndStopReading) {
    struct Case {
        char letter;
        StatusCode code;
    };
    for (Case c : {Case{'B', STATUS_BAD_PASSWORD}, Case{'I', STATUS_FILE_ERROR}, Case{'N', STATUS_WRITE_ERROR}}) {
        FakeSerialLine line;
        RecordingSink sink;
        TransferCounters counters;
        StatusRaiser raiser(sink, counters);
        line.Feed({'P', static_cast<uint8_t>(c.letter), 'F'});
        EXPECT_FALSE(WaitForCompletion(line, raiser, nullptr)) << c.letter;
        EXPECT_EQ(sink.codes(), (std::vector<StatusCode>{STATUS_FLASH_WRITING, c.code})) << c.letter;
        ASSERT_EQ(sink.diagnostics().size(), 1u) << c.letter;
        EXPECT_NE(sink.diagnostics()[0].find(std::string("\"") + c.letter + "\""), std::string::npos)
            << sink.diagnostics()[0];
        EXPECT_EQ(line.PendingInbound(), 1u) << c.letter;  // the "F" after it is not read
    }
}

TEST_F(CompletionTest, OtherBytesAndLowerCaseLettersArePassedOver) {
    line_.Feed({'p', 'e', 'f', 'b', 'i', 'n', 0x00, 0xFF, '*', 'C', 0x06, 'F'});
    EXPECT_TRUE(Wait());
    EXPECT_TRUE(sink_.codes().empty());
    EXPECT_EQ(printed_, "");
}

TEST_F(CompletionTest, SilenceForTheWholeLimitFails) {
    line_.FeedSilence(5);
    line_.Feed("F");
    EXPECT_FALSE(Wait(Short(5)));
    EXPECT_EQ(sink_.codes(), std::vector<StatusCode>{STATUS_COMM_ERROR});
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("no byte for 50 ms"), std::string::npos) << sink_.diagnostics()[0];
    EXPECT_EQ(line_.PendingInbound(), 1u);
}

TEST_F(CompletionTest, SilenceJustShortOfTheLimitIsWaitedOut) {
    line_.FeedSilence(4);
    line_.Feed("F");
    EXPECT_TRUE(Wait(Short(5)));
    for (milliseconds timeout : line_.ReadTimeouts()) EXPECT_EQ(timeout, milliseconds(10));
}

TEST_F(CompletionTest, WritingAndErasingRestartTheSilenceCount) {
    line_.FeedSilence(4);
    line_.Feed("P");
    line_.FeedSilence(4);
    line_.Feed("E");
    line_.FeedSilence(4);
    line_.Feed("F");
    EXPECT_TRUE(Wait(Short(5)));
    EXPECT_EQ(sink_.codes(), (std::vector<StatusCode>{STATUS_FLASH_WRITING, STATUS_ERASING}));
}

TEST_F(CompletionTest, OtherBytesNeitherRestartNorCountDownTheSilence) {
    // Three silent polls, noise, two more: five in all, the limit, despite the noise.
    line_.FeedSilence(3);
    line_.Feed("xyz");
    line_.FeedSilence(2);
    line_.Feed("F");
    EXPECT_FALSE(Wait(Short(5)));
    EXPECT_EQ(sink_.last(), STATUS_COMM_ERROR);

    // Four silent polls with any amount of noise between them stay below the limit.
    FakeSerialLine line;
    RecordingSink sink;
    StatusRaiser raiser(sink, counters_);
    line.FeedSilence(2);
    line.Feed(std::vector<uint8_t>(500, 'q'));
    line.FeedSilence(2);
    line.Feed("F");
    EXPECT_TRUE(WaitForCompletion(line, raiser, nullptr, Short(5)));
}

TEST_F(CompletionTest, TheDefaultLimitIs9000EmptyPolls) {
    line_.FeedSilence(8999);
    line_.Feed("F");
    EXPECT_TRUE(Wait());

    FakeSerialLine line;
    RecordingSink sink;
    StatusRaiser raiser(sink, counters_);
    line.FeedSilence(9000);
    line.Feed("F");
    EXPECT_FALSE(WaitForCompletion(line, raiser, nullptr));
    EXPECT_EQ(sink.codes(), std::vector<StatusCode>{STATUS_COMM_ERROR});
    ASSERT_EQ(sink.diagnostics().size(), 1u);
    EXPECT_NE(sink.diagnostics()[0].find("no byte for 90 s"), std::string::npos) << sink.diagnostics()[0];
}

TEST_F(CompletionTest, ALineThatIsGoneFailsAtOnce) {
    line_.Feed("P");
    line_.FeedGone();
    EXPECT_FALSE(Wait());
    EXPECT_EQ(sink_.codes(), (std::vector<StatusCode>{STATUS_FLASH_WRITING, STATUS_COMM_ERROR}));
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("gone"), std::string::npos);
    EXPECT_EQ(line_.ReadCalls(), 2u);
}

TEST_F(CompletionTest, EndlessNoiseEndsAtTheReportLimit) {
    line_.SetIdleByte('x');
    CompletionLimits limits = Short(5);
    limits.reportLimit = milliseconds(30);
    EXPECT_FALSE(Wait(limits));
    EXPECT_EQ(sink_.codes(), std::vector<StatusCode>{STATUS_COMM_ERROR});
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("no report within 30 ms"), std::string::npos) << sink_.diagnostics()[0];
}

}  // namespace
}  // namespace quorsel
