#include "image/text_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

TEST(ReadTextFile, ReadsAFileWholeAndNamesWhatIsWrongOtherwise) {
    testing::TempDir dir;
    const std::string list = dir.File("targets.txt");
    const std::string text = "10.0.0.1\r\n# comment\n10.0.0.2";
    ASSERT_TRUE(testing::WriteBytes(list, std::vector<uint8_t>(text.begin(), text.end())));
    const auto read = ReadTextFile(list);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, text);

    const auto missing = ReadTextFile(dir.File("none.txt"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), dir.File("none.txt") + ": no such file");

    const auto folder = ReadTextFile(dir.path());
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error(), dir.path() + ": is a folder, not a file");

    EXPECT_FALSE(ReadTextFile("").ok());
}

}  // namespace
}  // namespace quorsel
