// Starting and ending the simulator process through fork, exec, pipes and waitpid.
#include "tests/support/apsim_process.h"
#include "tests/support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorsel::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds PORT_LINE_WAIT{10000};
constexpr size_t PORT_LINE_MAX = 256;


// Reads the first line the child prints, waiting at most PORT_LINE_WAIT.
std::optional<std::string> ReadFirstLine(int fd) {
    std::string line;
    const auto deadline = Clock::now() + PORT_LINE_WAIT;
    while (line.size() < PORT_LINE_MAX) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char c = 0;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        if (c == '\n') return line;
        line += c;
    }
    return std::nullopt;
}

}  // namespace

std::string ApSimBinary() { return std::string(QUORSEL_BUILD_DIR) + "/quorsel-apsim"; }

ApSimProcess::~ApSimProcess() { Kill(); }

bool ApSimProcess::Start(const std::vector<std::string>& args, const std::string& logPath) {
    std::vector<std::string> argv = {ApSimBinary(), "--port", "0"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::optional<std::string> line = Launch(std::move(argv), logPath);
    if (!line) return false;
    unsigned long value = std::strtoul(line->c_str(), nullptr, 10);
    if (value == 0 || value > UINT16_MAX) {
        Kill();
        return false;
    }
    port_ = static_cast<uint16_t>(value);
    return true;
}

bool ApSimProcess::StartSerial(const std::vector<std::string>& args, const std::string& logPath) {
    std::vector<std::string> argv = {ApSimBinary(), "--serial"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::optional<std::string> line = Launch(std::move(argv), logPath);
    if (!line) return false;
    device_ = *line;
    return true;
}

std::optional<std::string> ApSimProcess::Launch(std::vector<std::string> argv, const std::string& logPath) {
    if (pid_ >= 0) return std::nullopt;
    logPath_ = logPath;
    std::vector<char*> cargv;
    for (std::string& arg : argv) cargv.push_back(arg.data());
    cargv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
    int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return std::nullopt;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        // Child: stdout into the pipe, stderr into the log, stdin from nothing.
        int nullFd = ::open("/dev/null", O_RDONLY);
        if (nullFd >= 0) ::dup2(nullFd, STDIN_FILENO);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(logFd, STDERR_FILENO);
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ::close(logFd);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return std::nullopt;
    }
    pid_ = pid;
    std::optional<std::string> line = ReadFirstLine(pipeFds[0]);
    ::close(pipeFds[0]);
    if (!line || line->empty()) {
        Kill();
        return std::nullopt;
    }
    return line;
}

bool ApSimProcess::Running() { return pid_ >= 0 && !WaitExit(std::chrono::milliseconds(0)).has_value(); }

std::optional<int> ApSimProcess::WaitExit(std::chrono::milliseconds limit) {
    if (exitStatus_) return exitStatus_;
    if (pid_ < 0) return std::nullopt;
    exitStatus_ = ReapWithin(pid_, limit);
    if (exitStatus_) pid_ = -1;
    return exitStatus_;
}

int ApSimProcess::Stop(std::chrono::milliseconds limit) {
    if (exitStatus_) return *exitStatus_;
    if (pid_ < 0) return -1;
    ::kill(pid_, SIGTERM);
    if (std::optional<int> status = WaitExit(limit)) return *status;
    Kill();
    return -1;
}

void ApSimProcess::Kill() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string ApSimProcess::Log() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace quorsel::testing
