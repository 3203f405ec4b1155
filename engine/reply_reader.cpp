#include "engine/reply_reader.h"

#include <cstring>

namespace quorsel {

namespace {

bool IsLineEnd(uint8_t byte) { return byte == '\n' || byte == '\0'; }

}  // namespace

const char* DescribeReadFailure(ReadFailure failure) {
    switch (failure) {
        case ReadFailure::None: return "no failure";
        case ReadFailure::Closed: return "the connection ended without a reply";
        case ReadFailure::TimedOut: return "no byte arrived within the wait";
        case ReadFailure::Error: return "the connection reported an error";
        case ReadFailure::TooLong: return "the reply line is longer than 1024 bytes";
    }
    return "unknown failure";
}

// Hands out the first `length` buffered bytes as the line and drops them together
// with the `endBytes` line-end bytes that follow them.
void ReplyReader::TakeLine(uint32_t length, uint32_t endBytes, std::string& line) {
    line.assign(reinterpret_cast<const char*>(buffer_.data()), length);
    const uint32_t consumed = length + endBytes;
    const uint32_t rest = fill_ > consumed ? fill_ - consumed : 0;
    if (rest > 0) std::memmove(buffer_.data(), buffer_.data() + consumed, rest);
    fill_ = rest;
}

ReadFailure ReplyReader::ReadLine(ByteStream& stream, std::string& line, std::chrono::milliseconds timeout) {
    line.clear();
    for (;;) {
        for (uint32_t k = 0; k < fill_; ++k) {
            if (IsLineEnd(buffer_[k])) {
                TakeLine(k, 1, line);
                return ReadFailure::None;
            }
        }

        // A full buffer without a line end: the line fits only if its end byte is
        // the very next one. Look at that byte alone, in the terminator slot.
        const bool full = fill_ == REPLY_BUFFER_SIZE;
        uint8_t* freePart = buffer_.data() + fill_;
        const size_t freeSize = full ? 1 : REPLY_BUFFER_SIZE - fill_;

        uint32_t emptyPeeks = 0;
        IoResult peeked{IoStatus::Closed, 0};
        for (;;) {
            peeked = stream.Receive(freePart, freeSize, true, timeout);
            if (peeked.status != IoStatus::Closed) break;
            // The peer's data has ended once enough empty peeks come in a row.
            if (++emptyPeeks >= EMPTY_PEEK_LIMIT) {
                if (fill_ == 0) return ReadFailure::Closed;
                TakeLine(fill_, 0, line);
                return ReadFailure::None;
            }
        }
        if (peeked.status == IoStatus::TimedOut) return ReadFailure::TimedOut;
        if (peeked.status == IoStatus::Failed || peeked.count == 0) return ReadFailure::Error;

        if (full) {
            if (!IsLineEnd(*freePart)) {
                fill_ = 0;
                return ReadFailure::TooLong;
            }
            // Take the end byte off the stream; the 1024 buffered bytes are the line.
            const IoResult received = stream.Receive(freePart, 1, false, timeout);
            if (received.status == IoStatus::TimedOut) return ReadFailure::TimedOut;
            if (received.status != IoStatus::Data || received.count != 1) return ReadFailure::Error;
            TakeLine(fill_, 0, line);
            return ReadFailure::None;
        }

        const IoResult received = stream.Receive(freePart, freeSize, false, timeout);
        if (received.status == IoStatus::TimedOut) return ReadFailure::TimedOut;
        if (received.status != IoStatus::Data || received.count == 0 || received.count > freeSize) {
            return ReadFailure::Error;
        }
        fill_ += static_cast<uint32_t>(received.count);
    }
}

}  // namespace quorsel
