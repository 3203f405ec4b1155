// A signed Windows firmware file: the container's data end where the certificate
// table begins, less up to 7 zero bytes; unsigned programs, PE or not, keep the image
// at the end of the file. The PE headers are built byte by byte. The tables here are
// made-up bytes, no signature a system could check, so the layout is read with
// LocateContainer, the step of OpenContainer before the signature check.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "image/container.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

constexpr uint32_t PE_OFFSET = 0x80;
constexpr uint32_t PREFIX_SIZE = 4096;
constexpr uint32_t LOADER_SIZE = 300;
constexpr uint16_t ELF = 0;  // not a PE image
constexpr uint16_t PE32 = 0x10B;
constexpr uint16_t PE32_PLUS = 0x20B;

uint32_t DirectoriesAt(uint16_t magic) { return PE_OFFSET + 24 + (magic == PE32 ? 96u : 112u); }
uint32_t SecurityEntryAt(uint16_t magic) { return DirectoriesAt(magic) + 4 * 8; }

// A program's first bytes: DOS header, "PE\0\0", file header and an optional header
// with directoryCount empty directories; or an ELF program's.
std::vector<uint8_t> ProgramPrefix(uint16_t magic, uint32_t directoryCount) {
    std::vector<uint8_t> bytes = testing::ExecutableLikeBytes(PREFIX_SIZE, 7);
    std::fill(bytes.begin(), bytes.begin() + 0x200, uint8_t{0});
    if (magic == ELF) {
        std::memcpy(bytes.data(), "\x7f" "ELF", 4);
        return bytes;
    }
    bytes[0] = 'M';
    bytes[1] = 'Z';
    StoreLe32(&bytes[0x3C], PE_OFFSET);
    std::memcpy(&bytes[PE_OFFSET], "PE\0\0", 4);
    StoreLe16(&bytes[PE_OFFSET + 4 + 16], static_cast<uint16_t>(DirectoriesAt(magic) - PE_OFFSET - 24 + 16 * 8));
    StoreLe16(&bytes[PE_OFFSET + 24], magic);
    StoreLe32(&bytes[DirectoriesAt(magic) - 4], directoryCount);
    return bytes;
}

struct Case {
    const char* name;
    uint16_t magic;
    uint32_t imageSize;
    std::vector<uint8_t> gap;  // after the image (before the table, when there is one)
    uint32_t tableSize;        // 0: unsigned
    int64_t offsetShift;       // added to the security directory's offset ...
    int64_t sizeShift;         // ... and size, which name the table by default
    size_t bytesAfter;         // after the table
    std::optional<ContainerError> error;
    uint32_t directoryCount = 16;
};

TEST(SignedContainer, ImageEndsWhereTheCertificateTableBeginsLessZeroPadding) {
    using E = ContainerError;
    const std::vector<uint8_t> none;
    const std::vector<uint8_t> zero3(3, 0), zero7(7, 0), zero8(8, 0), nonZero = {0, 1, 0};
    const std::vector<Case> cases = {
        {"signed, no padding", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, 0, 0, {}},
        {"signed, 3 zero bytes as signing an odd length leaves", PE32_PLUS, IMAGE_SIZE_2MIB, zero3, 1544, 0, 0, 0, {}},
        {"signed PE32, 4 MiB, 7 zero bytes", PE32, IMAGE_SIZE_4MIB, zero7, 8, 0, 0, 0, {}},
        {"a non-zero byte in the padding", PE32_PLUS, IMAGE_SIZE_2MIB, nonZero, 2000, 0, 0, 0, E::SignaturePaddingNotZero},
        {"8 bytes between image and table", PE32_PLUS, IMAGE_SIZE_2MIB, zero8, 2000, 0, 0, 0, E::BadImageSize},
        {"table followed by other bytes", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, 0, 8, E::SignatureNotAtEnd},
        {"directory shorter than the table", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, -8, 0, E::SignatureNotAtEnd},
        {"directory begins inside the image", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, -4096, 4096, 0, E::BadImageSize},
        {"directory runs past the file", PE32_PLUS, IMAGE_SIZE_2MIB, none, 2000, 0, 1, 0, E::SignatureOutsideFile},
        {"directory begins past the file", PE32, IMAGE_SIZE_2MIB, none, 2000, 0x10000000, 0, 0, E::SignatureOutsideFile},
        // Read as always: the image runs to the end of the file.
        {"unsigned PE32+", PE32_PLUS, IMAGE_SIZE_2MIB, none, 0, 0, 0, 0, {}},
        {"ELF program", ELF, IMAGE_SIZE_4MIB, none, 0, 0, 0, 0, {}},
        {"unsigned PE, zero bytes after the image", PE32_PLUS, IMAGE_SIZE_2MIB, zero3, 0, 0, 0, 0, E::BadImageSize},
        {"ELF, zero bytes after the image", ELF, IMAGE_SIZE_2MIB, zero3, 0, 0, 0, 0, E::BadImageSize},
        // Four directories only: the bytes where a security directory would be are code.
        {"no security directory", PE32_PLUS, IMAGE_SIZE_2MIB, none, 0, 100, 100, 0, {}, 4},
    };
    testing::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ContainerParts parts;
        parts.prefix = ProgramPrefix(c.magic, c.directoryCount);
        parts.loader = testing::PseudoRandomBytes(LOADER_SIZE, 3);
        parts.storedImage = testing::ScrambleImage(testing::MakePlainImage(c.imageSize, "KRV001", 5));
        std::vector<uint8_t> bytes = testing::BuildContainerFile(parts);
        bytes.insert(bytes.end(), c.gap.begin(), c.gap.end());
        const auto tableOffset = static_cast<uint32_t>(bytes.size());
        const std::vector<uint8_t> table = testing::PseudoRandomBytes(c.tableSize + c.bytesAfter, 11);
        bytes.insert(bytes.end(), table.begin(), table.end());
        if (c.magic != ELF && (c.tableSize > 0 || c.offsetShift != 0)) {
            StoreLe32(&bytes[SecurityEntryAt(c.magic)], static_cast<uint32_t>(tableOffset + c.offsetShift));
            StoreLe32(&bytes[SecurityEntryAt(c.magic) + 4], static_cast<uint32_t>(c.tableSize + c.sizeShift));
        }
        const std::string path = dir.File("program.exe");
        ASSERT_TRUE(testing::WriteBytes(path, bytes));
        Descrambler descrambler;
        Result<ContainerInfo, ContainerError> opened = OpenContainer(path, descrambler);
        if (c.error) {
            ASSERT_FALSE(opened.ok());
            EXPECT_EQ(opened.error(), *c.error) << DescribeContainerError(opened.error());
            continue;
        }
        // The table here is no signature: the layout is found, the signature cannot
        // be checked, so the file is not opened.
        if (c.tableSize > 0) {
            ASSERT_FALSE(opened.ok());
            EXPECT_EQ(opened.error(), ContainerError::SignatureUncheckable);
        } else {
            ASSERT_TRUE(opened.ok()) << DescribeContainerError(opened.error());
        }
        std::optional<FileStream> stream = FileStream::Open(path);
        ASSERT_TRUE(stream.has_value());
        Descrambler layoutDescrambler;
        const auto info = LocateContainer(*stream, bytes.size(), layoutDescrambler);
        ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
        EXPECT_EQ(info->imageStart, PREFIX_SIZE + CONTAINER_HEADER_SIZE + LOADER_SIZE);
        EXPECT_EQ(info->imageSize, c.imageSize);
        EXPECT_EQ(info->modelIndex, 0);
        EXPECT_EQ(info->signatureOffset, c.tableSize > 0 ? tableOffset : 0);
        EXPECT_EQ(info->signatureSize, c.tableSize);
        EXPECT_EQ(info->signaturePadding, c.tableSize > 0 ? c.gap.size() : 0);
    }
}

}  // namespace
}  // namespace quorsel
