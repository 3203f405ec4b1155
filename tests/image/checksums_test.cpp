#include "image/checksums.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "image/text_encoding.h"
#include "tests/image/vector_file.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using testing::Hex;
using testing::HexBytes;
using testing::LinesWithPrefix;
using testing::ReadVectorFile;
using testing::TestVectors;
using testing::VectorLine;

// Where the range under test starts in the file; anything but 0, so the file offset and
// the image offset differ.
constexpr uint64_t RANGE_FILE_OFFSET = 100;

std::vector<uint8_t> PatternBlock() {
    std::vector<uint8_t> block(BLOCK_SIZE);
    for (size_t i = 0; i < BLOCK_SIZE; ++i) block[i] = static_cast<uint8_t>(7 * i + 3);
    return block;
}

uint32_t SumOf(const std::vector<uint8_t>& bytes) { return std::accumulate(bytes.begin(), bytes.end(), 0u); }

uint32_t StartSum(uint32_t start, uint32_t length) { return ByteSum32(start) + ByteSum32(length); }

class RangeChecksum : public ::testing::Test {
protected:
    // A file of RANGE_FILE_OFFSET filler bytes followed by range.
    FileStream StreamWithRange(const std::vector<uint8_t>& range) {
        std::vector<uint8_t> bytes = testing::PseudoRandomBytes(RANGE_FILE_OFFSET, 3);
        bytes.insert(bytes.end(), range.begin(), range.end());
        const std::string path = dir_.File("range" + std::to_string(files_++) + ".bin");
        EXPECT_TRUE(testing::WriteBytes(path, bytes));
        std::optional<FileStream> stream = FileStream::Open(path);
        EXPECT_TRUE(stream.has_value());
        return stream ? std::move(*stream) : FileStream();
    }

    testing::TempDir dir_;
    int files_ = 0;
    Descrambler descrambler_;
};

TEST_F(RangeChecksum, KnownAnswersForTheRepeatedPatternBlock) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "range_at_");
    ASSERT_GE(lines.size(), 2u);
    std::vector<uint8_t> range = PatternBlock();
    range.insert(range.end(), range.begin(), range.end());
    FileStream stream = StreamWithRange(range);
    for (const VectorLine& line : lines) {
        SCOPED_TRACE(line.key);
        // range_at_<start>_len_<length>
        const std::string field = line.key.substr(std::string("range_at_").size());
        const uint32_t start = Hex(field.substr(0, field.find('_')));
        const uint32_t length = Hex(field.substr(field.find("_len_") + 5));
        ASSERT_EQ(length, range.size());
        ASSERT_EQ(line.tokens.size(), 4u);
        EXPECT_EQ(RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, length), Hex(line.tokens[1]));
        EXPECT_EQ(DescrambledRangeChecksum(stream, descrambler_, RANGE_FILE_OFFSET, start, length),
                  Hex(line.tokens[3]));
    }
}

TEST_F(RangeChecksum, EmptyRangeGivesTheStartSum) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "range_len_0_at_");
    ASSERT_GE(lines.size(), 1u);
    FileStream stream = StreamWithRange({});
    for (const VectorLine& line : lines) {
        SCOPED_TRACE(line.key);
        const uint32_t start = Hex(line.key.substr(std::string("range_len_0_at_").size()));
        ASSERT_EQ(line.tokens.size(), 4u);
        // At the end of the file: nothing is read, so nothing can fail.
        EXPECT_EQ(RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, 0), Hex(line.tokens[1]));
        EXPECT_EQ(DescrambledRangeChecksum(stream, descrambler_, RANGE_FILE_OFFSET, start, 0), Hex(line.tokens[3]));
        EXPECT_EQ(RawRangeChecksum(stream, 0, start, 0), Hex(line.tokens[1]));
    }
}

TEST_F(RangeChecksum, StartSumOfTheLastTwoMegabyteRegion) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "start_sum");
    ASSERT_EQ(lines.size(), 1u);
    // "region5_2MiB (start 18000, length 1e8000) 11f"
    const std::vector<std::string>& t = lines[0].tokens;
    ASSERT_EQ(t.size(), 6u);
    const uint32_t start = Hex(t[2].substr(0, t[2].size() - 1));
    const uint32_t length = Hex(t[4].substr(0, t[4].size() - 1));
    // Zero bytes add nothing, so the checksum is the start sum alone.
    FileStream stream = StreamWithRange(std::vector<uint8_t>(length, 0));
    EXPECT_EQ(RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, length), Hex(t[5]));
}

TEST_F(RangeChecksum, RawAndDescrambledSumsCoverStoredAndImageBytes) {
    const uint32_t start = 0x1E000;
    const std::vector<uint8_t> plain = testing::PseudoRandomBytes(8 * BLOCK_SIZE, 11);
    const std::vector<uint8_t> stored = testing::ScrambleImage(plain, start);
    const uint32_t length = static_cast<uint32_t>(stored.size());
    FileStream stream = StreamWithRange(stored);

    const uint16_t raw = RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, length);
    const uint16_t descrambled = DescrambledRangeChecksum(stream, descrambler_, RANGE_FILE_OFFSET, start, length);
    EXPECT_EQ(raw, (StartSum(start, length) + SumOf(stored)) % 65535);
    EXPECT_EQ(descrambled, (StartSum(start, length) + SumOf(plain)) % 65535);
    EXPECT_NE(raw, descrambled);

    // The generator is left standing behind the range.
    Descrambler behind;
    behind.Skip(start + length);
    EXPECT_EQ(descrambler_.Next(), behind.Next());
}

TEST_F(RangeChecksum, SumIsReducedModulo65535) {
    // Ranges whose total (start sum included) is exactly 65535 and 65536.
    const uint32_t start = 0x3000;
    const uint32_t length = 0x2000;
    for (uint32_t total : {65535u, 65536u, 2u * 65535u}) {
        SCOPED_TRACE(total);
        std::vector<uint8_t> plain(length, 0);
        uint32_t missing = total - StartSum(start, length);
        for (uint8_t& byte : plain) {
            byte = static_cast<uint8_t>(std::min<uint32_t>(missing, 255));
            missing -= byte;
        }
        ASSERT_EQ(missing, 0u);
        const uint16_t expected = static_cast<uint16_t>(total % 65535);

        FileStream rawStream = StreamWithRange(plain);
        EXPECT_EQ(RawRangeChecksum(rawStream, RANGE_FILE_OFFSET, start, length), expected);
        FileStream storedStream = StreamWithRange(testing::ScrambleImage(plain, start));
        EXPECT_EQ(DescrambledRangeChecksum(storedStream, descrambler_, RANGE_FILE_OFFSET, start, length), expected);
    }
}

TEST_F(RangeChecksum, ReadFailingPartWayGivesFailedChecksum) {
    const uint32_t start = 0x8000;
    // One and a half blocks present, two blocks asked for.
    const std::vector<uint8_t> stored = testing::PseudoRandomBytes(BLOCK_SIZE + BLOCK_SIZE / 2, 9);
    FileStream stream = StreamWithRange(stored);
    EXPECT_EQ(RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, 2 * BLOCK_SIZE), CHECKSUM_FAILED);
    EXPECT_EQ(RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, static_cast<uint32_t>(stored.size()) + 1),
              CHECKSUM_FAILED);
    EXPECT_EQ(DescrambledRangeChecksum(stream, descrambler_, RANGE_FILE_OFFSET, start, 2 * BLOCK_SIZE),
              CHECKSUM_FAILED);
    // The one whole block was descrambled before the short one.
    Descrambler behind;
    behind.Skip(start + static_cast<uint32_t>(BLOCK_SIZE));
    EXPECT_EQ(descrambler_.Next(), behind.Next());

    // Ranges that start past the end of the file.
    EXPECT_EQ(RawRangeChecksum(stream, RANGE_FILE_OFFSET + 0x10000, start, 1), CHECKSUM_FAILED);
    EXPECT_EQ(DescrambledRangeChecksum(stream, descrambler_, RANGE_FILE_OFFSET + 0x10000, start, BLOCK_SIZE),
              CHECKSUM_FAILED);
    // The whole range present gives a real checksum again from the same stream.
    EXPECT_NE(RawRangeChecksum(stream, RANGE_FILE_OFFSET, start, static_cast<uint32_t>(stored.size())),
              CHECKSUM_FAILED);
}

TEST_F(RangeChecksum, DescrambledLengthNotWholeBlocksFailsWithoutReading) {
    const std::vector<uint8_t> stored = testing::PseudoRandomBytes(4 * BLOCK_SIZE, 21);
    FileStream stream = StreamWithRange(stored);
    for (uint32_t length : {0x1800u, 1u, 0x1001u, 0x3FFFu}) {
        SCOPED_TRACE(length);
        // Stand the stream and the generator somewhere recognisable.
        ASSERT_TRUE(stream.Seek(RANGE_FILE_OFFSET + 5));
        descrambler_.Skip(0x777);
        EXPECT_EQ(DescrambledRangeChecksum(stream, descrambler_, RANGE_FILE_OFFSET, 0x2000, length), CHECKSUM_FAILED);
        // Neither moved.
        uint8_t next = 0;
        ASSERT_EQ(stream.Read(&next, 1), 1u);
        EXPECT_EQ(next, stored[5]);
        Descrambler expected;
        expected.Skip(0x777);
        EXPECT_EQ(descrambler_.Next(), expected.Next());
    }
}

TEST_F(RangeChecksum, StreamThatCannotBePositionedGivesFailedChecksum) {
    FileStream closed;
    EXPECT_EQ(RawRangeChecksum(closed, 0, 0x18000, 0), CHECKSUM_FAILED);
    EXPECT_EQ(RawRangeChecksum(closed, 0, 0x18000, 0x1000), CHECKSUM_FAILED);
    EXPECT_EQ(DescrambledRangeChecksum(closed, descrambler_, 0, 0x18000, 0), CHECKSUM_FAILED);
    EXPECT_EQ(DescrambledRangeChecksum(closed, descrambler_, 0, 0x18000, 0x1000), CHECKSUM_FAILED);
}

TEST(Crc16Xmodem, KnownAnswerAndContinuation) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "crc16");
    ASSERT_EQ(lines.size(), 1u);
    const std::string& rest = lines[0].rest;
    const std::string text = rest.substr(1, rest.find('"', 1) - 1);
    const uint16_t expected = static_cast<uint16_t>(Hex(lines[0].tokens.back()));
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(Crc16Xmodem(bytes, text.size()), expected);
    // A CRC carried over from a first part continues over the rest.
    const uint16_t firstPart = Crc16Xmodem(bytes, 4);
    EXPECT_EQ(Crc16Xmodem(bytes + 4, text.size() - 4, firstPart), expected);
    EXPECT_EQ(Crc16Xmodem(bytes, 0), 0);
}

TEST(PasswordDigest, KnownAnswers) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "digest");
    ASSERT_GE(lines.size(), 5u);
    bool sawConverted = false;
    for (const VectorLine& line : lines) {
        SCOPED_TRACE(line.rest);
        ASSERT_EQ(line.rest[0], '"');
        const size_t close = line.rest.find('"', 1);
        const std::string utf8 = line.rest.substr(1, close - 1);
        const uint32_t expected = Hex(line.tokens.back());

        const std::optional<std::string> cp932 = Utf8ToCp932(utf8);
        ASSERT_TRUE(cp932.has_value());
        const size_t listed = line.rest.find("(cp932 bytes ");
        if (listed != std::string::npos) {
            // The code page 932 bytes are listed: the conversion must give exactly those.
            std::vector<std::string> hex;
            std::istringstream words(line.rest.substr(listed + 13, line.rest.find(')') - listed - 13));
            for (std::string word; words >> word;) hex.push_back(word);
            EXPECT_EQ(std::vector<uint8_t>(cp932->begin(), cp932->end()), HexBytes(hex, 0, hex.size()));
            sawConverted = true;
        } else {
            EXPECT_EQ(*cp932, utf8);  // ASCII passes through unchanged
        }
        EXPECT_EQ(PasswordDigest(*cp932), expected);
        EXPECT_GE(PasswordDigest(*cp932), DIGEST_ADD);
    }
    EXPECT_TRUE(sawConverted);
}

TEST(PasswordDigest, EmptyPasswordIsTheAddendAloneAndDigestsAreNotReduced) {
    EXPECT_EQ(PasswordDigest(""), DIGEST_ADD);
    // Every 16-bit CRC plus the addend, so some digests lie above 0xFFFF.
    uint32_t largest = 0;
    for (uint32_t i = 0; i < 0x10000; ++i) {
        const std::string password = {static_cast<char>(i & 0xFF), static_cast<char>(i >> 8)};
        const uint32_t digest = PasswordDigest(password);
        ASSERT_GE(digest, DIGEST_ADD);
        ASSERT_LE(digest, 0xFFFFu + DIGEST_ADD);
        largest = std::max(largest, digest);
    }
    EXPECT_GT(largest, 0xFFFFu);
}

TEST(Utf8ToCp932, ConvertsJapaneseAndRejectsWhatThePageCannotHold) {
    EXPECT_EQ(Utf8ToCp932(""), std::string());
    EXPECT_EQ(Utf8ToCp932("abc-123"), std::string("abc-123"));
    EXPECT_EQ(Utf8ToCp932("\xEF\xBD\xB1"), std::string("\xB1"));          // half-width katakana A
    EXPECT_EQ(Utf8ToCp932("\xE3\x81\x82"), std::string("\x82\xA0"));      // hiragana A
    EXPECT_EQ(Utf8ToCp932("\xF0\x9F\x98\x80"), std::nullopt);              // emoji: not in the page
    EXPECT_EQ(Utf8ToCp932("pass\xC3\xA9"), std::nullopt);                  // e-acute: not in the page
    EXPECT_EQ(Utf8ToCp932("\xC3"), std::nullopt);                          // ends inside a character
    EXPECT_EQ(Utf8ToCp932("\xFF\xFE"), std::nullopt);                      // not UTF-8 at all
}

}  // namespace
}  // namespace quorsel
