// The look-ahead of a socket stream: a peek takes the bytes off the socket into it,
// and the receive that follows is served from it, so a reply costs one read of the
// socket instead of a peek and a read. Shared by the POSIX and Windows streams.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/byte_stream.h"
#include "engine/limits.h"

namespace quorsel {

class ReceiveLookAhead {
public:
    // fromSocket(buffer, n) reads at most n bytes from the socket with the stream's bound.
    template <typename FromSocket>
    IoResult Receive(uint8_t* buffer, size_t n, bool peek, FromSocket&& fromSocket) {
        if (n == 0) return {IoStatus::Failed, 0};
        if (count_ == 0) {
            if (!peek) return fromSocket(buffer, n);
            const IoResult got = fromSocket(ahead_.data(), std::min(n, ahead_.size()));
            if (got.status != IoStatus::Data) return got;
            start_ = 0;
            count_ = got.count;
        }
        const size_t count = std::min(n, count_);
        std::memcpy(buffer, ahead_.data() + start_, count);
        if (!peek) {
            start_ += count;
            count_ -= count;
        }
        return {IoStatus::Data, count};
    }

private:
    std::array<uint8_t, REPLY_BUFFER_SIZE> ahead_{};
    size_t start_ = 0;
    size_t count_ = 0;
};

}  // namespace quorsel
