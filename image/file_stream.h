// FileStream: the one owner of a buffered read stream on a file ("rb").
// Closed exactly once, by its destructor or by Close().
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "image/byte_source.h"

namespace quorsel {

class FileStream final : public ByteSource {
public:
    FileStream() = default;
    ~FileStream() override;
    FileStream(FileStream&& other) noexcept;
    FileStream& operator=(FileStream&& other) noexcept;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens path for reading in binary mode; nullopt when it cannot be opened.
    static std::optional<FileStream> Open(const std::string& path);

    bool IsOpen() const { return file_ != nullptr; }
    // Absolute position; false when the seek fails.
    bool Seek(uint64_t offset) override;
    // Reads up to n bytes at the current position; returns how many were read.
    size_t Read(uint8_t* buffer, size_t n) override;
    void Close();

private:
    explicit FileStream(std::FILE* file) : file_(file) {}
    std::FILE* file_ = nullptr;
};

// Size of the file at path as the directory reports it, nullopt when it is not there.
std::optional<uint64_t> FileSizeOf(const std::string& path);

}  // namespace quorsel
