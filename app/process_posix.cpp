// The process's own command line and executable on a POSIX system.
#include "app/process_posix.h"

#include <unistd.h>

#include <vector>

namespace quorsel {
namespace {

constexpr size_t EXECUTABLE_PATH_INITIAL = 256;
constexpr size_t EXECUTABLE_PATH_MAX = 1 << 16;

}  // namespace

std::string CommandLineFromArguments(int argc, const char* const* argv) {
    std::string text = "\"";
    if (argc > 0 && argv != nullptr && argv[0] != nullptr) text += argv[0];
    text += '"';
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] == nullptr) break;
        text += ' ';
        text += argv[i];
    }
    return text;
}

std::optional<std::string> RunningExecutablePath() {
    // readlink does not say how long the link is; grow the buffer until it fits.
    for (size_t size = EXECUTABLE_PATH_INITIAL; size <= EXECUTABLE_PATH_MAX; size *= 2) {
        std::vector<char> buffer(size);
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(n));
        }
    }
    return std::nullopt;
}

}  // namespace quorsel
