// FileStream opening, positioning and size, and FileSizeOf, on a POSIX system.
#include "image/file_stream.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

namespace quorsel {

Result<FileStream, FileOpenError> FileStream::OpenForReading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return Fail(errno == ENOENT || errno == ENOTDIR ? FileOpenError::NotFound : FileOpenError::CannotOpen);
    }
    return FileStream(file);
}

std::optional<uint64_t> FileStream::Size() const {
    struct stat status {};
    if (file_ == nullptr || ::fstat(::fileno(file_), &status) != 0 || status.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(status.st_size);
}

bool FileStream::Seek(uint64_t offset) {
    if (file_ == nullptr || offset > static_cast<uint64_t>(LONG_MAX)) {
        return false;
    }
    return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

std::optional<uint64_t> FileSizeOf(const std::string& path) {
    // Only a regular file has a size here: directories, pipes and devices count as
    // not found, so that opening one can neither block nor yield a meaningless size.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error) || error) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(size);
}

}  // namespace quorsel
