// Test support: making firmware containers. The scrambler here is the inverse of
// Descrambler::DescrambleBlock; it lives with the tests because the updater itself
// never writes a container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorsel::testing {

// Scrambles one 4096-byte block that belongs at image offset imageOffset (a block
// boundary): plain byte p = 256*r + j goes, plus g(imageOffset + p), to stored
// position 256*ROW[r] + PERM[j].
void ScrambleBlock(const uint8_t* plain, uint8_t* stored, uint32_t imageOffset);

// Scrambles consecutive blocks starting at image offset imageOffset; plain.size() must be
// a multiple of 4096.
std::vector<uint8_t> ScrambleImage(const std::vector<uint8_t>& plain, uint32_t imageOffset = 0);

// Deterministic pseudo-random bytes.
std::vector<uint8_t> PseudoRandomBytes(size_t size, uint32_t seed);

// Bytes that look like an executable to the signature scan: many zero bytes, many '@'
// (0x40, common in machine code) and, every few kilobytes, a partial signature ("@Wln"
// followed by other bytes). Never contains the whole signature.
std::vector<uint8_t> ExecutableLikeBytes(size_t size, uint32_t seed);

// A plain (descrambled) image of size bytes: pseudo-random content, the six characters of
// modelCode at offset 0xFF0 of its last 4096-byte block and trailerRest (up to ten bytes)
// after them. size must be a multiple of 4096.
std::vector<uint8_t> MakePlainImage(uint32_t size, std::string_view modelCode, uint32_t seed = 1,
                                    std::string_view trailerRest = "0123456789");

// Everything that goes into a container file, in file order: prefix, header, loader,
// stored image, suffix. The header fields default to what makes a well-formed container.
struct ContainerParts {
    std::vector<uint8_t> prefix;       // the executable part before the signature
    std::vector<uint8_t> loader;
    std::vector<uint8_t> storedImage;  // already scrambled
    std::vector<uint8_t> suffix;       // bytes after the image (belong to the image for the reader)
    std::optional<uint32_t> loaderLength;  // default loader.size()
    std::optional<uint32_t> imageLength;   // default storedImage.size() + suffix.size()
    std::optional<uint32_t> byteSum;       // default: sum over the loaderLength + imageLength bytes
};

// A well-formed container for plainImage (scrambled here) with the given loader.
ContainerParts MakeContainerParts(const std::vector<uint8_t>& plainImage, std::vector<uint8_t> loader,
                                  std::vector<uint8_t> prefix = {});

// The 20 header bytes: signature, loaderLength, imageLength, byteSum (little-endian).
std::vector<uint8_t> ContainerHeader(uint32_t loaderLength, uint32_t imageLength, uint32_t byteSum);
// The eight signature bytes.
std::vector<uint8_t> SignatureBytes();

// The whole file content.
std::vector<uint8_t> BuildContainerFile(const ContainerParts& parts);

// Writes bytes to path (created or truncated); false when that fails.
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// BuildContainerFile written to path.
bool WriteContainerFile(const std::string& path, const ContainerParts& parts);

}  // namespace quorsel::testing
