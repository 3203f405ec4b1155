// SHA-256 of a byte stream, for naming a firmware file in reports and logs: the same
// digest on every platform, with no library of the system's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "image/byte_source.h"

namespace quorsel {

class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t size);
    // The digest of everything added; the object is spent afterwards.
    std::array<uint8_t, 32> Finish();

private:
    void Block(const uint8_t* block);
    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

// 64 lower-case hexadecimal digits.
std::string HexDigest(const std::array<uint8_t, 32>& digest);

// The SHA-256 of the whole source from offset 0 as hexadecimal digits; nullopt when a
// seek or read fails before size bytes were read.
std::optional<std::string> Sha256Of(ByteSource& source, uint64_t size);

}  // namespace quorsel
