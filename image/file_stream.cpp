// FileStream: one owner of a buffered "rb" stream. Opening, positioning and the size
// the directory reports are platform layers (file_stream_posix.cpp, file_stream_win32.cpp).
#include "image/file_stream.h"

#include <utility>

namespace quorsel {

FileStream::~FileStream() { Close(); }

FileStream::FileStream(FileStream&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
}

std::optional<FileStream> FileStream::Open(const std::string& path) {
    Result<FileStream, FileOpenError> opened = OpenForReading(path);
    if (!opened) return std::nullopt;
    return std::move(opened).value();
}

size_t FileStream::Read(uint8_t* buffer, size_t n) {
    if (file_ == nullptr || n == 0) {
        return 0;
    }
    return std::fread(buffer, 1, n, file_);
}

void FileStream::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

}  // namespace quorsel
