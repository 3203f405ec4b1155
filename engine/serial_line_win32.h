// Serial ports through the Windows communications interface: "COM1" to "COM4"
// opened with CreateFileA for plain synchronous input/output.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/serial_line.h"

namespace quorsel {

constexpr uint32_t SERIAL_PORT_COUNT = 4;

// The port name for a port index ("COM1" for 0 ... "COM4" for 3), or nullopt for an
// index outside 0..3. The name goes to the system unchanged.
std::optional<std::string> SerialPortName(uint32_t comIndex);
// The name the system opens a port by: "COM5" to "COM256" (any case) as
// \\.\COMn, which every port number needs from COM10 on. nullopt for any other name.
std::optional<std::string> SystemPortName(const std::string& name);

// The calls a line makes on its open port: the system's own, or a test's stand-in
// for a device.
struct CommPortCalls {
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ::ReadFile;
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = ::WriteFile;
    BOOL(WINAPI* clearCommError)(HANDLE, LPDWORD, LPCOMSTAT) = ::ClearCommError;
    BOOL(WINAPI* setCommTimeouts)(HANDLE, LPCOMMTIMEOUTS) = ::SetCommTimeouts;
    BOOL(WINAPI* closeHandle)(HANDLE) = ::CloseHandle;
};

// An open port in 8N1 without flow control, DTR and RTS held inactive. Reads return
// at once with what has arrived (at most one byte); a write of n bytes must finish
// within 3000 * n + 3000 ms. After every failed read, poll or write the port's error
// state is cleared (ClearCommError): a port left with abort-on-error on fails every
// call after a line error until then, so without it one line error at power-up
// would silence the line for good.
class Win32SerialLine : public SerialLine {
public:
    // Opens the port by name (read and write, no sharing, existing only), then
    // applies the line settings and time-outs (see Win32SerialPorts::Open).
    static Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(const std::string& name, uint32_t baudRate);
    // Takes over a port already open with the immediate read, whose calls go to calls.
    static std::unique_ptr<SerialLine> Adopt(HANDLE handle, const CommPortCalls& calls);

    ~Win32SerialLine() override;
    Win32SerialLine(const Win32SerialLine&) = delete;
    Win32SerialLine& operator=(const Win32SerialLine&) = delete;

    bool WriteByte(uint8_t byte) override;
    bool WriteBytes(const uint8_t* data, size_t n) override;
    std::optional<uint8_t> PollByte() override;
    SerialReadResult ReadByte(std::chrono::milliseconds timeout) override;
    void Release() override;

private:
    Win32SerialLine(HANDLE handle, const CommPortCalls& calls) : handle_(handle), calls_(calls) {}
    // Clears the port's error state after a failed call; false when even that fails.
    bool ClearErrors();
    // Applies the open-time time-outs with the given total read wait: 0 is the
    // immediate read, anything else a read that waits that long for a first byte.
    bool UseTimeouts(DWORD readWait, DWORD writeTotal);
    bool UseReadWait(DWORD waitMs);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    CommPortCalls calls_;
    DWORD readWait_ = 0;    // the read wait the port has now
    DWORD writeTotal_ = 0;  // 0: per-byte write time-outs; else the total of a multi-byte write
};

class Win32SerialPorts : public SerialPorts {
public:
    // OpenFailed when the port is missing, in use or not accessible; SetupFailed
    // when reading or writing its settings or writing its time-outs fails, after
    // the port has been closed again.
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t comIndex, uint32_t baudRate) override;
    Result<std::unique_ptr<SerialLine>, SerialOpenError> OpenNamed(const std::string& name,
                                                                   uint32_t baudRate) override;
};

}  // namespace quorsel
