// Range checksums over stored and descrambled bytes, CRC-16/XMODEM and the password digest.
#include "image/checksums.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/le_bytes.h"
#include "image/byte_sum.h"

namespace quorsel {

namespace {

// Bytes read per call; a multiple of BLOCK_SIZE so whole blocks can be descrambled in place.
constexpr size_t READ_CHUNK = 16 * BLOCK_SIZE;
// Sums are reduced modulo 65535, so 0xFFFF never comes out of a computed sum.
constexpr uint32_t CHECKSUM_MODULUS = 65535;

static_assert(READ_CHUNK % BLOCK_SIZE == 0);

// The sum begins with the four bytes of start and the four bytes of length.
uint32_t StartSum(uint32_t start, uint32_t length) { return ByteSum32(start) + ByteSum32(length); }

uint16_t Reduce(uint32_t sum) { return static_cast<uint16_t>(sum % CHECKSUM_MODULUS); }

constexpr std::array<uint16_t, 256> BuildCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
        }
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> CRC_TABLE = BuildCrcTable();

}  // namespace

uint16_t RawRangeChecksum(FileStream& stream, uint64_t fileOffset, uint32_t start, uint32_t length) {
    // A stream that cannot be positioned would sum the wrong bytes.
    if (!stream.Seek(fileOffset)) {
        return CHECKSUM_FAILED;
    }
    uint32_t sum = StartSum(start, length);
    std::vector<uint8_t> buffer(std::min<size_t>(READ_CHUNK, length));
    uint32_t remaining = length;
    while (remaining > 0) {
        const size_t wanted = std::min<size_t>(remaining, buffer.size());
        const size_t got = stream.Read(buffer.data(), wanted);
        if (got < wanted) {
            return CHECKSUM_FAILED;
        }
        sum = AddBytes(sum, buffer.data(), got);
        remaining -= static_cast<uint32_t>(got);
    }
    return Reduce(sum);
}

uint16_t DescrambledRangeChecksum(FileStream& stream, Descrambler& descrambler, uint64_t fileOffset,
                                  uint32_t start, uint32_t length) {
    if (length % BLOCK_SIZE != 0) {
        return CHECKSUM_FAILED;
    }
    descrambler.Skip(start);
    if (!stream.Seek(fileOffset)) {
        return CHECKSUM_FAILED;
    }
    uint32_t sum = StartSum(start, length);
    std::vector<uint8_t> buffer(std::min<size_t>(READ_CHUNK, length));
    uint32_t remaining = length;
    while (remaining > 0) {
        const size_t wanted = std::min<size_t>(remaining, buffer.size());
        const size_t got = stream.Read(buffer.data(), wanted);
        // Every complete block is descrambled, so a short read leaves the generator
        // standing behind the last whole block, as a block-by-block pass would.
        const size_t whole = got - got % BLOCK_SIZE;
        for (size_t offset = 0; offset < whole; offset += BLOCK_SIZE) {
            descrambler.DescrambleBlock(buffer.data() + offset);
        }
        if (got < wanted) {
            return CHECKSUM_FAILED;
        }
        sum = AddBytes(sum, buffer.data(), got);
        remaining -= static_cast<uint32_t>(got);
    }
    return Reduce(sum);
}

uint16_t Crc16Xmodem(const uint8_t* data, size_t n, uint16_t crc) {
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ CRC_TABLE[((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

uint32_t PasswordDigest(std::string_view passwordCp932) {
    const uint16_t crc = Crc16Xmodem(reinterpret_cast<const uint8_t*>(passwordCp932.data()),
                                     passwordCp932.size());
    // Not reduced to 16 bits: the digest may exceed 0xFFFF.
    return static_cast<uint32_t>(crc) + DIGEST_ADD;
}

}  // namespace quorsel
