// The fleet's console on POSIX. SIGINT, SIGTERM and SIGHUP are blocked in every
// thread and taken by one watcher thread with sigwait, so no signal handler runs
// and no other thread's call is interrupted; the watcher calls the fleet's stop and
// wakes a prompt through a pipe. SIGPIPE is ignored: a write to a pipe whose reader
// has gone fails, and the table stops writing there.
#include "ui/fleet/fleet_console.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "job/exit_status.h"
#include "res/texts.h"
#include "ui/terminal/terminal_fd_posix.h"

namespace quorsel {

namespace {

// Sent to the watcher thread to make it leave its sigwait loop.
constexpr int WATCHER_END_SIGNAL = SIGUSR2;
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t READ_CHUNK = 256;

// A standard descriptor that is closed would be handed to the next socket or file
// opened, and the table's lines would go there: give it /dev/null instead.
void KeepStandardDescriptorsOpen() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int opened = ::open("/dev/null", O_RDWR);  // the lowest free number: fd
            if (opened > STDERR_FILENO) ::close(opened);
        }
    }
}

// A shell starts background commands with SIGINT ignored, and an ignored signal is
// dropped even while blocked: take SIGINT and SIGTERM back so that the watcher gets
// them. A SIGHUP ignored on purpose (nohup) stays ignored.
sigset_t TakeStopSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGINT, SIG_DFL);
    struct sigaction term {};
    if (::sigaction(SIGTERM, nullptr, &term) == 0 && term.sa_handler == SIG_IGN) ::signal(SIGTERM, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    for (int signal : STOP_SIGNALS) sigaddset(&set, signal);
    sigaddset(&set, WATCHER_END_SIGNAL);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

}  // namespace

struct FleetConsole::Impl {
    Impl() {
        KeepStandardDescriptorsOpen();
        outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
        if (::pipe(wake) != 0) wake[0] = wake[1] = -1;
        signals = TakeStopSignals();
        watcher = std::thread([this] { Watch(); });
    }
    ~Impl() {
        pthread_kill(watcher.native_handle(), WATCHER_END_SIGNAL);
        watcher.join();
        if (wake[0] >= 0) ::close(wake[0]);
        if (wake[1] >= 0) ::close(wake[1]);
    }

    void Watch() {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            if (signal == WATCHER_END_SIGNAL) return;
            // Held while the handler runs: once OnInterrupt has replaced it, the old
            // one is not running and whatever it refers to may go.
            std::lock_guard<std::mutex> lock(mutex);
            const bool prompting = prompts > 0;
            if (prompting) {
                const char byte = 1;
                [[maybe_unused]] const ssize_t written = ::write(wake[1], &byte, 1);
            }
            if (handler) {
                handler();
            } else if (!prompting) {
                std::fflush(stdout);
                std::_Exit(EXIT_USER_ENDED);
            }
        }
    }

    enum class Wait { Input, Interrupted, Closed };
    Wait WaitReadable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return Wait::Closed;
            }
            if (fds[1].revents & POLLIN) return Wait::Interrupted;
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return Wait::Input;
            if (fds[0].revents & POLLNVAL) return Wait::Closed;
        }
    }

    void DrainWake() {
        pollfd fd{wake[0], POLLIN, 0};
        while (::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN)) {
            char drained[16];
            if (::read(wake[0], drained, sizeof drained) <= 0) break;
        }
    }

    // One line from fd without its line end; nullopt at end of input or on a stop
    // (then *stopped is set).
    std::optional<std::string> ReadLine(int fd, std::string& pending, bool* stopped = nullptr) {
        // A stop left over from before this prompt must not cancel it.
        DrainWake();
        ++prompts;
        std::optional<std::string> line;
        for (;;) {
            const size_t end = pending.find('\n');
            if (end != std::string::npos) {
                line = pending.substr(0, end);
                pending.erase(0, end + 1);
                break;
            }
            const Wait wait = WaitReadable(fd);
            if (wait == Wait::Interrupted && stopped != nullptr) *stopped = true;
            if (wait != Wait::Input) break;
            char chunk[READ_CHUNK];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;  // end of input: an unfinished line counts as no answer
            pending.append(chunk, static_cast<size_t>(n));
        }
        --prompts;
        DrainWake();
        if (line && !line->empty() && line->back() == '\r') line->pop_back();
        return line;
    }

    bool outputIsTerminal = false;
    int wake[2] = {-1, -1};
    sigset_t signals{};
    std::atomic<int> prompts{0};
    std::mutex mutex;
    std::function<void()> handler;
    std::string stdinPending;
    std::thread watcher;
};

FleetConsole::FleetConsole() : impl_(std::make_unique<Impl>()) {}

FleetConsole::~FleetConsole() = default;

bool FleetConsole::OutputIsTerminal() const { return impl_->outputIsTerminal; }
bool FleetConsole::InputIsTerminal() const { return ::isatty(STDIN_FILENO) == 1; }

FleetConsole::Size FleetConsole::TerminalSize() const {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return Size{};
    return Size{size.ws_col, size.ws_row};
}

std::optional<std::string> FleetConsole::ReadPassword(const char* prompt) {
    if (::isatty(STDIN_FILENO) != 1) return impl_->ReadLine(STDIN_FILENO, impl_->stdinPending);
    OwnedFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    std::printf("%s: ", prompt);
    std::fflush(stdout);
    std::optional<std::string> line;
    if (tty.get() < 0) {
        line = impl_->ReadLine(STDIN_FILENO, impl_->stdinPending);
    } else {
        std::string pending;
        EchoOff quiet(tty.get());
        line = impl_->ReadLine(tty.get(), pending);
    }
    std::printf("\n");  // the Enter was not echoed
    std::fflush(stdout);
    return line;
}

std::optional<bool> FleetConsole::Confirm(const char* prompt) {
    if (::isatty(STDIN_FILENO) != 1) return std::nullopt;
    std::printf("%s%s", prompt, TEXT_FLEET_CONFIRM_CHOICES);
    std::fflush(stdout);
    bool stopped = false;
    const std::optional<std::string> answer = impl_->ReadLine(STDIN_FILENO, impl_->stdinPending, &stopped);
    if (!answer) {
        std::printf("\n");
        std::fflush(stdout);
        if (stopped) return false;  // Ctrl-C at the question: no
        return std::nullopt;
    }
    return IsYesAnswer(*answer);
}

void FleetConsole::OnInterrupt(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->handler = std::move(handler);
}

void FleetConsole::Finished() {}  // nothing waits for the report here: no signal ends the process meanwhile

std::string LocalTimestamp(std::chrono::system_clock::time_point time) {
    const time_t seconds = std::chrono::system_clock::to_time_t(time);
    tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return FormatLocalTimestamp(local, 0);
    return FormatLocalTimestamp(local, local.tm_gmtoff);
}

}  // namespace quorsel
