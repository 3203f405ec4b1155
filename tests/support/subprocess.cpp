#include "tests/support/subprocess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace quorsel::testing {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

CommandResult RunShell(const std::string& script, const std::string& input) {
    TempDir dir;
    std::string in = dir.path() + "/stdin", out = dir.path() + "/stdout", err = dir.path() + "/stderr";
    std::ofstream(in, std::ios::binary) << input;
    std::string command = "bash -c " + ShellQuote(script) + " <" + ShellQuote(in) + " >" + ShellQuote(out) +
                          " 2>" + ShellQuote(err);
    int status = std::system(command.c_str());
    CommandResult result;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
    result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
}

}  // namespace quorsel::testing
