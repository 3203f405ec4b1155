// The fleet's console on a POSIX terminal: the terminal front-end's console, with
// a Ctrl-C handler of the fleet's.
#include "ui/fleet/fleet_console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "ui/terminal/console_posix.h"

namespace quorsel {

namespace {

// A shell starts background commands with Ctrl-C ignored, and an ignored signal is
// dropped even while blocked: take it back so that the console's watcher gets it.
bool TakeInterruptSignal() {
    ::signal(SIGINT, SIG_DFL);
    return true;
}

}  // namespace

struct FleetConsole::Impl {
    bool signalTaken = TakeInterruptSignal();
    Console console;
};

FleetConsole::FleetConsole() : impl_(std::make_unique<Impl>()) {}

FleetConsole::~FleetConsole() = default;

bool FleetConsole::OutputIsTerminal() const { return impl_->console.StdoutIsTerminal(); }

FleetConsole::Size FleetConsole::TerminalSize() const {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return Size{};
    return Size{size.ws_col, size.ws_row};
}

std::optional<std::string> FleetConsole::ReadPassword(const char* prompt) {
    if (::isatty(STDIN_FILENO) != 1) return impl_->console.ReadLine();
    std::printf("%s: ", prompt);
    return impl_->console.ReadSecret();
}

std::optional<bool> FleetConsole::Confirm(const char* prompt) {
    if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDOUT_FILENO) != 1) return std::nullopt;
    std::printf("%s [y/N]: ", prompt);
    std::fflush(stdout);
    const std::optional<std::string> answer = impl_->console.ReadLine();
    if (!answer) return std::nullopt;
    return !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

void FleetConsole::OnInterrupt(std::function<void()> handler) {
    impl_->console.SetInterruptHandler(std::move(handler));
}

}  // namespace quorsel
