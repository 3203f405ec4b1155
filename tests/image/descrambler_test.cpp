#include "image/descrambler.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "image/checksums.h"
#include "tests/image/vector_file.h"
#include "tests/support/container_builder.h"

namespace quorsel {
namespace {

using testing::Hex;
using testing::HexBytes;
using testing::LinesWithPrefix;
using testing::ReadVectorFile;
using testing::TestVectors;
using testing::VectorLine;

// The stored block the known answers are worked out for: b[i] = (7*i + 3) mod 256.
std::array<uint8_t, BLOCK_SIZE> PatternBlock() {
    std::array<uint8_t, BLOCK_SIZE> block{};
    for (size_t i = 0; i < BLOCK_SIZE; ++i) {
        block[i] = static_cast<uint8_t>(7 * i + 3);
    }
    return block;
}

std::array<uint8_t, BLOCK_SIZE> DescrambledAt(uint32_t imageOffset, std::array<uint8_t, BLOCK_SIZE> block) {
    Descrambler descrambler;
    descrambler.Skip(imageOffset);
    descrambler.DescrambleBlock(block.data());
    return block;
}

TEST(GeneratorKnownAnswers, OutputsAfterResetAndAtProgramStart) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "next_after_reset");
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<std::string>& expected = lines[0].tokens;
    ASSERT_EQ(expected.size(), 16u);

    Descrambler fresh;  // holds SEED from the start, like a Skip(0)
    Descrambler reset;
    reset.Next();
    reset.Next();
    reset.Skip(0);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fresh.Next(), Hex(expected[i]));
        EXPECT_EQ(reset.Next(), Hex(expected[i]));
    }
}

TEST(GeneratorKnownAnswers, FirstOutputAfterSkip) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "next_after_skip_");
    ASSERT_GE(lines.size(), 4u);
    for (const VectorLine& line : lines) {
        const uint32_t count = Hex(line.key.substr(std::string("next_after_skip_").size()));
        SCOPED_TRACE(line.key);
        Descrambler descrambler;
        descrambler.Next();  // Skip resets whatever state came before
        descrambler.Skip(count);
        EXPECT_EQ(descrambler.Next(), Hex(line.tokens.at(0)));
    }
}

TEST(GeneratorKnownAnswers, KeystreamBytes) {
    for (const char* key : {"g_0", "g_4096"}) {
        std::vector<VectorLine> exact;
        for (const VectorLine& line : TestVectors()) {
            if (line.key == key) exact.push_back(line);
        }
        ASSERT_EQ(exact.size(), 1u) << key;
        const uint32_t first = static_cast<uint32_t>(std::stoul(std::string(key).substr(2)));
        const std::vector<uint8_t> expected = HexBytes(exact[0].tokens, 0, exact[0].tokens.size());
        ASSERT_GE(expected.size(), 16u);

        Descrambler descrambler;
        descrambler.Skip(first);
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(first + i);
            EXPECT_EQ(Descrambler::KeystreamByte(first + static_cast<uint32_t>(i)), expected[i]);
            EXPECT_EQ(descrambler.Next() & 0xFF, expected[i]);
        }
    }
}

TEST(DescrambleBlockKnownAnswers, PatternBlockAtSeveralOffsets) {
    const std::vector<VectorLine> lines = LinesWithPrefix(TestVectors(), "descramble_at_");
    ASSERT_GE(lines.size(), 4u);
    for (const VectorLine& line : lines) {
        SCOPED_TRACE(line.key);
        const uint32_t offset = Hex(line.key.substr(std::string("descramble_at_").size()));
        const std::vector<std::string>& t = line.tokens;
        ASSERT_EQ(t.size(), 37u);
        ASSERT_EQ(t[0], "first32");
        ASSERT_EQ(t[33], "sum");
        ASSERT_EQ(t[35], "crc");

        const std::array<uint8_t, BLOCK_SIZE> result = DescrambledAt(offset, PatternBlock());
        EXPECT_EQ(std::vector<uint8_t>(result.begin(), result.begin() + 32), HexBytes(t, 1, 32));
        uint32_t sum = 0;
        for (uint8_t byte : result) sum += byte;
        EXPECT_EQ(sum, std::stoul(t[34]));  // decimal
        EXPECT_EQ(Crc16Xmodem(result.data(), result.size()), Hex(t[36]));
    }
}

TEST(ScrambleTables, CompiledTablesEqualTheFirmwareBuildTables) {
    std::vector<uint32_t> rows;
    std::vector<uint32_t> perm;
    for (const VectorLine& line : ReadVectorFile("scramble-tables.txt")) {
        std::vector<uint32_t>& target = line.key == "ROW" ? rows : perm;
        ASSERT_TRUE(line.key == "ROW" || line.key == "PERM") << line.key;
        for (const std::string& token : line.tokens) target.push_back(static_cast<uint32_t>(std::stoul(token)));
    }
    ASSERT_EQ(rows.size(), 16u);
    ASSERT_EQ(perm.size(), 256u);
    for (size_t r = 0; r < rows.size(); ++r) EXPECT_EQ(ROW[r], rows[r]) << "ROW[" << r << "]";
    for (size_t j = 0; j < perm.size(); ++j) EXPECT_EQ(PERM[j], perm[j]) << "PERM[" << j << "]";
}

TEST(Generator, EveryOutputFollowsFromThePreviousState) {
    // Longer than any possible tail plus period (all states lie below MOD).
    constexpr uint32_t OUTPUTS = 2 * Descrambler::MOD + 10;
    Descrambler descrambler;
    descrambler.Skip(0);
    uint32_t previous = Descrambler::SEED;
    for (uint32_t k = 0; k < OUTPUTS; ++k) {
        const uint32_t state = descrambler.Next();
        const uint32_t expected = (previous * Descrambler::MUL + Descrambler::INC) % Descrambler::MOD;
        ASSERT_EQ(state, expected) << "output " << k;
        ASSERT_LT(state, Descrambler::MOD);
        previous = state;
    }
}

TEST(Generator, SkipLandsWhereStepwiseAdvanceLands) {
    // Stepping with Next from a start position and skipping straight to each later
    // position must agree, including far into the 32-bit range.
    for (uint32_t start : {0u, 1u, 3090u, 3091u, 0x3FF000u, 0x7FFFFFFFu, 0xFFFFD000u}) {
        SCOPED_TRACE(start);
        Descrambler stepping;
        stepping.Skip(start);
        for (uint32_t i = 0; i < 10000; ++i) {
            Descrambler skipping;
            skipping.Skip(start + i);
            const uint32_t expected = skipping.Next();
            ASSERT_EQ(stepping.Next(), expected) << "position " << start + i;
            ASSERT_EQ(Descrambler::KeystreamByte(start + i), expected & 0xFF);
        }
    }
}

TEST(DescrambleBlock, ConsecutiveBlocksEqualSeparatePasses) {
    const std::vector<uint8_t> stored = testing::PseudoRandomBytes(4 * BLOCK_SIZE, 77);
    for (uint32_t start : {0u, 0x18000u, 0x3FC000u, 0xFFFFB000u}) {
        SCOPED_TRACE(start);
        // One pass over four blocks.
        std::vector<uint8_t> onePass = stored;
        Descrambler pass;
        pass.Skip(start);
        for (size_t b = 0; b < 4; ++b) pass.DescrambleBlock(onePass.data() + b * BLOCK_SIZE);
        // The generator stands behind the last block.
        Descrambler behind;
        behind.Skip(start + 4 * static_cast<uint32_t>(BLOCK_SIZE));
        EXPECT_EQ(pass.Next(), behind.Next());

        for (size_t b = 0; b < 4; ++b) {
            // A pass that begins at this block, and a repeated pass from the range's start.
            std::vector<uint8_t> single(stored.begin() + b * BLOCK_SIZE, stored.begin() + (b + 1) * BLOCK_SIZE);
            Descrambler own;
            own.Skip(start + static_cast<uint32_t>(b * BLOCK_SIZE));
            own.DescrambleBlock(single.data());
            EXPECT_TRUE(std::equal(single.begin(), single.end(), onePass.begin() + b * BLOCK_SIZE)) << "block " << b;
        }
        std::vector<uint8_t> again = stored;
        pass.Skip(start);
        for (size_t b = 0; b < 4; ++b) pass.DescrambleBlock(again.data() + b * BLOCK_SIZE);
        EXPECT_EQ(again, onePass);
    }
}

TEST(DescrambleBlock, ReordersRowsAndBytesBeforeSubtracting) {
    // A block with one non-zero byte shows where each stored position ends up and which
    // keystream byte is taken off there.
    const uint32_t start = 0x2000;
    for (size_t r : {size_t{0}, size_t{7}, size_t{15}}) {
        for (size_t j : {size_t{0}, size_t{100}, size_t{255}}) {
            std::array<uint8_t, BLOCK_SIZE> block{};
            block[256 * ROW[r] + PERM[j]] = 0x80;
            const std::array<uint8_t, BLOCK_SIZE> result = DescrambledAt(start, block);
            for (size_t p = 0; p < BLOCK_SIZE; ++p) {
                const uint8_t stored = p == 256 * r + j ? 0x80 : 0x00;
                const uint8_t expected =
                    static_cast<uint8_t>(stored - Descrambler::KeystreamByte(start + static_cast<uint32_t>(p)));
                ASSERT_EQ(result[p], expected) << "r=" << r << " j=" << j << " p=" << p;
            }
        }
    }
}

TEST(DescrambleBlock, UndoesTheTestScrambler) {
    const std::vector<uint8_t> plain = testing::PseudoRandomBytes(3 * BLOCK_SIZE, 5);
    for (uint32_t start : {0u, 0x1E000u, 0x3FF000u}) {
        std::vector<uint8_t> stored = testing::ScrambleImage(plain, start);
        EXPECT_NE(stored, plain);
        Descrambler descrambler;
        descrambler.Skip(start);
        for (size_t b = 0; b < 3; ++b) descrambler.DescrambleBlock(stored.data() + b * BLOCK_SIZE);
        EXPECT_EQ(stored, plain) << "start " << start;
    }
}

}  // namespace
}  // namespace quorsel
