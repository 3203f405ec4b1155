// Scrambling of a plain flash image: the inverse of the updater's block descrambling.
#include "tools/pack/scrambler.h"

#include <cassert>

#include "image/descrambler.h"

namespace quorsel::pack {
namespace {

constexpr size_t ROW_COUNT = 16;
constexpr size_t ROW_SIZE = 256;
static_assert(ROW_COUNT * ROW_SIZE == BLOCK_SIZE);

}  // namespace

std::vector<uint8_t> ScrambleImage(const std::vector<uint8_t>& plain) {
    assert(plain.size() % BLOCK_SIZE == 0);
    std::vector<uint8_t> stored(plain.size());
    // One pass from image offset 0: the generator's k-th output belongs to image
    // offset k, so walking the image in order keeps it in step without any skip.
    Descrambler generator;
    generator.Skip(0);
    for (size_t s = 0; s + BLOCK_SIZE <= plain.size(); s += BLOCK_SIZE) {
        const uint8_t* in = plain.data() + s;
        uint8_t* out = stored.data() + s;
        for (size_t r = 0; r < ROW_COUNT; ++r) {
            for (size_t j = 0; j < ROW_SIZE; ++j) {
                const size_t p = ROW_SIZE * r + j;
                const auto key = static_cast<uint8_t>(generator.Next());
                out[ROW_SIZE * ROW[r] + PERM[j]] = static_cast<uint8_t>(in[p] + key);
            }
        }
    }
    return stored;
}

}  // namespace quorsel::pack
