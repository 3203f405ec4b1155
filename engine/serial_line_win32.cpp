// Serial ports through the Windows communications interface.
//
// Reads: the port keeps the immediate-return read (interval time-out MAXDWORD, both
// totals 0), which PollByte uses. ReadByte needs a bounded wait for one byte without
// spinning; for it the port switches to the documented "wait for the first byte"
// form (interval and multiplier MAXDWORD, total constant = the wait), and back to
// the immediate form before the next poll. One-byte writes keep the port's write
// time-outs (3000 ms per byte + 3000 ms); a write of several bytes (a block frame)
// switches to one total of SerialWriteBound(n), at most SERIAL_BLOCK_WRITE_TIMEOUT,
// since the per-byte form would let a 1029-byte frame take about 51 minutes.
//
// Writes under Wine (8.0, COM1 mapped to a pseudo-terminal): once the prefix's
// mount manager has set its ports up, COM1 opens through the Unix device and
// WriteFile behaves as on Windows: TRUE, and the count of bytes written (1 for a
// one-byte write, 5 for five), every byte arriving. But the same name can instead
// resolve to the mount manager's own device object for the port (seen for opens
// right after the prefix's server started, not for one 3 s later, and not every
// time); there every call fails with ERROR_INVALID_FUNCTION, WriteFile included,
// which returns FALSE and reports 0 bytes (GetCommState fails too, so such a port
// already fails at open with the set-up error). So the count is only
// believed together with the call's result: a write counts when WriteFile returns
// TRUE and reports all its bytes, and nothing is written again on a short report
// (the callers of WriteByte ignore the report, as the protocol expects).
#include "engine/serial_line_win32.h"

#include <chrono>
#include <climits>

#include "engine/limits.h"

namespace quorsel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* PORT_NAMES[SERIAL_PORT_COUNT] = {"COM1", "COM2", "COM3", "COM4"};

// Below this read wait, scheduling alone can make a full wait look short.
constexpr DWORD EARLY_END_MIN_WAIT_MS = 20;

// Errors after which the port will not deliver again (adapter unplugged, device
// gone, handle no longer valid).
bool IsPersistentError(DWORD error) {
    switch (error) {
    case ERROR_INVALID_HANDLE:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}


// writeTotal 0: the per-byte write time-outs; otherwise one total for the whole write.
COMMTIMEOUTS PortTimeouts(DWORD readWait, DWORD writeTotal) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = readWait == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readWait;
    if (writeTotal == 0) {
        timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(SERIAL_WRITE_TIMEOUT_PER_BYTE.count());
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(SERIAL_WRITE_TIMEOUT_CONSTANT.count());
    } else {
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = writeTotal;
    }
    return timeouts;
}

// The read wait for what is left until deadline: rounded up so a wait never ends
// before the deadline, kept below MAXDWORD (which would mean something else).
DWORD ReadWaitUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms >= static_cast<long long>(MAXDWORD) ? MAXDWORD - 1 : static_cast<DWORD>(ms);
}

}  // namespace

bool SerialDevicePathsAccepted() { return false; }

std::optional<std::string> SystemPortName(const std::string& name) {
    std::optional<uint32_t> number = ComPortNumber(name);
    if (!number) return std::nullopt;
    return "\\\\.\\COM" + std::to_string(*number);
}

std::optional<std::string> SerialPortName(uint32_t comIndex) {
    if (comIndex >= SERIAL_PORT_COUNT) return std::nullopt;
    return std::string(PORT_NAMES[comIndex]);
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> Win32SerialLine::Open(const std::string& name,
                                                                           uint32_t baudRate) {
    HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail(SerialOpenError::OpenFailed);
    // From here on the line owns the handle: every failure releases it.
    std::unique_ptr<Win32SerialLine> line(new Win32SerialLine(handle, CommPortCalls{}));

    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!::GetCommState(handle, &settings)) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    // Only these fields change; everything else keeps what the port had.
    settings.BaudRate = baudRate;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    settings.fRtsControl = RTS_CONTROL_DISABLE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fNull = FALSE;
    if (!::SetCommState(handle, &settings)) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    COMMTIMEOUTS timeouts = PortTimeouts(0, 0);
    if (!::SetCommTimeouts(handle, &timeouts)) {
        line->Release();
        return Fail(SerialOpenError::SetupFailed);
    }
    return std::unique_ptr<SerialLine>(std::move(line));
}

std::unique_ptr<SerialLine> Win32SerialLine::Adopt(HANDLE handle, const CommPortCalls& calls) {
    return std::unique_ptr<SerialLine>(new Win32SerialLine(handle, calls));
}

Win32SerialLine::~Win32SerialLine() { Release(); }

bool Win32SerialLine::ClearErrors() {
    DWORD errors = 0;
    return calls_.clearCommError(handle_, &errors, nullptr) != FALSE;
}

bool Win32SerialLine::UseTimeouts(DWORD readWait, DWORD writeTotal) {
    if (readWait == readWait_ && writeTotal == writeTotal_) return true;
    COMMTIMEOUTS timeouts = PortTimeouts(readWait, writeTotal);
    if (!calls_.setCommTimeouts(handle_, &timeouts)) return false;
    readWait_ = readWait;
    writeTotal_ = writeTotal;
    return true;
}

bool Win32SerialLine::UseReadWait(DWORD waitMs) { return UseTimeouts(waitMs, writeTotal_); }

bool Win32SerialLine::WriteByte(uint8_t byte) { return WriteBytes(&byte, 1); }

bool Win32SerialLine::WriteBytes(const uint8_t* data, size_t n) {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    if (n == 0) return true;
    // The same bound the POSIX line gives a write of n bytes: 3000 ms per byte +
    // 3000 ms for one byte, SERIAL_BLOCK_WRITE_TIMEOUT at most for a frame.
    if (n > static_cast<size_t>(MAXDWORD)) return false;
    const DWORD writeTotal = n == 1 ? 0 : static_cast<DWORD>(SerialWriteBound(n).count());
    if (!UseTimeouts(readWait_, writeTotal)) return false;
    DWORD written = 0;
    if (!calls_.writeFile(handle_, data, static_cast<DWORD>(n), &written, nullptr)) {
        ClearErrors();
        return false;
    }
    return written == n;
}

std::optional<uint8_t> Win32SerialLine::PollByte() {
    if (handle_ == INVALID_HANDLE_VALUE) return std::nullopt;
    if (!UseReadWait(0)) return std::nullopt;
    uint8_t byte = 0;
    DWORD got = 0;
    if (!calls_.readFile(handle_, &byte, 1, &got, nullptr)) {
        ClearErrors();  // the next poll reads again
        return std::nullopt;
    }
    if (got == 1) return byte;
    return std::nullopt;  // nothing there
}

SerialReadResult Win32SerialLine::ReadByte(std::chrono::milliseconds timeout) {
    if (handle_ == INVALID_HANDLE_VALUE) return {SerialRead::Gone, 0};
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const DWORD wait = ReadWaitUntil(deadline);
        if (wait == 0) return {SerialRead::Silence, 0};
        if (!UseReadWait(wait)) return {SerialRead::Gone, 0};
        uint8_t byte = 0;
        DWORD got = 0;
        const Clock::time_point started = Clock::now();
        if (calls_.readFile(handle_, &byte, 1, &got, nullptr)) {
            if (got == 1) return {SerialRead::Byte, byte};
            // A read that waits for its first byte ends empty only when its wait has
            // passed. Ending empty well before that means the device no longer
            // waits at all; reading on would only spin. (Under Wine a
            // pseudo-terminal whose other side has closed still waits out each
            // read, so there a hang-up shows as silence until the deadline.)
            if (wait >= EARLY_END_MIN_WAIT_MS && Clock::now() - started < std::chrono::milliseconds(wait / 2)) {
                return {SerialRead::Gone, 0};
            }
            continue;  // the wait passed without a byte; the deadline decides
        }
        const DWORD error = ::GetLastError();
        if (IsPersistentError(error)) return {SerialRead::Gone, 0};
        // A line error (framing, overrun) stops reads until it is cleared; a port
        // whose error state cannot even be read is gone.
        if (!ClearErrors()) return {SerialRead::Gone, 0};
        // Do not turn a repeating transient failure into a busy loop.
        ::Sleep(1);
    }
}

void Win32SerialLine::Release() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    ClearErrors();
    calls_.closeHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> Win32SerialPorts::Open(uint32_t comIndex, uint32_t baudRate) {
    std::optional<std::string> name = SerialPortName(comIndex);
    if (!name) return Fail(SerialOpenError::OpenFailed);
    return Win32SerialLine::Open(*name, baudRate);
}

Result<std::unique_ptr<SerialLine>, SerialOpenError> Win32SerialPorts::OpenNamed(const std::string& name,
                                                                                 uint32_t baudRate) {
    std::optional<std::string> systemName = SystemPortName(name);
    if (!systemName) return Fail(SerialOpenError::OpenFailed);
    return Win32SerialLine::Open(*systemName, baudRate);
}

}  // namespace quorsel
