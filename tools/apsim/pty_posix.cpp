// The pseudo-terminal pair and the device link through POSIX calls.
#include "tools/apsim/pty_posix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "tools/apsim/sim_limits.h"
#include "tools/apsim/stop_signal.h"

namespace quorsel::apsim {

namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Milliseconds for one poll: what is left until deadline, rounded up, but never
// longer than a stop-check slice.
int PollSlice(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= std::chrono::milliseconds::zero()) return 0;
    return static_cast<int>(std::min(left, STOP_POLL_SLICE).count());
}

// Waits that are not bounded at all are given as a day; nothing in the simulator
// waits longer.
Clock::time_point DeadlineAfter(std::chrono::milliseconds wait) {
    return Clock::now() + std::min(wait, std::chrono::milliseconds(MILLISECONDS_OPTION_MAX));
}

}  // namespace

const char* DescribePtyStatus(PtyStatus status) {
    switch (status) {
        case PtyStatus::Data: return "data";
        case PtyStatus::TimedOut: return "nothing within the wait";
        case PtyStatus::HungUp: return "the updater closed the line";
        case PtyStatus::Stopped: return "stop requested";
        case PtyStatus::Failed: return "the pseudo-terminal failed";
    }
    return "?";
}

// --- PtyMaster ---

Result<PtyMaster, std::string> PtyMaster::Open() {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Fail(ErrnoText("cannot open a pseudo-terminal"));
    // From here on the object owns fd, so every early return closes it.
    PtyMaster master(fd, std::string());
    if (::grantpt(fd) != 0) return Fail(ErrnoText("grantpt"));
    if (::unlockpt(fd) != 0) return Fail(ErrnoText("unlockpt"));
    char name[PATH_MAX];
    if (::ptsname_r(fd, name, sizeof name) != 0) return Fail(ErrnoText("ptsname"));
    master.slavePath_ = name;

    // The settings of the master apply to the pair: raw 8-bit bytes with no
    // translation, echo or flow control, before the updater sets its own.
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return Fail(ErrnoText("tcgetattr"));
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) return Fail(ErrnoText("tcsetattr"));

    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return Fail(ErrnoText("fcntl O_NONBLOCK"));
    return master;
}

PtyMaster::PtyMaster(PtyMaster&& other) noexcept : fd_(other.fd_), slavePath_(std::move(other.slavePath_)) {
    other.fd_ = -1;
}

PtyMaster& PtyMaster::operator=(PtyMaster&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        slavePath_ = std::move(other.slavePath_);
        other.fd_ = -1;
    }
    return *this;
}

PtyMaster::~PtyMaster() { Close(); }

void PtyMaster::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

PtyStatus PtyMaster::Read(uint8_t* buffer, size_t max, size_t& got, std::chrono::milliseconds wait) {
    got = 0;
    const Clock::time_point deadline = DeadlineAfter(wait);
    for (;;) {
        if (StopRequested()) return PtyStatus::Stopped;
        // Bytes already waiting come first, even when the slave was closed after
        // sending them; only then does a closed slave read as an I/O error.
        ssize_t n = ::read(fd_, buffer, max);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return PtyStatus::Data;
        }
        if (n == 0 || errno == EIO) return PtyStatus::HungUp;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return PtyStatus::Failed;

        const int slice = PollSlice(deadline);
        if (slice == 0) return PtyStatus::TimedOut;
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, slice) < 0 && errno != EINTR) return PtyStatus::Failed;
        // A hang-up (POLLHUP) shows as EIO from the next read.
    }
}

PtyStatus PtyMaster::Write(const uint8_t* data, size_t n, std::chrono::milliseconds wait) {
    const Clock::time_point deadline = DeadlineAfter(wait);
    size_t sent = 0;
    while (sent < n) {
        if (StopRequested()) return PtyStatus::Stopped;
        ssize_t written = ::write(fd_, data + sent, n - sent);
        if (written > 0) {
            sent += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EIO) return PtyStatus::HungUp;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return PtyStatus::Failed;
        // The line's buffer is full: the updater is not reading.
        const int slice = PollSlice(deadline);
        if (slice == 0) return PtyStatus::TimedOut;
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, slice) < 0 && errno != EINTR) return PtyStatus::Failed;
    }
    return PtyStatus::Data;
}

// --- DeviceLink ---

Result<DeviceLink, std::string> DeviceLink::Create(const std::string& linkPath, const std::string& target) {
    struct stat info {};
    if (::lstat(linkPath.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) return Fail(linkPath + " exists and is not a symbolic link");
        if (::unlink(linkPath.c_str()) != 0) return Fail(ErrnoText("cannot replace " + linkPath));
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) return Fail(ErrnoText("cannot create link " + linkPath));
    return DeviceLink(linkPath, target);
}

DeviceLink::DeviceLink(DeviceLink&& other) noexcept
    : linkPath_(std::move(other.linkPath_)), target_(std::move(other.target_)) {
    other.linkPath_.clear();
}

DeviceLink& DeviceLink::operator=(DeviceLink&& other) noexcept {
    if (this != &other) {
        Remove();
        linkPath_ = std::move(other.linkPath_);
        target_ = std::move(other.target_);
        other.linkPath_.clear();
    }
    return *this;
}

DeviceLink::~DeviceLink() { Remove(); }

void DeviceLink::Remove() {
    if (linkPath_.empty()) return;
    // Only a link that still points at this simulator's device is ours to remove.
    std::vector<char> buffer(target_.size() + 2);
    ssize_t n = ::readlink(linkPath_.c_str(), buffer.data(), buffer.size());
    if (n >= 0 && std::string(buffer.data(), static_cast<size_t>(n)) == target_) ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

}  // namespace quorsel::apsim
