// FileStream opening and positioning, and FileSizeOf, on Windows. Paths are UTF-8
// and reach the system through the UTF-16 interfaces (_wfopen, FindFirstFileW), so a
// name with characters outside the ANSI code page opens too. 64-bit seeks (long has
// 32 bits here); the size from the file's directory entry.
#include "image/file_stream.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "image/wide_path_win32.h"

namespace quorsel {

namespace {

// Closes a directory search exactly once.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool found() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

}  // namespace

std::optional<FileStream> FileStream::Open(const std::string& path) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) {
        return std::nullopt;
    }
    std::FILE* file = ::_wfopen(wide->c_str(), L"rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    return FileStream(file);
}

bool FileStream::Seek(uint64_t offset) {
    if (file_ == nullptr || offset > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    return ::_fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

std::optional<uint64_t> FileSizeOf(const std::string& path) {
    // The lookup treats '*' and '?' as wildcards: such a path would name whichever
    // file matched first, not the file itself.
    if (path.empty() || path.find_first_of("*?") != std::string::npos) {
        return std::nullopt;
    }
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide) {
        return std::nullopt;
    }
    WIN32_FIND_DATAW entry{};
    FindHandle search(::FindFirstFileW(wide->c_str(), &entry));
    if (!search.found()) {
        return std::nullopt;
    }
    // Only a plain file has a size here: directories and devices count as not found,
    // so that opening one can neither block nor yield a meaningless size.
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

}  // namespace quorsel
