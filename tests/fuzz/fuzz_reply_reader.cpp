// The reply reader fed arbitrary peer bytes in arbitrary segments, empty reads,
// time-outs and errors. Every line it hands out is checked against the bytes it
// took off the stream: lines come out in order, whole, without their end byte,
// never longer than the buffer, and nothing is lost or invented in between.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/reply_reader.h"
#include "tests/fuzz/fuzz_input.h"

namespace quorsel::fuzzing {
namespace {

constexpr int READS_PER_INPUT = 200;

bool IsLineEnd(uint8_t byte) { return byte == '\n' || byte == '\0'; }

}  // namespace
}  // namespace quorsel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorsel;
    using namespace quorsel::fuzzing;

    FuzzInput input(data, size);
    FuzzStream stream(input, SIZE_MAX);
    ReplyReader reader(std::chrono::milliseconds(1));
    size_t handedOut = 0;  // bytes of received() accounted for by lines, their ends and drops

    for (int i = 0; i < READS_PER_INPUT; ++i) {
        std::string line;
        const size_t before = handedOut;
        const ReadFailure failure = reader.ReadLine(stream, line);
        const std::vector<uint8_t>& received = stream.received();
        FUZZ_CHECK(handedOut <= received.size());

        switch (failure) {
            case ReadFailure::None: {
                FUZZ_CHECK(line.size() <= REPLY_BUFFER_SIZE);
                FUZZ_CHECK(before + line.size() <= received.size());
                for (size_t k = 0; k < line.size(); ++k) {
                    FUZZ_CHECK(static_cast<uint8_t>(line[k]) == received[before + k]);
                    FUZZ_CHECK(!IsLineEnd(received[before + k]));
                }
                const size_t after = before + line.size();
                if (after < received.size()) {
                    // A line ended by its end byte, which is dropped with it.
                    FUZZ_CHECK(IsLineEnd(received[after]));
                    handedOut = after + 1;
                } else {
                    // The peer's data ended: the buffered bytes were the line.
                    FUZZ_CHECK(!line.empty());
                    handedOut = after;
                }
                break;
            }
            case ReadFailure::Closed:
                FUZZ_CHECK(before == received.size());
                break;
            case ReadFailure::TooLong:
                // A full buffer without an end byte is dropped whole.
                FUZZ_CHECK(received.size() - before == REPLY_BUFFER_SIZE);
                for (size_t k = before; k < received.size(); ++k) FUZZ_CHECK(!IsLineEnd(received[k]));
                handedOut = received.size();
                break;
            case ReadFailure::TimedOut:
            case ReadFailure::Error:
                break;
        }
        // What was taken off the stream and not handed out is still buffered.
        FUZZ_CHECK(reader.buffered() == received.size() - handedOut);
        if (failure == ReadFailure::Closed && input.empty()) break;
    }
    return 0;
}
