// The access point's side of one range: checking the range header it is given, and
// collecting the range's data, checksumming it and turning it into flash bytes.
// Independent of the transport, so the LAN service and a serial loader share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/descrambler.h"

namespace quorsel::apsim {

constexpr size_t HEADER_SIZE_NEW = 20;  // with the password digest
constexpr size_t HEADER_SIZE_OLD = 16;

// What a received range header says; the fields are read little-endian.
struct ReceivedHeader {
    bool tagValid = false;  // the first six bytes are "_Flash"
    uint16_t checksum = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    std::optional<uint32_t> passwordDigest;  // 20-byte form only
};

// size is HEADER_SIZE_NEW or HEADER_SIZE_OLD.
ReceivedHeader ParseRangeHeader(const uint8_t* bytes, size_t size);

enum class HeaderVerdict {
    Accepted,
    BadTag,        // not "_Flash"
    BadPassword,   // the digest differs from the configured password's
    OutsideFlash,  // start + length runs past the end of the flash
};

// expectedDigest is set for access points that check a password.
HeaderVerdict CheckRangeHeader(const ReceivedHeader& header, std::optional<uint32_t> expectedDigest,
                               uint32_t flashSize);

const char* DescribeVerdict(HeaderVerdict verdict);

// One line with the header's fields, for the log.
std::string DescribeHeader(const ReceivedHeader& header);

// How the range's bytes arrive.
enum class DataForm {
    Stored,  // as stored in the image (scrambled): descrambled here, checksum over stored bytes
    Plain,   // already descrambled: checksum over these bytes
};

// Collects the bytes of one accepted range in blocks and yields its flash contents.
class RangeReceiver {
public:
    RangeReceiver(const ReceivedHeader& header, DataForm form);

    uint32_t Remaining() const { return header_.length - received_; }
    // Size of the next block to expect: 4096, or what is left when less.
    size_t NextBlockSize() const;
    // Adds one block of NextBlockSize() bytes.
    void AddBlock(const uint8_t* data, size_t n);

    // The checksum of what was received, as the sender computes it for the header.
    uint16_t ComputedChecksum() const;
    bool ChecksumMatches() const { return ComputedChecksum() == header_.checksum; }
    // True when the last block was shorter than a whole block of the stored form; its
    // missing stored bytes were taken as erased bytes for descrambling.
    bool PaddedPartialBlock() const { return paddedPartialBlock_; }

    // The bytes to write at the range's start.
    const std::vector<uint8_t>& FlashBytes() const { return flashBytes_; }

private:
    ReceivedHeader header_;
    DataForm form_;
    Descrambler descrambler_;
    uint32_t received_ = 0;
    uint32_t byteSum_ = 0;
    bool paddedPartialBlock_ = false;
    std::vector<uint8_t> flashBytes_;
};

}  // namespace quorsel::apsim
