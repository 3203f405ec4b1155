// FileStream: the one owner of a buffered read stream on a file ("rb").
// Closed exactly once, by its destructor or by Close().
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/result.h"
#include "image/byte_source.h"

namespace quorsel {

// Why a file could not be opened for reading.
enum class FileOpenError {
    NotFound,
    InUse,       // another program holds it open for writing (Windows)
    CannotOpen,  // anything else: no permission, not a plain file, a name the system refuses
};

class FileStream final : public ByteSource {
public:
    FileStream() = default;
    ~FileStream() override;
    FileStream(FileStream&& other) noexcept;
    FileStream& operator=(FileStream&& other) noexcept;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens path for reading in binary mode. On Windows no other program may write the
    // file while it is open here, and a file that one already holds open for writing
    // is not opened (InUse): what is read is what was there when it was opened.
    static Result<FileStream, FileOpenError> OpenForReading(const std::string& path);
    // The same, without the reason; nullopt when it cannot be opened.
    static std::optional<FileStream> Open(const std::string& path);

    bool IsOpen() const { return file_ != nullptr; }
    // Absolute position; false when the seek fails.
    bool Seek(uint64_t offset) override;
    // Reads up to n bytes at the current position; returns how many were read.
    size_t Read(uint8_t* buffer, size_t n) override;
    void Close();
    // Size of the open file, nullopt when the system does not give it.
    std::optional<uint64_t> Size() const;
    // The C stream, for a platform layer that hands the open file to the system
    // (the signature check); null when closed. Still owned by this object.
    std::FILE* CStream() const { return file_; }

private:
    explicit FileStream(std::FILE* file) : file_(file) {}
    std::FILE* file_ = nullptr;
};

// Size of the file at path as the directory reports it, nullopt when it is not there.
std::optional<uint64_t> FileSizeOf(const std::string& path);

}  // namespace quorsel
