#include "tools/apsim/range_receiver.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "common/le_bytes.h"

namespace quorsel::apsim {

namespace {

constexpr char HEADER_TAG[] = "_Flash";
constexpr size_t HEADER_TAG_SIZE = 6;
constexpr uint32_t CHECKSUM_MODULUS = 65535;
// Stands in for the stored bytes that a short last block lacks.
constexpr uint8_t PARTIAL_BLOCK_FILL = 0xFF;

}  // namespace

ReceivedHeader ParseRangeHeader(const uint8_t* bytes, size_t size) {
    ReceivedHeader header;
    header.tagValid = std::memcmp(bytes, HEADER_TAG, HEADER_TAG_SIZE) == 0;
    header.checksum = LoadLe16(bytes + 6);
    header.start = LoadLe32(bytes + 8);
    header.length = LoadLe32(bytes + 12);
    if (size >= HEADER_SIZE_NEW) header.passwordDigest = LoadLe32(bytes + 16);
    return header;
}

HeaderVerdict CheckRangeHeader(const ReceivedHeader& header, std::optional<uint32_t> expectedDigest,
                               uint32_t flashSize) {
    if (!header.tagValid) return HeaderVerdict::BadTag;
    if (expectedDigest && header.passwordDigest != expectedDigest) return HeaderVerdict::BadPassword;
    // Compared so that start + length cannot wrap around.
    if (header.start > flashSize || header.length > flashSize - header.start) return HeaderVerdict::OutsideFlash;
    return HeaderVerdict::Accepted;
}

const char* DescribeVerdict(HeaderVerdict verdict) {
    switch (verdict) {
        case HeaderVerdict::Accepted: return "accepted";
        case HeaderVerdict::BadTag: return "rejected: no _Flash tag";
        case HeaderVerdict::BadPassword: return "rejected: wrong password digest";
        case HeaderVerdict::OutsideFlash: return "rejected: range runs past the end of the flash";
    }
    return "?";
}

std::string DescribeHeader(const ReceivedHeader& header) {
    char text[160];
    std::snprintf(text, sizeof text, "tag %s, checksum 0x%04x, start 0x%x, length 0x%x",
                  header.tagValid ? "_Flash" : "invalid", header.checksum, header.start, header.length);
    std::string line(text);
    if (header.passwordDigest) {
        std::snprintf(text, sizeof text, ", digest 0x%x", *header.passwordDigest);
        line += text;
    }
    return line;
}

RangeReceiver::RangeReceiver(const ReceivedHeader& header, DataForm form)
    : header_(header), form_(form), byteSum_(ByteSum32(header.start) + ByteSum32(header.length)) {
    flashBytes_.reserve(header.length);
    // The stored form is descrambled block by block from the range's start on.
    if (form_ == DataForm::Stored) descrambler_.Skip(header.start);
}

size_t RangeReceiver::NextBlockSize() const {
    return Remaining() < BLOCK_SIZE ? Remaining() : BLOCK_SIZE;
}

void RangeReceiver::AddBlock(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) byteSum_ += data[i];
    received_ += static_cast<uint32_t>(n);

    if (form_ == DataForm::Plain) {
        flashBytes_.insert(flashBytes_.end(), data, data + n);
        return;
    }
    // The scrambling moves bytes across the whole block, so a short last block is
    // completed with erased bytes before it is descrambled.
    std::array<uint8_t, BLOCK_SIZE> block;
    block.fill(PARTIAL_BLOCK_FILL);
    std::memcpy(block.data(), data, n);
    if (n < BLOCK_SIZE) paddedPartialBlock_ = true;
    descrambler_.DescrambleBlock(block.data());
    flashBytes_.insert(flashBytes_.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
}

uint16_t RangeReceiver::ComputedChecksum() const {
    return static_cast<uint16_t>(byteSum_ % CHECKSUM_MODULUS);
}

}  // namespace quorsel::apsim
