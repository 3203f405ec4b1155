// The process's own command line and executable on a POSIX system.
#include "app/process_posix.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace quorsel {
namespace {

constexpr size_t EXECUTABLE_PATH_INITIAL = 256;
constexpr size_t EXECUTABLE_PATH_MAX = 1 << 16;

// The program path as the parser reads it back. A quoted path ends at the next
// double quote, so a name holding one goes unquoted, which the parser takes up to
// the first space, control or high byte. A name that fits neither form (a quote
// together with such a byte, or a leading quote) loses its quotes; the container
// is read from the running executable then, not from this path.
std::string ProgramPathText(const std::string& program) {
    const bool hasQuote = program.find('"') != std::string::npos;
    if (!hasQuote) return '"' + program + '"';
    const bool bareForm = program.front() != '"' && std::none_of(program.begin(), program.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte >= 0x80;
    });
    if (bareForm) return program;
    std::string unquoted;
    for (char c : program) {
        if (c != '"') unquoted += c;
    }
    return '"' + unquoted + '"';
}

}  // namespace

std::string CommandLineFromArguments(int argc, const char* const* argv) {
    std::string text =
        ProgramPathText(argc > 0 && argv != nullptr && argv[0] != nullptr ? std::string(argv[0]) : std::string());
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
