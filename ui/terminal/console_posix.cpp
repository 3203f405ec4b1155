#include "ui/terminal/console_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "ui/terminal/terminal_fd_posix.h"

namespace quorsel {
namespace {

// Sent to the watcher thread to make it leave its sigwait loop.
constexpr int STOP_SIGNAL = SIGUSR2;

}  // namespace

Console::Console() : stdoutIsTerminal_(::isatty(STDOUT_FILENO) == 1) {
    if (::pipe(wakePipe_) != 0) {
        wakePipe_[0] = wakePipe_[1] = -1;
    }
    // Ctrl-C is taken by one watcher thread: block it here, before any other
    // thread exists, so every thread inherits the mask.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, STOP_SIGNAL);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this] { WatchInterrupts(); });
}

Console::~Console() {
    pthread_kill(watcher_.native_handle(), STOP_SIGNAL);
    watcher_.join();
    if (wakePipe_[0] >= 0) ::close(wakePipe_[0]);
    if (wakePipe_[1] >= 0) ::close(wakePipe_[1]);
}

void Console::WatchInterrupts() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, STOP_SIGNAL);
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (signal == STOP_SIGNAL) return;
        std::function<void()> handler;
        {
            std::lock_guard<std::mutex> lock(handlerMutex_);
            handler = interruptHandler_;
        }
        if (prompts_ > 0) {
            char byte = 1;
            [[maybe_unused]] ssize_t written = ::write(wakePipe_[1], &byte, 1);
        } else if (handler) {
            handler();
        } else if (!busy_) {
            // Like closing the progress window: the program ends at once.
            std::fputs("\n", stdout);
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(1);
        }
    }
}

void Console::SetInterruptHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    interruptHandler_ = std::move(handler);
}

Console::Wait Console::WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    for (;;) {
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Wait::Closed;
        }
        if (fds[1].revents & POLLIN) {
            char drained[16];
            [[maybe_unused]] ssize_t n = ::read(wakePipe_[0], drained, sizeof drained);
            return Wait::Interrupted;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return Wait::Input;
        if (fds[0].revents & POLLNVAL) return Wait::Closed;
    }
}

Console::PromptScope::PromptScope(Console& console) : console_(console) {
    if (console_.prompts_++ == 0) {
        // A Ctrl-C left over from an earlier prompt must not cancel this one.
        pollfd wake{console_.wakePipe_[0], POLLIN, 0};
        while (::poll(&wake, 1, 0) > 0 && (wake.revents & POLLIN)) {
            char drained[16];
            if (::read(console_.wakePipe_[0], drained, sizeof drained) <= 0) break;
        }
    }
}

Console::PromptScope::~PromptScope() { --console_.prompts_; }

std::optional<std::string> Console::ReadLineFrom(int fd, std::string& pending) {
    PromptScope prompt(*this);
    std::optional<std::string> line;
    for (;;) {
        size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            break;
        }
        if (WaitReadable(fd) != Wait::Input) break;
        char chunk[256];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;  // end of input: an unfinished line counts as cancelled
        pending.append(chunk, static_cast<size_t>(n));
    }
    if (line && !line->empty() && line->back() == '\r') line->pop_back();
    return line;
}

std::optional<std::string> Console::ReadLine() {
    std::fflush(stdout);
    std::optional<std::string> line = ReadLineFrom(STDIN_FILENO, stdinPending_);
    // Typed input ends its own line on screen; piped input does not.
    if (!line || ::isatty(STDIN_FILENO) != 1) std::fputs("\n", stdout);
    return line;
}

std::optional<std::string> Console::ReadSecret() {
    std::fflush(stdout);
    OwnedFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (tty.get() < 0) return ReadLine();
    std::string pending;
    std::optional<std::string> line;
    {
        EchoOff quiet(tty.get());
        line = ReadLineFrom(tty.get(), pending);
    }
    std::fputs("\n", stdout);  // the user's Enter was not echoed
    return line;
}

bool Console::WaitForEvent(int eventFd) {
    PromptScope prompt(*this);
    return WaitReadable(eventFd) == Wait::Input;
}

}  // namespace quorsel
