// Reads the access point's reply lines (ended by LF or NUL) from a byte stream,
// however the lines are split over or merged into segments.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "engine/byte_stream.h"
#include "engine/limits.h"

namespace quorsel {

enum class ReadFailure {
    None,
    Closed,    // the peer's data ended with nothing buffered
    TimedOut,  // no byte for the whole read bound
    Error,     // the socket reported an error, or a receive after a peek got nothing
    TooLong,   // more than REPLY_BUFFER_SIZE bytes without a line end
};

const char* DescribeReadFailure(ReadFailure failure);

class ReplyReader {
public:
    explicit ReplyReader(std::chrono::milliseconds readTimeout) : readTimeout_(readTimeout) {}

    // Empties the buffer; called after each connect.
    void Reset() { fill_ = 0; }
    // One reply line without its end byte (a CR before the LF stays), or a failure.
    // A line of up to REPLY_BUFFER_SIZE bytes is handed out whole; a longer one fails
    // with TooLong. When the peer's data ends, the bytes still buffered are the line.
    ReadFailure ReadLine(ByteStream& stream, std::string& line) { return ReadLine(stream, line, readTimeout_); }
    // The same with a bound of its own for this line (a reply that waits on flash work).
    ReadFailure ReadLine(ByteStream& stream, std::string& line, std::chrono::milliseconds timeout);

    std::chrono::milliseconds readTimeout() const { return readTimeout_; }
    // Bytes received but not yet handed out.
    uint32_t buffered() const { return fill_; }

private:
    void TakeLine(uint32_t length, uint32_t endBytes, std::string& line);

    std::chrono::milliseconds readTimeout_;
    std::array<uint8_t, REPLY_BUFFER_SIZE + 1> buffer_{};
    uint32_t fill_ = 0;
};

}  // namespace quorsel
