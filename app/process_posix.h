// The process's own command line and executable on a POSIX system.
#pragma once

#include <optional>
#include <string>

namespace quorsel {

// The command-line text the parser reads, built from main's arguments: argv[0] in
// double quotes (unquoted when it holds a double quote itself, so that the parser
// still finds the arguments), then the other arguments, each after one space. A
// missing argv[0] gives an empty quoted path.
std::string CommandLineFromArguments(int argc, const char* const* argv);

// The path of the running executable (/proc/self/exe); nullopt when it cannot be read.
std::optional<std::string> RunningExecutablePath();

}  // namespace quorsel
