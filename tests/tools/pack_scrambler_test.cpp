// The packer's scrambling and container assembly, checked against the firmware
// build's tables and known-answer values, and against the updater's descrambler.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "image/checksums.h"
#include "image/container.h"
#include "image/descrambler.h"
#include "image/model_tables.h"
#include "tools/pack/container_writer.h"
#include "tools/pack/scrambler.h"

namespace quorsel::pack {
namespace {

constexpr uint32_t SIGNATURE_LOW = 0x6E6C5740;   // "@Wln"
constexpr uint32_t SIGNATURE_HIGH = 0x40706124;  // "$ap@"

std::vector<std::string> LinesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// ROW and PERM as the firmware build's table file gives them (decimal).
struct Tables {
    std::vector<uint32_t> row;
    std::vector<uint32_t> perm;
};

Tables ReadTables() {
    Tables tables;
    for (const std::string& line : LinesOf(QUORSEL_FIRMWARE_DIR "/scramble-tables.txt")) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        std::vector<uint32_t>* target = key == "ROW" ? &tables.row : key == "PERM" ? &tables.perm : nullptr;
        if (target == nullptr) continue;
        for (uint32_t v; words >> v;) target->push_back(v);
    }
    return tables;
}

// "descramble_at_<hex offset> first32 <32 hex bytes> ...": block offset -> first 32 plain bytes.
std::map<uint32_t, std::vector<uint8_t>> ReadDescrambleVectors() {
    std::map<uint32_t, std::vector<uint8_t>> vectors;
    const std::string prefix = "descramble_at_";
    for (const std::string& line : LinesOf(QUORSEL_FIRMWARE_DIR "/test-vectors.txt")) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::istringstream words(line.substr(prefix.size()));
        std::string offset, label;
        words >> offset >> label;
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 32; ++i) {
            std::string hex;
            words >> hex;
            bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
        }
        vectors[static_cast<uint32_t>(std::stoul(offset, nullptr, 16))] = bytes;
    }
    return vectors;
}

std::vector<uint8_t> PseudoRandom(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

std::vector<uint8_t> ImageForModel(uint32_t size, const char* model, uint32_t seed) {
    std::vector<uint8_t> image = PseudoRandom(size, seed);
    for (size_t i = 0; i < MODEL_CODE_LENGTH; ++i) {
        image[size - BLOCK_SIZE + TRAILER_MODEL_OFFSET + i] = static_cast<uint8_t>(model[i]);
    }
    return image;
}

// The firmware build's vectors descramble the stored block b[i] = (7*i + 3) mod 256 at
// several image offsets and give the first 32 plain bytes. Scrambling plain bytes that
// begin with those 32 must put the matching stored bytes back at row ROW[0].
TEST(ScrambleImage, MatchesTheKnownAnswers) {
    const Tables tables = ReadTables();
    ASSERT_EQ(tables.row.size(), 16u);
    ASSERT_EQ(tables.perm.size(), 256u);
    const auto vectors = ReadDescrambleVectors();
    ASSERT_GE(vectors.size(), 3u);

    for (const auto& [offset, first32] : vectors) {
        SCOPED_TRACE(offset);
        std::vector<uint8_t> plain = PseudoRandom(offset + BLOCK_SIZE, offset);
        std::copy(first32.begin(), first32.end(), plain.begin() + offset);
        const std::vector<uint8_t> stored = ScrambleImage(plain);
        ASSERT_EQ(stored.size(), plain.size());
        for (size_t j = 0; j < first32.size(); ++j) {
            const size_t position = 256 * tables.row[0] + tables.perm[j];
            EXPECT_EQ(stored[offset + position], static_cast<uint8_t>(7 * position + 3)) << "byte " << j;
        }
    }
}

// Every stored byte follows the rule with the keystream of its image offset.
TEST(ScrambleImage, PlacesEveryByteWithItsKeystream) {
    const Tables tables = ReadTables();
    const std::vector<uint8_t> plain = PseudoRandom(3 * BLOCK_SIZE, 7);
    const std::vector<uint8_t> stored = ScrambleImage(plain);
    for (uint32_t s : {0u, 4096u, 8192u}) {
        for (uint32_t p : {0u, 1u, 255u, 256u, 2049u, 4095u}) {
            const size_t position = s + 256 * tables.row[p / 256] + tables.perm[p % 256];
            EXPECT_EQ(stored[position], static_cast<uint8_t>(plain[s + p] + Descrambler::KeystreamByte(s + p)))
                << "image offset " << s + p;
        }
    }
}

TEST(ScrambleImage, IsUndoneByTheUpdatersDescrambler) {
    const std::vector<uint8_t> plain = PseudoRandom(32 * BLOCK_SIZE, 11);
    std::vector<uint8_t> stored = ScrambleImage(plain);
    EXPECT_NE(stored, plain);
    // One pass from the start, and one pass that begins at a later block.
    Descrambler descrambler;
    descrambler.Skip(0);
    std::vector<uint8_t> whole = stored;
    for (size_t s = 0; s < whole.size(); s += BLOCK_SIZE) descrambler.DescrambleBlock(whole.data() + s);
    EXPECT_EQ(whole, plain);

    descrambler.Skip(20 * BLOCK_SIZE);
    std::vector<uint8_t> tail(stored.begin() + 20 * BLOCK_SIZE, stored.end());
    for (size_t s = 0; s < tail.size(); s += BLOCK_SIZE) descrambler.DescrambleBlock(tail.data() + s);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), plain.begin() + 20 * BLOCK_SIZE));
}

TEST(BuildContainerHeader, LaysOutSignatureLengthsAndByteSum) {
    const std::vector<uint8_t> loader = {0xFF, 0xFF, 0x01};
    std::vector<uint8_t> stored(2 * BLOCK_SIZE, 0xFF);
    stored[5] = 0x00;
    const auto header = BuildContainerHeader(loader, stored);
    EXPECT_EQ(LoadLe32(header.data()), SIGNATURE_LOW);
    EXPECT_EQ(LoadLe32(header.data() + 4), SIGNATURE_HIGH);
    EXPECT_EQ(LoadLe32(header.data() + 8), 3u);
    EXPECT_EQ(LoadLe32(header.data() + 12), 2u * BLOCK_SIZE);
    EXPECT_EQ(LoadLe32(header.data() + 16), 0xFFu * 2 + 1 + 0xFFu * (2 * BLOCK_SIZE - 1));
}

TEST(BuildContainerHeader, ByteSumWrapsAt32Bits) {
    // 16843010 bytes of 0xFF sum to 2^32 + 254.
    const std::vector<uint8_t> loader;
    const std::vector<uint8_t> stored(16843010, 0xFF);
    const auto header = BuildContainerHeader(loader, stored);
    EXPECT_EQ(LoadLe32(header.data() + 16), 254u);
}

TEST(FindSignature, FindsTheFirstWholeSignatureOnly) {
    std::vector<uint8_t> bytes(64, 0x40);
    EXPECT_FALSE(FindSignature(bytes).has_value());
    StoreLe32(bytes.data() + 10, SIGNATURE_LOW);  // a partial signature
    EXPECT_FALSE(FindSignature(bytes).has_value());
    StoreLe32(bytes.data() + 33, SIGNATURE_LOW);
    StoreLe32(bytes.data() + 37, SIGNATURE_HIGH);
    EXPECT_EQ(FindSignature(bytes), std::optional<size_t>(33));
    StoreLe32(bytes.data() + 0, SIGNATURE_LOW);
    StoreLe32(bytes.data() + 4, SIGNATURE_HIGH);
    EXPECT_EQ(FindSignature(bytes), std::optional<size_t>(0));
    // A signature that ends exactly at the end is found too.
    std::vector<uint8_t> tail(9, 0);
    StoreLe32(tail.data() + 1, SIGNATURE_LOW);
    StoreLe32(tail.data() + 5, SIGNATURE_HIGH);
    EXPECT_EQ(FindSignature(tail), std::optional<size_t>(1));
}

TEST(PackContainer, AssemblesUpdaterHeaderLoaderAndStoredImage) {
    const std::vector<uint8_t> updater = PseudoRandom(777, 1);
    const std::vector<uint8_t> loader = PseudoRandom(300, 2);
    const std::vector<uint8_t> image = ImageForModel(IMAGE_SIZE_2MIB, "MXD001", 3);
    const auto packed = PackContainer(updater, loader, image);
    ASSERT_TRUE(packed.ok()) << packed.error();
    const std::vector<uint8_t>& file = *packed;
    ASSERT_EQ(file.size(), updater.size() + CONTAINER_HEADER_SIZE + loader.size() + image.size());
    EXPECT_TRUE(std::equal(updater.begin(), updater.end(), file.begin()));
    const uint8_t* header = file.data() + updater.size();
    EXPECT_EQ(LoadLe32(header + 8), loader.size());
    EXPECT_EQ(LoadLe32(header + 12), image.size());
    EXPECT_TRUE(std::equal(loader.begin(), loader.end(), header + CONTAINER_HEADER_SIZE));
    const std::vector<uint8_t> stored(file.end() - static_cast<std::ptrdiff_t>(image.size()), file.end());
    EXPECT_EQ(stored, ScrambleImage(image));
    uint32_t sum = 0;
    for (auto it = file.begin() + static_cast<std::ptrdiff_t>(updater.size() + CONTAINER_HEADER_SIZE); it != file.end();
         ++it) {
        sum += *it;
    }
    EXPECT_EQ(LoadLe32(header + 16), sum);
}

TEST(PackContainer, RefusesBadInputsWithAReason) {
    const std::vector<uint8_t> updater = PseudoRandom(100, 1);
    const std::vector<uint8_t> loader = PseudoRandom(10, 2);

    const auto wrongSize = PackContainer(updater, loader, std::vector<uint8_t>(IMAGE_SIZE_2MIB + BLOCK_SIZE));
    ASSERT_FALSE(wrongSize.ok());
    EXPECT_NE(wrongSize.error().find("2101248"), std::string::npos) << wrongSize.error();

    std::vector<uint8_t> unknown = ImageForModel(IMAGE_SIZE_4MIB, "ZLT01\x01", 4);
    const auto unknownModel = PackContainer(updater, loader, unknown);
    ASSERT_FALSE(unknownModel.ok());
    EXPECT_NE(unknownModel.error().find("\"ZLT01\\x01\""), std::string::npos) << unknownModel.error();
    EXPECT_NE(unknownModel.error().find("0x3ffff0"), std::string::npos) << unknownModel.error();

    std::vector<uint8_t> signed_ = updater;
    StoreLe32(signed_.data() + 50, SIGNATURE_LOW);
    StoreLe32(signed_.data() + 54, SIGNATURE_HIGH);
    const auto withSignature = PackContainer(signed_, loader, ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 5));
    ASSERT_FALSE(withSignature.ok());
    EXPECT_NE(withSignature.error().find("0x32"), std::string::npos) << withSignature.error();
}

TEST(LayoutMismatch, NotesALayoutOfAnotherSize) {
    EXPECT_FALSE(LayoutMismatch(ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 1)).has_value());
    EXPECT_FALSE(LayoutMismatch(ImageForModel(IMAGE_SIZE_4MIB, "ZLT011", 1)).has_value());
    EXPECT_TRUE(LayoutMismatch(ImageForModel(IMAGE_SIZE_2MIB, "KRV010", 1)).has_value());
    EXPECT_TRUE(LayoutMismatch(ImageForModel(IMAGE_SIZE_4MIB, "MXD001", 1)).has_value());
}

}  // namespace
}  // namespace quorsel::pack
