// FileStream opening, positioning and size, and FileSizeOf, on Windows. Paths are
// UTF-8 and reach the system through the UTF-16 interfaces (CreateFileW,
// FindFirstFileW), so a name with characters outside the ANSI code page opens too,
// and so does the long form "\\?\C:\...". The file is opened with read sharing
// only: while it is open no other program can write it, and one that already holds
// it open for writing makes the open fail. The C stream is made on that handle.
// 64-bit seeks (long has 32 bits here).
#include "image/file_stream.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string_view>

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

// The prefix of a path in the long form, which the system takes as it stands.
constexpr std::string_view LONG_PATH_PREFIX = "\\\\?\\";

}  // namespace

Result<FileStream, FileOpenError> FileStream::OpenForReading(const std::string& path) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) {
        return Fail(FileOpenError::CannotOpen);
    }
    HANDLE handle = ::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (::GetLastError()) {
            case ERROR_SHARING_VIOLATION:
                return Fail(FileOpenError::InUse);
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return Fail(FileOpenError::NotFound);
            default:
                return Fail(FileOpenError::CannotOpen);
        }
    }
    // Only a file on a disk: a device or a pipe could block or yield no size.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return Fail(FileOpenError::CannotOpen);
    }
    // From here the descriptor owns the handle, and then the stream the descriptor.
    const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        ::CloseHandle(handle);
        return Fail(FileOpenError::CannotOpen);
    }
    std::FILE* file = ::_fdopen(descriptor, "rb");
    if (file == nullptr) {
        ::_close(descriptor);
        return Fail(FileOpenError::CannotOpen);
    }
    return FileStream(file);
}

std::optional<uint64_t> FileStream::Size() const {
    if (file_ == nullptr) {
        return std::nullopt;
    }
    const intptr_t handle = ::_get_osfhandle(::_fileno(file_));
    LARGE_INTEGER size{};
    if (handle == -1 || !::GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size) || size.QuadPart < 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

bool FileStream::Seek(uint64_t offset) {
    if (file_ == nullptr || offset > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    return ::_fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

std::optional<uint64_t> FileSizeOf(const std::string& path) {
    // The lookup treats '*' and '?' as wildcards: such a path would name whichever
    // file matched first, not the file itself. The '?' of the long form's prefix is
    // no wildcard.
    const size_t named = path.compare(0, LONG_PATH_PREFIX.size(), LONG_PATH_PREFIX) == 0 ? LONG_PATH_PREFIX.size() : 0;
    if (path.size() == named || path.find_first_of("*?", named) != std::string::npos) {
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
