// One update run: open the container, plan the flash ranges and write them over
// the LAN or the serial line, reporting every step as a status code.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/power_on_wait.h"
#include "engine/run_interfaces.h"
#include "engine/run_log.h"
#include "engine/serial_line.h"
#include "engine/status_code.h"

namespace quorsel {

// The worker's inputs, filled from the job before the run starts.
struct RunSettings {
    uint32_t transport = 0;  // 0 = LAN, 1 = serial
    uint16_t optionFlags = 0;
    PeerAddress peer;        // LAN
    uint32_t comIndex = 0;   // serial: COM1..COM4 as 0..3
    std::string portName;    // serial: any other port by name; empty: comIndex
    uint32_t baudRate = 115200;
    std::string programPath;
    PeerTimeouts timeouts;
    RunLog* log = nullptr;   // where the run's record goes; none: no record
};

// What the run talks to. The front-end supplies the sink and the prompts; the
// platform supplies the network and the serial ports.
struct RunServices {
    StatusSink& sink;
    PasswordPrompt& password;
    PowerOnPrompt& powerOn;
    Network& network;
    SerialPorts& serialPorts;
    std::function<void(std::chrono::milliseconds)> sleep;  // the fixed pauses
    std::function<void(const char*)> erasingOut;           // "Erasing\n" per erase report
};

// Carries out one run and returns the last status code it raised (STATUS_COMPLETE
// or the failure that ended it). Everything it opened is closed when it returns.
StatusCode RunUpdate(const RunSettings& settings, RunServices& services);

// The run's worker thread.
class CAPThread {
public:
    CAPThread() = default;
    ~CAPThread();
    CAPThread(const CAPThread&) = delete;
    CAPThread& operator=(const CAPThread&) = delete;

    void Start(RunSettings settings, RunServices& services);
    // Waits for the run to end; its final status.
    StatusCode Join();
    // The thread is left to end with the process (the user closed the front-end mid-run).
    void Detach();

private:
    std::thread thread_;
    StatusCode result_ = STATUS_NONE;
};

}  // namespace quorsel
