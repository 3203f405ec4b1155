// The console the fleet command runs in: is it a terminal, the password without
// echo, and Ctrl-C handed to the fleet instead of ending the program.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorsel {

class FleetConsole {
public:
    FleetConsole();
    ~FleetConsole();
    FleetConsole(const FleetConsole&) = delete;
    FleetConsole& operator=(const FleetConsole&) = delete;

    // Standard output is a terminal that takes cursor movement (the live table).
    bool OutputIsTerminal() const;
    // The terminal's size in character cells; zeros when it is not known.
    struct Size {
        size_t columns = 0;
        size_t rows = 0;
    };
    Size TerminalSize() const;
    // One line, UTF-8: typed without echo on a terminal, else read from standard
    // input. nullopt at end of input or on Ctrl-C.
    std::optional<std::string> ReadPassword(const char* prompt);
    // A yes or no typed on a terminal; nullopt without a terminal or at end of input.
    std::optional<bool> Confirm(const char* prompt);
    // From now on Ctrl-C calls handler (on a thread of the console's own).
    void OnInterrupt(std::function<void()> handler);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorsel
