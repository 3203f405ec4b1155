#include "ui/program_title.h"

#include <gtest/gtest.h>

namespace quorsel {
namespace {

struct TitleCase {
    const char* path;
    const char* title;
};

class ProgramTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ProgramTitleTest, IsTheFileNameWithoutFoldersAndExtension) {
    EXPECT_EQ(ProgramTitle(GetParam().path), GetParam().title);
}

// 表, ソ and 十 end in the byte 0x5C in code page 932; in UTF-8 no byte of theirs is
// a separator.
INSTANTIATE_TEST_SUITE_P(
    Paths, ProgramTitleTest,
    ::testing::Values(TitleCase{"C:\\Program Files\\Vendor\\quorsel-KRV001.exe", "quorsel-KRV001"},
                      TitleCase{"Z:/tmp/work/quorsel-KRV001.exe", "quorsel-KRV001"},
                      TitleCase{"C:quorsel.exe", "quorsel"},
                      TitleCase{"C:\\ファームウェア\\更新-表ソ十.exe", "更新-表ソ十"},
                      TitleCase{"D:\\表\\能予.v2.exe", "能予.v2"},
                      TitleCase{"quorsel", "quorsel"},
                      TitleCase{"C:\\folder.d\\.hidden", ".hidden"},
                      TitleCase{"C:\\folder\\", ""}));

}  // namespace
}  // namespace quorsel
