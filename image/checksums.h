// Range checksums, CRC-16/XMODEM and the password digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/descrambler.h"
#include "image/file_stream.h"

namespace quorsel {

// A checksum that could not be computed; no computed checksum has this value.
constexpr uint16_t CHECKSUM_FAILED = 0xFFFF;
constexpr uint32_t DIGEST_ADD = 0x5d1b;

// Sum of the stored bytes of a range (plus its start and length bytes), modulo 65535.
uint16_t RawRangeChecksum(FileStream& stream, uint64_t fileOffset, uint32_t start, uint32_t length);
// The same over the descrambled bytes; length must be a multiple of 4096.
uint16_t DescrambledRangeChecksum(FileStream& stream, Descrambler& descrambler, uint64_t fileOffset,
                                  uint32_t start, uint32_t length);

// CRC-16/XMODEM: polynomial 0x1021, initial value given (0 for a fresh CRC), MSB first.
uint16_t Crc16Xmodem(const uint8_t* data, size_t n, uint16_t crc = 0);

// CRC-16/XMODEM of the password bytes (code page 932) plus DIGEST_ADD, not reduced.
uint32_t PasswordDigest(std::string_view passwordCp932);

}  // namespace quorsel
