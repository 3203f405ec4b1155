// ByteSource: what the container reader needs of the program file: a position and
// reads from it. FileStream is the one the updater uses; tests and the fuzzer can
// hand the reader bytes held in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorsel {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Absolute position; false when the seek fails.
    virtual bool Seek(uint64_t offset) = 0;
    // Reads up to n bytes at the current position; returns how many were read.
    virtual size_t Read(uint8_t* buffer, size_t n) = 0;
};

}  // namespace quorsel
