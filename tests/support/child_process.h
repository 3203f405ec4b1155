// Test support: a program run as a child process in a session of its own (so it has
// no controlling terminal), with its standard input given as bytes and its standard
// output and error collected in files that can be read while it runs. Lets a test
// watch what the program prints and send it a signal at the right moment.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quorsel::testing {

// Waits at most limit for the child pid to end and reaps it: its exit status (128 +
// signal when a signal ended it), or nothing while it still runs.
std::optional<int> ReapWithin(int pid, std::chrono::milliseconds limit);

struct ChildSpec {
    std::vector<std::string> argv;      // argv[0] is the program's path
    std::vector<std::string> setEnv;    // "NAME=value", on top of the test's environment
    std::vector<std::string> unsetEnv;  // names removed from it
    std::string input;                  // all of standard input; then end of input
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // a child still running is killed and reaped
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const ChildSpec& launch);

    // Standard output and error so far.
    std::string Out() const;
    std::string Err() const;
    // Waits until standard output holds text; false when the child ended or limit
    // passed first.
    bool WaitForOut(const std::string& text, std::chrono::milliseconds limit);

    void Signal(int signal);
    // The exit status (128 + signal when a signal ended it), or nothing while the
    // child still runs after limit.
    std::optional<int> Wait(std::chrono::milliseconds limit);

private:
    void Kill();

    TempDir dir_;
    int pid_ = -1;
    std::optional<int> exitStatus_;
};

// A program run on a pseudo-terminal, as a user at a terminal runs it: in a session
// of its own with the terminal as its controlling terminal and as its standard
// input, output and error. The test types into the terminal (Ctrl-C as "\x03" makes
// the terminal send SIGINT, Ctrl-D "\x04" ends the input at the start of a line)
// and reads what appears on it.
class TerminalProcess {
public:
    TerminalProcess() = default;
    ~TerminalProcess();  // a child still running is killed and reaped
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // launch.input is not used: input is typed.
    bool Start(const ChildSpec& launch);
    bool Type(const std::string& keys);
    // Everything the terminal has shown so far (input echoed by the terminal too).
    std::string Screen();
    // Waits until text has appeared `times` times; false when the child ended or
    // limit passed first.
    bool WaitForScreen(const std::string& text, std::chrono::milliseconds limit, size_t times = 1);
    // Waits until the terminal no longer echoes what is typed (a password prompt).
    bool WaitForEchoOff(std::chrono::milliseconds limit);
    bool Running();
    // The exit status (128 + signal when a signal ended it), or nothing while the
    // child still runs after limit.
    std::optional<int> Wait(std::chrono::milliseconds limit);

private:
    void Drain();

    int master_ = -1;
    int slave_ = -1;  // held open so that the output stays readable after the child ends
    int pid_ = -1;
    std::optional<int> exitStatus_;
    std::string screen_;
};

// Runs a child to its end (killed after limit): exit status, output and error.
struct ChildResult {
    int exitStatus = -1;  // -1 when it had to be killed
    std::string out;
    std::string err;
};
ChildResult RunChild(const ChildSpec& launch, std::chrono::milliseconds limit);

}  // namespace quorsel::testing
