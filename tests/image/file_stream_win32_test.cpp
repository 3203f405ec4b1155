// Paths are UTF-8 inside the program and reach Windows through the UTF-16 interfaces:
// names with characters outside the ANSI code page (932 under the tests' Wine, which
// has neither ü nor the emoji) are found, measured and read; malformed UTF-8 names no file.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "image/file_stream.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

TEST(FileStreamWin32, OpensNamesOutsideTheAnsiCodePage) {
    const std::pair<const char*, const wchar_t*> names[] = {
        {"\xE8\xA1\xA8\xE3\x82\xBD\xE5\x8D\x81\xE8\x83\xBD\xE4\xBA\x88.exe", L"\u8868\u30BD\u5341\u80FD\u4E88.exe"},
        {"Gr\xC3\xBC\xC3\x9F" "e.exe", L"Gr\u00FC\u00DF" L"e.exe"},
        {"fw-\xF0\x9F\x98\x80.exe", L"fw-\U0001F600.exe"},
    };
    testing::TempDir dir;
    const std::wstring wideDir(dir.path().begin(), dir.path().end());  // ASCII: the same in both
    const std::vector<uint8_t> bytes = testing::PseudoRandomBytes(3000, 6);
    for (const auto& [utf8, utf16] : names) {
        SCOPED_TRACE(utf8);
        std::FILE* out = ::_wfopen((wideDir + L"\\" + utf16).c_str(), L"wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        ASSERT_EQ(std::fclose(out), 0);

        const std::string path = dir.path() + "\\" + utf8;
        EXPECT_EQ(FileSizeOf(path), bytes.size());
        std::optional<FileStream> stream = FileStream::Open(path);
        ASSERT_TRUE(stream.has_value());
        std::vector<uint8_t> got(bytes.size());
        EXPECT_EQ(stream->Read(got.data(), got.size()), bytes.size());
        EXPECT_EQ(got, bytes);
    }
    for (const char* malformed : {"\x80.exe", "ab\xE8\xA1"}) {
        EXPECT_FALSE(FileSizeOf(malformed).has_value());
        EXPECT_FALSE(FileStream::Open(malformed).has_value());
    }
}

// A file that a writer holds open is not opened (InUse); while it is open here, no
// writer gets it; a reader does. The long form "\\?\" names the same file.
TEST(FileStreamWin32, ShutsWritersOutAndTakesTheLongForm) {
    testing::TempDir dir;
    // The long form takes the path as it stands: backslashes only.
    std::string folder = dir.path();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    const std::string path = folder + "\\held.exe";
    const std::wstring wide(path.begin(), path.end());  // ASCII
    const std::vector<uint8_t> bytes = testing::PseudoRandomBytes(1000, 7);
    std::FILE* out = ::_wfopen(wide.c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    ASSERT_EQ(std::fclose(out), 0);
    const auto openWith = [&wide](DWORD access) {
        return ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    };

    HANDLE writer = openWith(GENERIC_WRITE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    Result<FileStream, FileOpenError> held = FileStream::OpenForReading(path);
    ::CloseHandle(writer);
    ASSERT_FALSE(held.ok());
    EXPECT_EQ(held.error(), FileOpenError::InUse);

    Result<FileStream, FileOpenError> opened = FileStream::OpenForReading(path);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened->Size(), bytes.size());
    HANDLE lateWriter = openWith(GENERIC_WRITE);
    const DWORD why = ::GetLastError();
    EXPECT_EQ(lateWriter, INVALID_HANDLE_VALUE) << "a writer got the file while it was open";
    if (lateWriter != INVALID_HANDLE_VALUE) ::CloseHandle(lateWriter);
    EXPECT_EQ(why, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE reader = openWith(GENERIC_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);

    const std::string longForm = "\\\\?\\" + path;
    EXPECT_EQ(FileSizeOf(longForm), bytes.size());
    std::optional<FileStream> stream = FileStream::Open(longForm);
    ASSERT_TRUE(stream.has_value());
    std::vector<uint8_t> got(bytes.size());
    EXPECT_EQ(stream->Read(got.data(), got.size()), bytes.size());
    EXPECT_EQ(got, bytes);
    // A wildcard after the prefix is still refused.
    EXPECT_FALSE(FileSizeOf("\\\\?\\" + folder + "\\held.*").has_value());
    EXPECT_EQ(FileStream::OpenForReading(dir.File("missing")).error(), FileOpenError::NotFound);
}

}  // namespace
}  // namespace quorsel
