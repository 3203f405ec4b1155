#include "tests/support/container_builder.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/le_bytes.h"
#include "image/descrambler.h"

namespace quorsel::testing {

namespace {

// Two halves, the first read through a volatile object, so that the eight signature
// bytes do not stand together in a test binary either (some tests use the bytes of a
// built executable as a container's prefix).
const volatile uint32_t SIGNATURE_FIRST = 0x6E6C5740;  // "@Wln"
constexpr uint32_t SIGNATURE_SECOND = 0x40706124;      // "$ap@"

constexpr size_t HEADER_SIZE = 20;
constexpr uint32_t TRAILER_CODE_OFFSET = 0xFF0;

uint32_t NextRandom(uint32_t& state) {
    // xorshift32: fast and good enough for test content.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

uint32_t SumBytes(const std::vector<uint8_t>& bytes, size_t begin, size_t end, uint32_t sum) {
    for (size_t i = begin; i < end && i < bytes.size(); ++i) {
        sum += bytes[i];
    }
    return sum;
}

}  // namespace

void ScrambleBlock(const uint8_t* plain, uint8_t* stored, uint32_t imageOffset) {
    for (size_t r = 0; r < 16; ++r) {
        for (size_t j = 0; j < 256; ++j) {
            const size_t p = 256 * r + j;
            const uint8_t key = Descrambler::KeystreamByte(imageOffset + static_cast<uint32_t>(p));
            stored[256 * ROW[r] + PERM[j]] = static_cast<uint8_t>(plain[p] + key);
        }
    }
}

std::vector<uint8_t> ScrambleImage(const std::vector<uint8_t>& plain, uint32_t imageOffset) {
    std::vector<uint8_t> stored(plain.size());
    for (size_t offset = 0; offset + BLOCK_SIZE <= plain.size(); offset += BLOCK_SIZE) {
        ScrambleBlock(plain.data() + offset, stored.data() + offset,
                      imageOffset + static_cast<uint32_t>(offset));
    }
    return stored;
}

std::vector<uint8_t> PseudoRandomBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed == 0 ? 0x9E3779B9u : seed;
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        StoreLe32(bytes.data() + i, NextRandom(state));
    }
    for (; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(NextRandom(state));
    }
    return bytes;
}

std::vector<uint8_t> ExecutableLikeBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed == 0 ? 0x2545F491u : seed;
    for (size_t i = 0; i < size; ++i) {
        const uint32_t r = NextRandom(state);
        switch (r & 7) {
            case 0:
            case 1:
                bytes[i] = 0x00;
                break;
            case 2:
                bytes[i] = 0x40;
                break;
            default:
                bytes[i] = static_cast<uint8_t>(r >> 8);
                break;
        }
    }
    // A partial signature every 4 KiB: the first half, then a byte that breaks the second.
    for (size_t i = 1000; i + 8 <= size; i += 4096) {
        StoreLe32(bytes.data() + i, SIGNATURE_FIRST);
        StoreLe32(bytes.data() + i + 4, SIGNATURE_SECOND);
        bytes[i + 4 + (i / 4096) % 4] ^= 0x01;
    }
    // Random bytes could in principle form the signature; break any that did.
    const uint32_t first = SIGNATURE_FIRST;
    for (size_t i = 0; i + 8 <= size; ++i) {
        if (LoadLe32(bytes.data() + i) == first && LoadLe32(bytes.data() + i + 4) == SIGNATURE_SECOND) {
            bytes[i + 7] = 0x00;
        }
    }
    return bytes;
}

std::vector<uint8_t> MakePlainImage(uint32_t size, std::string_view modelCode, uint32_t seed,
                                    std::string_view trailerRest) {
    std::vector<uint8_t> image = PseudoRandomBytes(size, seed);
    if (size >= BLOCK_SIZE) {
        uint8_t* trailer = image.data() + size - BLOCK_SIZE;
        const size_t codeLength = std::min<size_t>(modelCode.size(), 6);
        std::copy_n(modelCode.begin(), codeLength, trailer + TRAILER_CODE_OFFSET);
        const size_t restLength = std::min<size_t>(trailerRest.size(), 10);
        std::copy_n(trailerRest.begin(), restLength, trailer + TRAILER_CODE_OFFSET + 6);
    }
    return image;
}

ContainerParts MakeContainerParts(const std::vector<uint8_t>& plainImage, std::vector<uint8_t> loader,
                                  std::vector<uint8_t> prefix) {
    ContainerParts parts;
    parts.prefix = std::move(prefix);
    parts.loader = std::move(loader);
    parts.storedImage = ScrambleImage(plainImage);
    return parts;
}

std::vector<uint8_t> SignatureBytes() {
    std::vector<uint8_t> bytes(8);
    StoreLe32(bytes.data(), SIGNATURE_FIRST);
    StoreLe32(bytes.data() + 4, SIGNATURE_SECOND);
    return bytes;
}

std::vector<uint8_t> ContainerHeader(uint32_t loaderLength, uint32_t imageLength, uint32_t byteSum) {
    std::vector<uint8_t> header = SignatureBytes();
    header.resize(HEADER_SIZE);
    StoreLe32(header.data() + 8, loaderLength);
    StoreLe32(header.data() + 12, imageLength);
    StoreLe32(header.data() + 16, byteSum);
    return header;
}

std::vector<uint8_t> BuildContainerFile(const ContainerParts& parts) {
    std::vector<uint8_t> body;
    body.reserve(parts.loader.size() + parts.storedImage.size() + parts.suffix.size());
    body.insert(body.end(), parts.loader.begin(), parts.loader.end());
    body.insert(body.end(), parts.storedImage.begin(), parts.storedImage.end());
    body.insert(body.end(), parts.suffix.begin(), parts.suffix.end());

    const uint32_t loaderLength = parts.loaderLength.value_or(static_cast<uint32_t>(parts.loader.size()));
    const uint32_t imageLength = parts.imageLength.value_or(
        static_cast<uint32_t>(parts.storedImage.size() + parts.suffix.size()));
    const uint64_t summed = uint64_t{loaderLength} + imageLength;
    const uint32_t byteSum =
        parts.byteSum.value_or(SumBytes(body, 0, static_cast<size_t>(std::min<uint64_t>(summed, body.size())), 0));

    std::vector<uint8_t> file;
    file.reserve(parts.prefix.size() + HEADER_SIZE + body.size());
    file.insert(file.end(), parts.prefix.begin(), parts.prefix.end());
    const std::vector<uint8_t> header = ContainerHeader(loaderLength, imageLength, byteSum);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        return false;
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return false;
    }
    return std::fclose(file.release()) == 0;
}

bool WriteContainerFile(const std::string& path, const ContainerParts& parts) {
    return WriteBytes(path, BuildContainerFile(parts));
}

}  // namespace quorsel::testing
