#include "image/file_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

TEST(FileStream, ReadsSeeksAndReportsShortReads) {
    testing::TempDir dir;
    const std::vector<uint8_t> bytes = testing::PseudoRandomBytes(1000, 4);
    const std::string path = dir.File("data.bin");
    ASSERT_TRUE(testing::WriteBytes(path, bytes));
    EXPECT_EQ(FileSizeOf(path), 1000u);

    std::optional<FileStream> stream = FileStream::Open(path);
    ASSERT_TRUE(stream.has_value());
    std::vector<uint8_t> got(16);
    ASSERT_EQ(stream->Read(got.data(), 16), 16u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin()));
    ASSERT_TRUE(stream->Seek(990));
    EXPECT_EQ(stream->Read(got.data(), 16), 10u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 10, bytes.begin() + 990));
    EXPECT_EQ(stream->Read(got.data(), 16), 0u);
    // Past the end: the seek itself succeeds, reads give nothing.
    EXPECT_TRUE(stream->Seek(5000));
    EXPECT_EQ(stream->Read(got.data(), 1), 0u);
    // Back inside after reaching the end.
    ASSERT_TRUE(stream->Seek(500));
    ASSERT_EQ(stream->Read(got.data(), 1), 1u);
    EXPECT_EQ(got[0], bytes[500]);
}

TEST(FileStream, OwnershipMovesAndCloseHappensOnce) {
    testing::TempDir dir;
    const std::string path = dir.File("data.bin");
    ASSERT_TRUE(testing::WriteBytes(path, {1, 2, 3}));

    std::optional<FileStream> opened = FileStream::Open(path);
    ASSERT_TRUE(opened.has_value());
    FileStream first = std::move(*opened);
    EXPECT_FALSE(opened->IsOpen());
    EXPECT_TRUE(first.IsOpen());

    FileStream second;
    second = std::move(first);
    EXPECT_FALSE(first.IsOpen());
    ASSERT_TRUE(second.IsOpen());
    uint8_t byte = 0;
    EXPECT_EQ(second.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 1);

    second.Close();
    EXPECT_FALSE(second.IsOpen());
    second.Close();  // a second close does nothing
    EXPECT_FALSE(second.Seek(0));
    EXPECT_EQ(second.Read(&byte, 1), 0u);
}

TEST(FileStream, MissingFilesAndNonFiles) {
    testing::TempDir dir;
    EXPECT_FALSE(FileStream::Open(dir.File("missing")).has_value());
    EXPECT_EQ(FileSizeOf(dir.File("missing")), std::nullopt);
    EXPECT_EQ(FileSizeOf(dir.path()), std::nullopt);
    const std::string empty = dir.File("empty");
    ASSERT_TRUE(testing::WriteBytes(empty, {}));
    EXPECT_EQ(FileSizeOf(empty), 0u);
}

}  // namespace
}  // namespace quorsel
