// The power-on wait: while the front-end shows its prompt, a worker opens the
// serial line and sends "X" every 100 ms until the boot code answers "*".
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/limits.h"
#include "engine/serial_line.h"

namespace quorsel {

enum class PowerOnEvent {
    Answered,     // the access point answered; the line is ready to be taken
    OpenFailed,   // show "通信ポートのオープンエラー", then end the prompt
    SetupFailed,  // show "通信ポートの初期化エラー", then end the prompt
};

// One power-on wait: owns the worker thread and, until it is taken, the line.
class PowerOnWait {
public:
    // wakeInterval is the pause after each "X"; tests pass a shorter one.
    PowerOnWait(SerialPorts& ports, uint32_t comIndex, uint32_t baudRate,
                std::chrono::milliseconds wakeInterval = WAKE_INTERVAL);
    // The same for a port opened by its name (SerialPorts::OpenNamed).
    PowerOnWait(SerialPorts& ports, std::string portName, uint32_t baudRate,
                std::chrono::milliseconds wakeInterval = WAKE_INTERVAL);
    ~PowerOnWait();  // stops the worker and releases a line that was not taken
    PowerOnWait(const PowerOnWait&) = delete;
    PowerOnWait& operator=(const PowerOnWait&) = delete;

    // Starts the worker once; later calls, and a call after Stop(), do nothing.
    // onEvent is called on the worker thread, at most once; none starts once Stop()
    // has been called, and Stop() waits for one already running. It runs under the
    // wait's lock: it must hand the event over (post it) rather than wait for the
    // thread that may call Stop(), and must not call Stop() or TakeLine() itself.
    void Start(std::function<void(PowerOnEvent)> onEvent);
    // Ends the worker (within one wake-up pass) and waits for it; idempotent. A
    // worker still waking releases its line; a line that has answered stays for
    // TakeLine().
    void Stop();
    // After Answered: hands the open line over (once). nullptr otherwise.
    std::unique_ptr<SerialLine> TakeLine();

private:
    void Work();
    // Reports event unless the wait was stopped; true when it was reported.
    bool Report(PowerOnEvent event);

    SerialPorts& ports_;
    uint32_t comIndex_ = 0;
    std::string portName_;  // empty: the port is comIndex_
    uint32_t baudRate_;
    std::chrono::milliseconds wakeInterval_;
    std::function<void(PowerOnEvent)> onEvent_;
    std::mutex mutex_;  // guards everything below between the worker and the caller
    std::condition_variable wake_;  // cuts a wake-up pause short when Stop() is called
    bool started_ = false;
    bool stopped_ = false;
    bool answered_ = false;
    std::unique_ptr<SerialLine> line_;  // the answered line, until it is taken
    std::thread worker_;
};

// The front-end's prompt ("アクセスポイントの電源を入れてください。" ...).
class PowerOnPrompt {
public:
    virtual ~PowerOnPrompt() = default;
    // Shows the prompt and starts the wait; returns true when the access point
    // answered, false when the user cancelled or the line could not be opened
    // (after showing the message for the event).
    virtual bool Show(PowerOnWait& wait) = 0;
};

}  // namespace quorsel
