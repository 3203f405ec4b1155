// Serial ports on a POSIX terminal interface (termios).
//
// Port index n (0..3, shown to the user as COM1..COM4) opens the device named by
// the environment variable QUORSEL_COM<n+1> when it is set and not empty, and
// /dev/ttyS<n> otherwise. A higher port, "COM5" to "COM256", maps the same way
// (QUORSEL_COM<n>, else /dev/ttyS<n-1>); a name that begins with "/dev/" is the
// device itself.
#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/serial_line.h"

namespace quorsel {

constexpr uint32_t SERIAL_PORT_COUNT = 4;

// The device path for a port index, or nullopt for an index outside 0..3.
std::optional<std::string> SerialDevicePath(uint32_t comIndex);
// The device path for a port name ("COM5", "/dev/ttyUSB0"), or nullopt for a name
// that is neither a COM port nor a device path.
std::optional<std::string> SerialDevicePathOf(const std::string& name);

// True when the settings read back after tcsetattr hold the speeds and the framing
// (character size, parity, stop bits, hardware flow control) that were asked for.
bool SettingsTookEffect(const termios& wanted, const termios& applied);

// An open terminal device in raw 8N1 mode. The descriptor stays non-blocking;
// waits go through poll().
class PosixSerialLine : public SerialLine {
public:
    // Opens and configures the device at path (see PosixSerialPorts::Open).
    static Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(const std::string& path, uint32_t baudRate);

    ~PosixSerialLine() override;
    PosixSerialLine(const PosixSerialLine&) = delete;
    PosixSerialLine& operator=(const PosixSerialLine&) = delete;

    bool WriteByte(uint8_t byte) override;
    bool WriteBytes(const uint8_t* data, size_t n) override;
    std::optional<uint8_t> PollByte() override;
    SerialReadResult ReadByte(std::chrono::milliseconds timeout) override;
    void Release() override;

private:
    PosixSerialLine(int fd, bool exclusiveSet) : fd_(fd), exclusiveSet_(exclusiveSet) {}

    int fd_ = -1;
    bool exclusiveSet_ = false;  // TIOCEXCL was set by this line and is cleared at release
};

class PosixSerialPorts : public SerialPorts {
public:
    // Opens the port read/write and exclusively (OpenFailed when it is missing, in
    // use or not accessible), then applies raw 8N1 at baudRate without flow
    // control and drops DTR and RTS (SetupFailed when the device refuses any of it,
    // or the settings read back differ in speed or framing).
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t comIndex, uint32_t baudRate) override;
    Result<std::unique_ptr<SerialLine>, SerialOpenError> OpenNamed(const std::string& name,
                                                                   uint32_t baudRate) override;
};

}  // namespace quorsel
