#include "engine/serial_line_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

#include "engine/limits.h"

namespace quorsel {

namespace {

using Clock = std::chrono::steady_clock;

struct SpeedEntry {
    uint32_t rate;
    speed_t speed;
};

// The rates the terminal interface can express. A rate outside this table is
// refused like a driver would refuse it.
constexpr SpeedEntry SPEEDS[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
};

std::optional<speed_t> SpeedFor(uint32_t rate) {
    for (const SpeedEntry& entry : SPEEDS) {
        if (entry.rate == rate) return entry.speed;
    }
    return std::nullopt;
}

// Milliseconds left until deadline for poll(), rounded up so a wait never ends
// before the deadline and never spins on a zero timeout.
int PollTimeout(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Errors after which the device will not deliver again.
bool IsPersistentError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}

// One close per descriptor: on Linux the descriptor is gone even when close()
// reports EINTR, so it is never retried.
void CloseQuietly(int fd) { static_cast<void>(::close(fd)); }

// Raw 8N1: no character translation, no echo or signals, no parity, one stop bit,
// receiver on, modem status lines ignored, no hardware or software flow control,
// and a read that returns at once with whatever is there.
void MakeRaw(termios& settings) {
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                                IXOFF | IXANY);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
}

}  // namespace

bool SettingsTookEffect(const termios& wanted, const termios& applied) {
    constexpr tcflag_t FRAMING = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    return ::cfgetispeed(&applied) == ::cfgetispeed(&wanted) && ::cfgetospeed(&applied) == ::cfgetospeed(&wanted) &&
           (applied.c_cflag & FRAMING) == (wanted.c_cflag & FRAMING);
}

namespace {

// COM<number>: QUORSEL_COM<number> when set and not empty, /dev/ttyS<number-1> otherwise.
std::string ComDevicePath(uint32_t number) {
    std::string variable = "QUORSEL_COM" + std::to_string(number);
    const char* configured = std::getenv(variable.c_str());
    if (configured != nullptr && configured[0] != '\0') return std::string(configured);
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace

bool SerialDevicePathsAccepted() { return true; }

std::optional<std::string> SerialDevicePath(uint32_t comIndex) {
    if (comIndex >= SERIAL_PORT_COUNT) return std::nullopt;
    return ComDevicePath(comIndex + 1);
}

std::optional<std::string> SerialDevicePathOf(const std::string& name) {
    if (name.rfind(DEVICE_PATH_PREFIX, 0) == 0) return name;
    if (std::optional<uint32_t> number = ComPortNumber(name)) return ComDevicePath(*number);
    return std::nullopt;
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> PosixSerialLine::Open(const std::string& path,
                                                                           uint32_t baudRate) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(SerialOpenError::OpenFailed);

    // Exclusive use: an advisory lock that every cooperating program (and a second
    // open in this process) respects, and the terminal's own exclusive mode, which
    // makes further opens of the device fail for unprivileged programs.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        CloseQuietly(fd);
        return Fail(SerialOpenError::OpenFailed);
    }
    bool exclusiveSet = ::ioctl(fd, TIOCEXCL) == 0;
    if (!exclusiveSet && errno != ENOTTY) {
        CloseQuietly(fd);
        return Fail(SerialOpenError::OpenFailed);
    }
    // From here on the line owns the descriptor: every failure releases it.
    std::unique_ptr<PosixSerialLine> line(new PosixSerialLine(fd, exclusiveSet));

    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    std::optional<speed_t> speed = SpeedFor(baudRate);
    if (!speed) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    MakeRaw(settings);
    if (::cfsetispeed(&settings, *speed) != 0 || ::cfsetospeed(&settings, *speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &settings) != 0) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    // tcsetattr succeeds when any part of the request was taken: read the settings
    // back, so a speed or framing the driver refused is not missed.
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0 || !SettingsTookEffect(settings, applied)) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    // DTR and RTS inactive. A device without modem lines (a pseudo-terminal)
    // reports ENOTTY or EINVAL; there is nothing to drop then.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    return std::unique_ptr<SerialLine>(std::move(line));
}

PosixSerialLine::~PosixSerialLine() { Release(); }

bool PosixSerialLine::WriteByte(uint8_t byte) { return WriteBytes(&byte, 1); }

bool PosixSerialLine::WriteBytes(const uint8_t* data, size_t n) {
    if (fd_ < 0) return false;
    const Clock::time_point deadline = Clock::now() + SerialWriteBound(n);
    size_t sent = 0;
    while (sent < n) {
        ssize_t written = ::write(fd_, data + sent, n - sent);
        if (written > 0) {
            sent += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // The output queue is full: wait until it takes more, within the bound.
        pollfd entry{fd_, POLLOUT, 0};
        int timeout = PollTimeout(deadline);
        if (timeout == 0) return false;
        int ready = ::poll(&entry, 1, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        if ((entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (entry.revents & POLLOUT) == 0) return false;
    }
    return true;
}

std::optional<uint8_t> PosixSerialLine::PollByte() {
    if (fd_ < 0) return std::nullopt;
    uint8_t byte = 0;
    ssize_t got = ::read(fd_, &byte, 1);
    if (got == 1) return byte;
    return std::nullopt;  // nothing there, or a failed read: both count as no byte
}

SerialReadResult PosixSerialLine::ReadByte(std::chrono::milliseconds timeout) {
    if (fd_ < 0) return {SerialRead::Gone, 0};
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        pollfd entry{fd_, POLLIN, 0};
        int ready = ::poll(&entry, 1, PollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return {SerialRead::Gone, 0};
        }
        if (ready == 0) return {SerialRead::Silence, 0};
        if ((entry.revents & POLLNVAL) != 0) return {SerialRead::Gone, 0};
        // Bytes that arrived before a hang-up are still delivered.
        uint8_t byte = 0;
        ssize_t got = ::read(fd_, &byte, 1);
        if (got == 1) return {SerialRead::Byte, byte};
        if (got == 0) return {SerialRead::Gone, 0};  // end of file: the terminal was hung up
        if (errno == EINTR) continue;
        if (IsPersistentError(errno)) return {SerialRead::Gone, 0};
        if ((entry.revents & (POLLHUP | POLLERR)) != 0) return {SerialRead::Gone, 0};
        // EAGAIN after a readiness report: the byte was taken by the driver
        // (for example a discarded framing error); wait again until the deadline.
        if (PollTimeout(deadline) == 0) return {SerialRead::Silence, 0};
    }
}

void PosixSerialLine::Release() {
    if (fd_ < 0) return;
    // There is no error word to clear on a terminal; leaving exclusive mode keeps
    // the device usable for whoever opens it next while others still hold it.
    if (exclusiveSet_) ::ioctl(fd_, TIOCNXCL);
    CloseQuietly(fd_);  // also drops the advisory lock
    fd_ = -1;
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> PosixSerialPorts::Open(uint32_t comIndex, uint32_t baudRate) {
    std::optional<std::string> path = SerialDevicePath(comIndex);
    if (!path) return Fail(SerialOpenError::OpenFailed);
    return PosixSerialLine::Open(*path, baudRate);
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> PosixSerialPorts::OpenNamed(const std::string& name,
                                                                                 uint32_t baudRate) {
    std::optional<std::string> path = SerialDevicePathOf(name);
    if (!path) return Fail(SerialOpenError::OpenFailed);
    return PosixSerialLine::Open(*path, baudRate);
}

}  // namespace quorsel
