// Scrambling of a plain flash image into the stored form the updater descrambles.
#pragma once

#include <cstdint>
#include <vector>

namespace quorsel::pack {

// Scrambles a whole plain image, block by block from image offset 0. The image size
// must be a multiple of 4096. For the block at image offset s and p = 256*r + j, the
// byte (plain[s + p] + g(s + p)) mod 256 goes to stored position 256*ROW[r] + PERM[j].
std::vector<uint8_t> ScrambleImage(const std::vector<uint8_t>& plain);

}  // namespace quorsel::pack
