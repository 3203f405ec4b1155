// Runs a shell command for end-to-end tests and collects what it printed.
#pragma once

#include <string>

namespace quorsel::testing {

struct CommandResult {
    int exitStatus = -1;  // the command's exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `bash -c script` with the given standard input, waits for it to end.
CommandResult RunShell(const std::string& script, const std::string& input = "");

// Quotes text for a shell command line.
std::string ShellQuote(const std::string& text);

}  // namespace quorsel::testing
