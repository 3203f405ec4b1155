// The power-on wait: while the front-end shows its prompt, a worker opens the
// serial line and sends "X" every 100 ms until the boot code answers "*".
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

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
    PowerOnWait(SerialPorts& ports, uint32_t comIndex, uint32_t baudRate);
    ~PowerOnWait();  // stops the worker and releases a line that was not taken
    PowerOnWait(const PowerOnWait&) = delete;
    PowerOnWait& operator=(const PowerOnWait&) = delete;

    // Starts the worker once; later calls do nothing. onEvent is called on the
    // worker thread, at most once, and never after Stop() has returned.
    void Start(std::function<void(PowerOnEvent)> onEvent);
    // Ends the worker (within one wake-up pass) and waits for it; idempotent.
    void Stop();
    // After Answered: hands the open line over. nullptr otherwise.
    std::unique_ptr<SerialLine> TakeLine();

private:
    void Work();

    SerialPorts& ports_;
    uint32_t comIndex_;
    uint32_t baudRate_;
    std::function<void(PowerOnEvent)> onEvent_;
    std::mutex mutex_;  // guards the hand-over between the worker and Stop()
    bool stopped_ = false;
    bool answered_ = false;
    std::atomic<bool> stopRequested_{false};
    std::unique_ptr<SerialLine> line_;
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
