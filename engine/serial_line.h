// A serial line to the access point: one port, opened with fixed line settings
// (raw 8N1, no flow control, DTR and RTS inactive, exclusive use).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/result.h"

namespace quorsel {

enum class SerialOpenError {
    OpenFailed,   // missing, in use, no access
    SetupFailed,  // the line settings or time-outs could not be applied
};

enum class SerialRead {
    Byte,     // a byte arrived
    Silence,  // nothing within the wait
    Gone,     // the device reports a persistent error (adapter unplugged, hang-up)
};

struct SerialReadResult {
    SerialRead status;
    uint8_t byte;
};

class SerialLine {
public:
    virtual ~SerialLine() = default;  // a line not yet released is released here
    // One byte, bounded by the write time-out; the report may be ignored.
    virtual bool WriteByte(uint8_t byte) = 0;
    // Several bytes in one write, bounded like n one-byte writes would be, and by
    // SERIAL_BLOCK_WRITE_TIMEOUT in all.
    virtual bool WriteBytes(const uint8_t* data, size_t n) = 0;
    // One byte if one is already there; never waits.
    virtual std::optional<uint8_t> PollByte() = 0;
    // Waits at most timeout for one byte, without spinning.
    virtual SerialReadResult ReadByte(std::chrono::milliseconds timeout) = 0;
    // Clears the line's error state and closes it; later calls do nothing.
    virtual void Release() = 0;
};

// COM port numbers a job can name. COM1 to COM4 are the settings dialog's four
// radio buttons and go by their index 0..3; any other port goes by its name.
constexpr uint32_t COM_RADIO_COUNT = 4;
constexpr uint32_t COM_PORT_NUMBER_MAX = 256;

// The platform's serial ports: COM1..COM4 by index 0..3, any other by name.
class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    virtual Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t comIndex, uint32_t baudRate) = 0;
    // A port beyond COM4 ("COM5" to "COM256", upper case) or, where the platform has
    // them, a device path. Ports that know no names have none to open.
    virtual Result<std::unique_ptr<SerialLine>, SerialOpenError> OpenNamed(const std::string& name,
                                                                           uint32_t baudRate) {
        static_cast<void>(name);
        static_cast<void>(baudRate);
        return Fail(SerialOpenError::OpenFailed);
    }
};

// True where a device path ("/dev/...") names a serial port on the command line.
bool SerialDevicePathsAccepted();
constexpr const char* DEVICE_PATH_PREFIX = "/dev/";

// The COM port number of "com1".."com256" in any case (no leading zero), or nullopt.
std::optional<uint32_t> ComPortNumber(const std::string& text);

}  // namespace quorsel
