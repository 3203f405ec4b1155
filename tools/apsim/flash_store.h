// The simulated access point's flash: an image file of the model's flash size that
// holds what the ranges wrote. Erased bytes read 0xFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/result.h"

namespace quorsel::apsim {

constexpr uint8_t ERASED_BYTE = 0xFF;

// Flash size of a model: the end of its layout's last region for the known models,
// 4 MiB for any other code.
uint32_t FlashSizeOf(std::string_view modelCode);

// Owns the open flash image file; closed exactly once, by the destructor.
class FlashStore {
public:
    // Opens path for reading and writing, creating it when missing, and extends it to
    // size bytes with erased bytes. A longer file keeps its length.
    static Result<FlashStore, std::string> Open(const std::string& path, uint32_t size);

    FlashStore(FlashStore&& other) noexcept;
    FlashStore& operator=(FlashStore&& other) noexcept;
    FlashStore(const FlashStore&) = delete;
    FlashStore& operator=(const FlashStore&) = delete;
    ~FlashStore();

    uint32_t size() const { return size_; }
    const std::string& path() const { return path_; }

    // Writes n bytes at offset and waits until they are on disk. The caller has checked
    // that the bytes lie within size(); the error is a message for the log.
    Result<bool, std::string> Write(uint32_t offset, const uint8_t* data, size_t n);

private:
    FlashStore(int fd, std::string path, uint32_t size) : fd_(fd), path_(std::move(path)), size_(size) {}
    void Close();

    int fd_ = -1;
    std::string path_;
    uint32_t size_ = 0;
};

}  // namespace quorsel::apsim
