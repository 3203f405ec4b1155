// Child processes through fork, setsid, execve and waitpid.
#include "tests/support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace quorsel::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds REAP_POLL{5};
constexpr std::chrono::milliseconds OUTPUT_POLL{10};

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool NameIs(const std::string& entry, const std::string& name) {
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=';
}

// The test's environment less unsetEnv and the names setEnv replaces, plus setEnv.
std::vector<std::string> ChildEnvironment(const ChildSpec& launch) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        bool drop = false;
        for (const std::string& name : launch.unsetEnv) drop = drop || NameIs(text, name);
        for (const std::string& set : launch.setEnv) drop = drop || NameIs(text, set.substr(0, set.find('=')));
        if (!drop) env.push_back(std::move(text));
    }
    env.insert(env.end(), launch.setEnv.begin(), launch.setEnv.end());
    return env;
}

}  // namespace

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const ChildSpec& launch) {
    if (pid_ >= 0 || launch.argv.empty()) return false;
    const std::string inPath = dir_.File("stdin"), outPath = dir_.File("stdout"), errPath = dir_.File("stderr");
    {
        std::ofstream in(inPath, std::ios::binary);
        in << launch.input;
        if (!in) return false;
    }
    // Everything the child needs is prepared before fork.
    std::vector<std::string> argv = launch.argv;
    std::vector<std::string> env = ChildEnvironment(launch);
    std::vector<char*> cargv, cenv;
    for (std::string& arg : argv) cargv.push_back(arg.data());
    cargv.push_back(nullptr);
    for (std::string& entry : env) cenv.push_back(entry.data());
    cenv.push_back(nullptr);

    const int inFd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t pid = -1;
    if (inFd >= 0 && outFd >= 0 && errFd >= 0) pid = ::fork();
    if (pid == 0) {
        // A session of its own: no controlling terminal, and its own process group.
        ::setsid();
        ::dup2(inFd, STDIN_FILENO);
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        // Signals the test runner blocks or ignores are the defaults again.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(cargv[0], cargv.data(), cenv.data());
        ::_exit(127);
    }
    for (int fd : {inFd, outFd, errFd}) {
        if (fd >= 0) ::close(fd);
    }
    if (pid < 0) return false;
    pid_ = pid;
    return true;
}

std::string ChildProcess::Out() const { return Slurp(dir_.File("stdout")); }
std::string ChildProcess::Err() const { return Slurp(dir_.File("stderr")); }

bool ChildProcess::WaitForOut(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (Out().find(text) != std::string::npos) return true;
        if (Wait(std::chrono::milliseconds(0)).has_value() || Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(OUTPUT_POLL);
    }
}

std::optional<int> ReapWithin(int pid, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return StatusOf(status);
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(REAP_POLL);
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ >= 0) ::kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    if (exitStatus_) return exitStatus_;
    if (pid_ < 0) return std::nullopt;
    exitStatus_ = ReapWithin(pid_, limit);
    if (exitStatus_) pid_ = -1;
    return exitStatus_;
}

void ChildProcess::Kill() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

TerminalProcess::~TerminalProcess() {
    if (pid_ >= 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
}

bool TerminalProcess::Start(const ChildSpec& launch) {
    if (pid_ >= 0 || master_ >= 0 || launch.argv.empty()) return false;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return false;
    const char* name = ::ptsname(master_);
    if (name == nullptr) return false;
    const std::string slavePath = name;
    slave_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return false;
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);

    std::vector<std::string> argv = launch.argv;
    std::vector<std::string> env = ChildEnvironment(launch);
    std::vector<char*> cargv, cenv;
    for (std::string& arg : argv) cargv.push_back(arg.data());
    cargv.push_back(nullptr);
    for (std::string& entry : env) cenv.push_back(entry.data());
    cenv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // A new session whose controlling terminal is the pseudo-terminal: opened
        // without O_NOCTTY by the session leader, it becomes that.
        ::setsid();
        const int terminal = ::open(slavePath.c_str(), O_RDWR);
        if (terminal < 0) ::_exit(127);
        ::ioctl(terminal, TIOCSCTTY, 0);
        ::dup2(terminal, STDIN_FILENO);
        ::dup2(terminal, STDOUT_FILENO);
        ::dup2(terminal, STDERR_FILENO);
        if (terminal > STDERR_FILENO) ::close(terminal);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(cargv[0], cargv.data(), cenv.data());
        ::_exit(127);
    }
    if (pid < 0) return false;
    pid_ = pid;
    return true;
}

void TerminalProcess::Drain() {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n > 0) {
            screen_.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;  // nothing more for now (EAGAIN)
    }
}

bool TerminalProcess::Type(const std::string& keys) {
    size_t done = 0;
    while (done < keys.size()) {
        const ssize_t n = ::write(master_, keys.data() + done, keys.size() - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            Drain();
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string TerminalProcess::Screen() {
    if (master_ >= 0) Drain();
    return screen_;
}

bool TerminalProcess::WaitForScreen(const std::string& text, std::chrono::milliseconds limit, size_t times) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const std::string screen = Screen();
        size_t found = 0;
        for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + text.size())) ++found;
        if (found >= times) return true;
        if (!Running() || Clock::now() >= deadline) {
            // The child may have printed it just before it ended.
            return false;
        }
        pollfd readable{master_, POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(OUTPUT_POLL.count()));
    }
}

bool TerminalProcess::WaitForEchoOff(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        termios settings{};
        if (::tcgetattr(slave_, &settings) == 0 && (settings.c_lflag & ECHO) == 0) return true;
        if (!Running() || Clock::now() >= deadline) return false;
        Drain();
        std::this_thread::sleep_for(REAP_POLL);
    }
}

bool TerminalProcess::Running() { return pid_ >= 0 && !Wait(std::chrono::milliseconds(0)).has_value(); }

std::optional<int> TerminalProcess::Wait(std::chrono::milliseconds limit) {
    if (exitStatus_) return exitStatus_;
    if (pid_ < 0) return std::nullopt;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        Drain();  // a child blocked on a full terminal could not end
        exitStatus_ = ReapWithin(pid_, std::chrono::milliseconds(0));
        if (exitStatus_) {
            pid_ = -1;
            Drain();
            return exitStatus_;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(REAP_POLL);
    }
}

ChildResult RunChild(const ChildSpec& launch, std::chrono::milliseconds limit) {
    ChildProcess child;
    ChildResult result;
    if (!child.Start(launch)) return result;
    std::optional<int> status = child.Wait(limit);
    result.exitStatus = status.value_or(-1);
    result.out = child.Out();
    result.err = child.Err();
    return result;
}

}  // namespace quorsel::testing
