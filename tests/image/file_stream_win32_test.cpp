// Paths on Windows are UTF-8 inside the program and reach the system through the
// UTF-16 interfaces: a file whose name has characters outside the ANSI code page
// (here code page 932 under Wine, which has neither ü nor the emoji) is found,
// measured and read.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/file_stream.h"
#include "image/wide_path_win32.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

TEST(FileStreamWin32, OpensAndMeasuresNamesOutsideTheAnsiCodePage) {
    struct Name {
        const char* utf8;
        const wchar_t* utf16;
    };
    const Name names[] = {
        {"\xE8\xA1\xA8\xE3\x82\xBD\xE5\x8D\x81\xE8\x83\xBD\xE4\xBA\x88.exe", L"\u8868\u30BD\u5341\u80FD\u4E88.exe"},
        {"Gr\xC3\xBC\xC3\x9F" "e.exe", L"Gr\u00FC\u00DF" L"e.exe"},
        {"fw-\xF0\x9F\x98\x80.exe", L"fw-\U0001F600.exe"},
    };
    testing::TempDir dir;
    // The folder's own name is ASCII: the same in both encodings.
    const std::wstring wideDir(dir.path().begin(), dir.path().end());
    for (const Name& name : names) {
        SCOPED_TRACE(name.utf8);
        const std::vector<uint8_t> bytes = testing::PseudoRandomBytes(3000, 6);
        const std::wstring widePath = wideDir + L"\\" + name.utf16;
        std::FILE* out = ::_wfopen(widePath.c_str(), L"wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        ASSERT_EQ(std::fclose(out), 0);

        const std::string path = dir.path() + "\\" + name.utf8;
        EXPECT_EQ(FileSizeOf(path), bytes.size());
        std::optional<FileStream> stream = FileStream::Open(path);
        ASSERT_TRUE(stream.has_value());
        std::vector<uint8_t> got(bytes.size());
        ASSERT_TRUE(stream->Seek(0));
        EXPECT_EQ(stream->Read(got.data(), got.size()), bytes.size());
        EXPECT_EQ(got, bytes);
        EXPECT_EQ(Utf8Path(widePath), dir.path() + "\\" + name.utf8);
    }
}

TEST(FileStreamWin32, MalformedPathsNameNoFile) {
    // A lone continuation byte, a cut-off sequence, an unpaired surrogate.
    for (const char* path : {"\x80.exe", "ab\xE8\xA1"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(WidePath(path).has_value());
        EXPECT_FALSE(FileSizeOf(path).has_value());
        EXPECT_FALSE(FileStream::Open(path).has_value());
    }
    EXPECT_FALSE(Utf8Path(std::wstring(1, static_cast<wchar_t>(0xD800))).has_value());
}

}  // namespace
}  // namespace quorsel
