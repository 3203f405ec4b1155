// The image descrambler: a linear congruential generator whose low byte is the
// keystream, and a fixed row/byte permutation of each 4096-byte block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/scramble_tables.h"

namespace quorsel {

constexpr size_t BLOCK_SIZE = 4096;

class Descrambler {
public:
    static constexpr uint32_t SEED = 0x6c3d;
    static constexpr uint32_t MUL = 71293;
    static constexpr uint32_t INC = 52817;
    static constexpr uint32_t MOD = 30911;

    // Advances one step and returns the new state (below MOD).
    uint32_t Next();
    // Resets to SEED and advances count steps: the next output belongs to image offset count.
    void Skip(uint32_t count);
    // Descrambles one 4096-byte block in place, using the next 4096 generator outputs.
    void DescrambleBlock(uint8_t* block);

    // g(k): the keystream byte for image offset k (low 8 bits of the (k+1)-th output after a reset).
    static uint8_t KeystreamByte(uint32_t imageOffset);

private:
    // Index of the next output in the precomputed state sequence; outputs repeat with a
    // fixed period after a short tail, so the index is kept within one period.
    uint32_t position_ = 0;
};

}  // namespace quorsel
