// The command-line parser and the dotted-address parser on arbitrary bytes. Besides
// not crashing, what they accept must be a job the run can carry out: a LAN job
// with an address text that parses and fits, a serial job on COM1..COM4 at a known
// speed, and region 0 never together with regions 1 to 5.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "job/command_line.h"
#include "tests/fuzz/fuzz_input.h"

namespace quorsel::fuzzing {
namespace {

bool EndsWithExe(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    return tail == ".exe";
}

bool KnownBaudRate(uint32_t rate) {
    return rate == 9600 || rate == 19200 || rate == 38400 || rate == 57600 || rate == 115200;
}

}  // namespace
}  // namespace quorsel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorsel;
    using namespace quorsel::fuzzing;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    UpdateJob job;
    std::string programPath;
    const int result = ParseCommandLine(text, job, programPath);
    FUZZ_CHECK(result == COMMAND_LINE_INVALID || result == COMMAND_LINE_ASK || result == COMMAND_LINE_COMPLETE);
    FUZZ_CHECK(EndsWithExe(programPath));
    FUZZ_CHECK(programPath.size() <= size + 4);
    if (result != COMMAND_LINE_INVALID) {
        FUZZ_CHECK(programPath.size() <= PROGRAM_PATH_MAX);
        const bool regionZero = (job.optionFlags & 0x0001) != 0;
        FUZZ_CHECK(!regionZero || (job.optionFlags & 0x003E) == 0);
        FUZZ_CHECK((job.optionFlags & ~(OPTION_REGION_MASK | OPTION_SKIP_MODEL_CHECK)) == 0);
    }
    if (result == COMMAND_LINE_COMPLETE) {
        if (job.transport == TRANSPORT_LAN) {
            std::array<uint8_t, 4> address{};
            FUZZ_CHECK(job.addressText.size() <= ADDRESS_TEXT_MAX);
            FUZZ_CHECK(ParseDottedAddress(job.addressText, address));
            FUZZ_CHECK((job.optionFlags & 0x0001) == 0);
        } else {
            FUZZ_CHECK(job.transport == TRANSPORT_SERIAL);
            FUZZ_CHECK(job.comIndex < 4);
            FUZZ_CHECK(KnownBaudRate(job.baudRate));
        }
    }

    // The address parser alone: an accepted text gives four parts that print back
    // to an address the parser accepts again with the same value.
    std::array<uint8_t, 4> address{};
    if (ParseDottedAddress(text, address)) {
        const std::string printed = std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
                                    std::to_string(address[2]) + "." + std::to_string(address[3]);
        std::array<uint8_t, 4> again{};
        FUZZ_CHECK(ParseDottedAddress(printed, again));
        FUZZ_CHECK(again == address);
    }
    return 0;
}
