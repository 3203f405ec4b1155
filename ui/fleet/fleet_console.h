// The console the fleet command runs in: is it a terminal, the password without
// echo, a yes/no question, and every way of being told to stop (Ctrl-C, SIGTERM,
// SIGHUP; on Windows also closing the console) handed to the fleet instead of
// ending the program. A closed or broken standard output never ends the program.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorsel {

// Windows ends a process about 5 s after its console is closed, or at log-off or
// shut-down. The console's handler keeps the process alive until Finished(), at most
// this long, so that the report is written first.
constexpr std::chrono::milliseconds CONSOLE_CLOSE_WAIT_MAX{4500};

class FleetConsole {
public:
    // On POSIX, construct it before any other thread starts: the stop signals are
    // blocked here so that every later thread inherits the mask, and one thread of
    // the console's own takes them.
    FleetConsole();
    ~FleetConsole();
    FleetConsole(const FleetConsole&) = delete;
    FleetConsole& operator=(const FleetConsole&) = delete;

    // Standard output is a terminal that takes cursor movement (the live table).
    bool OutputIsTerminal() const;
    // Standard input is a terminal (a console on Windows): only then does the fleet ask.
    bool InputIsTerminal() const;
    // The terminal's size in character cells; zeros when it is not known.
    struct Size {
        size_t columns = 0;
        size_t rows = 0;
    };
    Size TerminalSize() const;
    // One line, UTF-8: typed without echo on a terminal, else read from standard
    // input. nullopt at end of input or when a stop signal arrives.
    std::optional<std::string> ReadPassword(const char* prompt);
    // A yes/no question on a terminal: true for an answer IsYesAnswer takes, false for
    // any other and for a stop (Ctrl-C) at the question. nullopt when standard input
    // is not a terminal or at end of input.
    std::optional<bool> Confirm(const char* prompt);
    // From now on a stop (Ctrl-C, SIGINT, SIGTERM, SIGHUP; Ctrl-Break or closing the
    // console on Windows) calls handler, on a thread that is not the caller's. An
    // empty handler function does nothing on a stop; until a handler is given, a
    // stop outside a prompt ends the program at once (nothing has been contacted).
    void OnInterrupt(std::function<void()> handler);
    // The final report is written: a console that is being closed may let the
    // process end now.
    void Finished();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// y, yes (any case) and はい, with blanks around them; anything else is no.
bool IsYesAnswer(const std::string& answer);

// ISO 8601 with the offset from UTC, "2026-12-09T17:02:03+09:00".
std::string FormatLocalTimestamp(const std::tm& local, long offsetSeconds);
// The time in this machine's time zone, in that form.
std::string LocalTimestamp(std::chrono::system_clock::time_point time);

}  // namespace quorsel
