// The container of a signed Windows firmware file: the PE image's security directory
// names a certificate table after the container, and the container's data end where
// the table begins, less up to 7 zero bytes aligning it. The PE headers are built
// here byte by byte, the way the signing tool leaves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "image/container.h"
#include "tests/support/container_builder.h"

namespace quorsel {
namespace {

// A byte vector read through the container reader's interface.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Seek(uint64_t offset) override {
        if (offset > bytes_.size()) return false;
        position_ = static_cast<size_t>(offset);
        return true;
    }
    size_t Read(uint8_t* buffer, size_t n) override {
        const size_t count = std::min(n, bytes_.size() - position_);
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return count;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

constexpr uint32_t PE_OFFSET = 0x80;
constexpr uint32_t PREFIX_SIZE = 4096;
constexpr uint16_t PE32 = 0x10B;
constexpr uint16_t PE32_PLUS = 0x20B;

// Where the security directory's two fields lie in the prefix for a header kind.
uint32_t SecurityEntryOffset(uint16_t magic) {
    const uint32_t optional = PE_OFFSET + 4 + 20;
    return optional + (magic == PE32 ? 96u : 112u) + 4 * 8;
}

// A program's first bytes: DOS header, "PE\0\0", file header and optional header with
// directoryCount directories (all empty), then code-like bytes.
std::vector<uint8_t> PePrefix(uint16_t magic, uint32_t directoryCount = 16) {
    std::vector<uint8_t> bytes = testing::ExecutableLikeBytes(PREFIX_SIZE, 7);
    std::fill(bytes.begin(), bytes.begin() + 0x200, uint8_t{0});
    bytes[0] = 'M';
    bytes[1] = 'Z';
    StoreLe32(&bytes[0x3C], PE_OFFSET);
    std::memcpy(&bytes[PE_OFFSET], "PE\0\0", 4);
    const uint32_t fileHeader = PE_OFFSET + 4;
    StoreLe16(&bytes[fileHeader], 0x8664);
    const uint32_t directories = magic == PE32 ? 96u : 112u;
    StoreLe16(&bytes[fileHeader + 16], static_cast<uint16_t>(directories + 16 * 8));
    const uint32_t optional = fileHeader + 20;
    StoreLe16(&bytes[optional], magic);
    StoreLe32(&bytes[optional + directories - 4], directoryCount);
    return bytes;
}

struct SignedCase {
    const char* name;
    uint16_t magic;
    uint32_t imageSize;
    std::vector<uint8_t> gap;  // bytes between the container and the table
    uint32_t tableSize;        // bytes of the table that ends the file
    // The security directory as written; by default it names the table.
    int64_t entryOffsetShift = 0;
    int64_t entrySizeShift = 0;
    std::vector<uint8_t> after;  // bytes after the table (a table that does not end the file)
    bool ok = true;
    ContainerError error = ContainerError::ReadFailed;
};

struct SignedFile {
    std::vector<uint8_t> bytes;
    uint32_t imageStart = 0;
    uint32_t tableOffset = 0;
};

SignedFile BuildSignedFile(const SignedCase& c, const std::string& model) {
    testing::ContainerParts parts;
    parts.prefix = PePrefix(c.magic);
    parts.loader = testing::PseudoRandomBytes(300, 3);
    parts.storedImage = testing::ScrambleImage(testing::MakePlainImage(c.imageSize, model, 5));
    SignedFile file;
    file.bytes = testing::BuildContainerFile(parts);
    file.imageStart = PREFIX_SIZE + CONTAINER_HEADER_SIZE + 300;
    file.bytes.insert(file.bytes.end(), c.gap.begin(), c.gap.end());
    file.tableOffset = static_cast<uint32_t>(file.bytes.size());
    const std::vector<uint8_t> table = testing::PseudoRandomBytes(c.tableSize, 11);
    file.bytes.insert(file.bytes.end(), table.begin(), table.end());
    file.bytes.insert(file.bytes.end(), c.after.begin(), c.after.end());
    const uint32_t entry = SecurityEntryOffset(c.magic);
    StoreLe32(&file.bytes[entry], static_cast<uint32_t>(file.tableOffset + c.entryOffsetShift));
    StoreLe32(&file.bytes[entry + 4], static_cast<uint32_t>(c.tableSize + c.entrySizeShift));
    return file;
}

TEST(SignedContainer, ImageEndsWhereTheCertificateTableBeginsLessZeroPadding) {
    const std::vector<uint8_t> none;
    const std::vector<SignedCase> cases = {
        {"no padding", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, 0, none, true, {}},
        {"three zero bytes, as signing an odd length leaves", PE32_PLUS, IMAGE_SIZE_2MIB, {0, 0, 0}, 1544, 0, 0,
         none, true, {}},
        {"seven zero bytes, 4 MiB image, PE32", PE32, IMAGE_SIZE_4MIB, std::vector<uint8_t>(7, 0), 8, 0, 0, none,
         true, {}},
        {"a non-zero byte in the padding", PE32_PLUS, IMAGE_SIZE_2MIB, {0, 1, 0}, 2000, 0, 0, none, false,
         ContainerError::SignaturePaddingNotZero},
        {"eight bytes between image and table", PE32_PLUS, IMAGE_SIZE_2MIB, std::vector<uint8_t>(8, 0), 2000, 0, 0,
         none, false, ContainerError::BadImageSize},
        {"table followed by other bytes", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8},
         false, ContainerError::SignatureNotAtEnd},
        {"directory names fewer bytes than the table has", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, -8, none,
         false, ContainerError::SignatureNotAtEnd},
        {"directory begins inside the image", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, -4096, 4096, none, false,
         ContainerError::BadImageSize},
        {"directory runs past the end of the file", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, 1, none, false,
         ContainerError::SignatureOutsideFile},
        {"directory begins past the end of the file", PE32, IMAGE_SIZE_2MIB, none, 2000, 0x10000000, 0, none,
         false, ContainerError::SignatureOutsideFile},
    };
    for (const SignedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SignedFile file = BuildSignedFile(c, "KRV001");
        MemorySource source(file.bytes);
        Descrambler descrambler;
        Result<ContainerLayout, ContainerError> layout = LocateContainer(source, file.bytes.size(), descrambler);
        if (!c.ok) {
            ASSERT_FALSE(layout.ok());
            EXPECT_EQ(layout.error(), c.error) << DescribeContainerError(layout.error());
            continue;
        }
        ASSERT_TRUE(layout.ok()) << DescribeContainerError(layout.error());
        EXPECT_EQ(layout->containerOffset, PREFIX_SIZE);
        EXPECT_EQ(layout->imageStart, file.imageStart);
        EXPECT_EQ(layout->imageSize, c.imageSize);
        EXPECT_EQ(layout->modelIndex, 0);
        EXPECT_EQ(layout->signatureOffset, file.tableOffset);
        EXPECT_EQ(layout->signatureSize, c.tableSize);
        EXPECT_EQ(layout->signaturePadding, c.gap.size());
    }
}

// An unsigned PE program and a program that is no PE image at all are read as they
// always were: the image runs to the end of the file.
TEST(SignedContainer, UnsignedAndNonPeProgramsKeepTheImageAtTheFileEnd) {
    struct Case {
        const char* name;
        std::vector<uint8_t> prefix;
        std::vector<uint8_t> tail;  // after the image: belongs to it for the reader
        bool ok;
    };
    std::vector<uint8_t> elf = testing::ExecutableLikeBytes(PREFIX_SIZE, 9);
    std::memcpy(elf.data(), "\x7f" "ELF", 4);
    // Only four directories: the bytes where a security directory would be are code.
    std::vector<uint8_t> fewDirectories = PePrefix(PE32_PLUS, 4);
    StoreLe32(&fewDirectories[SecurityEntryOffset(PE32_PLUS)], 100);
    StoreLe32(&fewDirectories[SecurityEntryOffset(PE32_PLUS) + 4], 100);
    // "MZ" with the PE signature offset pointing past the file.
    std::vector<uint8_t> strayMz = PePrefix(PE32_PLUS);
    StoreLe32(&strayMz[0x3C], 0xFFFFFF00);
    const std::vector<Case> cases = {
        {"unsigned PE32+", PePrefix(PE32_PLUS), {}, true},
        {"unsigned PE32", PePrefix(PE32), {}, true},
        {"ELF program", elf, {}, true},
        {"four data directories only", fewDirectories, {}, true},
        {"MZ without PE header", strayMz, {}, true},
        {"unsigned PE with zero bytes after the image", PePrefix(PE32_PLUS), {0, 0, 0}, false},
        {"ELF program with zero bytes after the image", elf, {0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ContainerParts parts;
        parts.prefix = c.prefix;
        parts.loader = testing::PseudoRandomBytes(300, 3);
        parts.storedImage = testing::ScrambleImage(testing::MakePlainImage(IMAGE_SIZE_2MIB, "KRV010", 5));
        std::vector<uint8_t> bytes = testing::BuildContainerFile(parts);
        bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
        MemorySource source(bytes);
        Descrambler descrambler;
        Result<ContainerLayout, ContainerError> layout = LocateContainer(source, bytes.size(), descrambler);
        if (!c.ok) {
            ASSERT_FALSE(layout.ok());
            EXPECT_EQ(layout.error(), ContainerError::BadImageSize);
            continue;
        }
        ASSERT_TRUE(layout.ok()) << DescribeContainerError(layout.error());
        EXPECT_EQ(layout->imageSize, IMAGE_SIZE_2MIB);
        EXPECT_EQ(layout->modelIndex, 1);
        EXPECT_EQ(layout->signatureSize, 0u);
    }
}

}  // namespace
}  // namespace quorsel
