// The Windows serial line over a stand-in for the port's system calls: a port left
// with abort-on-error on fails every read and write after a line error until its
// error state is cleared. (Under Wine a port mapped to a pseudo-terminal cannot
// produce line errors, so this is where they are tried.)
#include "engine/serial_line_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/power_on_wait.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;

// One device at a time; the calls below reach it through the line's call table.
struct AbortOnErrorPort {
    std::mutex mutex;
    std::deque<uint8_t> incoming;
    std::string written;
    bool lineError = false;  // a framing error or overrun not yet cleared
    int clears = 0;
};
AbortOnErrorPort* port = nullptr;
const HANDLE PORT_HANDLE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x5EA1));

BOOL WINAPI Read(HANDLE, LPVOID buffer, DWORD n, LPDWORD got, LPOVERLAPPED) {
    std::lock_guard<std::mutex> lock(port->mutex);
    *got = 0;
    if (port->lineError) {
        ::SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    if (n > 0 && !port->incoming.empty()) {
        *static_cast<uint8_t*>(buffer) = port->incoming.front();
        port->incoming.pop_front();
        *got = 1;
    }
    return TRUE;
}

BOOL WINAPI Write(HANDLE, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED) {
    std::lock_guard<std::mutex> lock(port->mutex);
    *written = 0;
    if (port->lineError) {
        ::SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    port->written.append(static_cast<const char*>(data), n);
    *written = n;
    return TRUE;
}

BOOL WINAPI Clear(HANDLE, LPDWORD errors, LPCOMSTAT) {
    std::lock_guard<std::mutex> lock(port->mutex);
    *errors = port->lineError ? CE_FRAME : 0;
    port->lineError = false;
    ++port->clears;
    return TRUE;
}

BOOL WINAPI SetTimeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }

BOOL WINAPI Close(HANDLE) { return TRUE; }

constexpr CommPortCalls PORT_CALLS{&Read, &Write, &Clear, &SetTimeouts, &Close};

class Win32SerialLineTest : public ::testing::Test {
protected:
    void SetUp() override { port = &device_; }
    void TearDown() override { port = nullptr; }
    AbortOnErrorPort device_;
};

struct FailedCallCase {
    const char* name;
    // Makes one call on the line; true when it succeeded.
    std::function<bool(SerialLine&)> call;
};

class FailedCallTest : public Win32SerialLineTest, public ::testing::WithParamInterface<FailedCallCase> {};

// A line error makes the call fail once; the line clears it, and the same call
// works the next time.
TEST_P(FailedCallTest, ClearsTheErrorStateSoTheNextCallWorks) {
    device_.lineError = true;
    device_.incoming = {'*'};
    std::unique_ptr<SerialLine> line = Win32SerialLine::Adopt(PORT_HANDLE, PORT_CALLS);
    EXPECT_FALSE(GetParam().call(*line));
    EXPECT_EQ(device_.clears, 1);
    EXPECT_FALSE(device_.lineError);
    EXPECT_TRUE(GetParam().call(*line));
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailedCallTest,
    ::testing::Values(FailedCallCase{"poll", [](SerialLine& line) { return line.PollByte() == uint8_t{'*'}; }},
                      FailedCallCase{"byte_write", [](SerialLine& line) { return line.WriteByte('X'); }},
                      FailedCallCase{"block_write",
                                     [](SerialLine& line) {
                                         const uint8_t frame[] = {1, 2, 3, 4};
                                         return line.WriteBytes(frame, sizeof frame);
                                     }}),
    [](const ::testing::TestParamInfo<FailedCallCase>& param) { return std::string(param.param.name); });

// A waiting read clears the error and goes on waiting within the same call.
TEST_F(Win32SerialLineTest, AWaitingReadClearsTheErrorAndStillGetsItsByte) {
    device_.lineError = true;
    device_.incoming = {'C'};
    std::unique_ptr<SerialLine> line = Win32SerialLine::Adopt(PORT_HANDLE, PORT_CALLS);
    const SerialReadResult read = line->ReadByte(2000ms);
    EXPECT_EQ(read.status, SerialRead::Byte);
    EXPECT_EQ(read.byte, 'C');
    EXPECT_EQ(device_.clears, 1);
}

// Opens the stand-in port for the power-on wait.
class StandInPorts : public SerialPorts {
public:
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t, uint32_t) override {
        return Win32SerialLine::Adopt(PORT_HANDLE, PORT_CALLS);
    }
};

// A line error at power-up: the wait goes on waking and polling, and the boot code's
// "*" still ends it.
TEST_F(Win32SerialLineTest, ThePowerOnWaitOutlastsALineErrorAtPowerUp) {
    device_.lineError = true;
    device_.incoming = {'*'};
    StandInPorts ports;
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<PowerOnEvent> event;
    PowerOnWait wait(ports, 0, 115200, 1ms);
    wait.Start([&](PowerOnEvent reported) {
        std::lock_guard<std::mutex> lock(mutex);
        event = reported;
        changed.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return event.has_value(); }));
    }
    EXPECT_EQ(*event, PowerOnEvent::Answered);
    std::unique_ptr<SerialLine> line = wait.TakeLine();
    ASSERT_NE(line, nullptr);
    std::lock_guard<std::mutex> lock(device_.mutex);
    EXPECT_GE(device_.clears, 1);
}

}  // namespace
}  // namespace quorsel
