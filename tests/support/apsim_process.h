// Test support: the simulated access point (quorsel-apsim) as a child process on a
// free loopback port. The process is ended and reaped when the object goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorsel::testing {

class ApSimProcess {
public:
    ApSimProcess() = default;
    ~ApSimProcess();
    ApSimProcess(const ApSimProcess&) = delete;
    ApSimProcess& operator=(const ApSimProcess&) = delete;

    // Starts the simulator binary of the build with "--port 0" and args, its stderr
    // going to logPath, and waits for the port it prints. False when it does not
    // start or prints no port within the wait.
    bool Start(const std::vector<std::string>& args, const std::string& logPath);
    // Starts the simulator with "--serial" and args, and waits for the path of the
    // pseudo-terminal device it prints.
    bool StartSerial(const std::vector<std::string>& args, const std::string& logPath);

    uint16_t port() const { return port_; }
    const std::string& device() const { return device_; }
    bool Running();

    // Waits for the process to end by itself: its exit status (128 + signal when a
    // signal ended it), or nothing while it still runs after limit.
    std::optional<int> WaitExit(std::chrono::milliseconds limit);
    // SIGTERM, then WaitExit; a process that outlives limit is killed and -1 returned.
    int Stop(std::chrono::milliseconds limit);

    // The simulator's stderr so far.
    std::string Log() const;

private:
    // Starts the binary with argv[1..] and returns the first line it prints.
    std::optional<std::string> Launch(std::vector<std::string> argv, const std::string& logPath);
    void Kill();

    int pid_ = -1;
    std::optional<int> exitStatus_;
    uint16_t port_ = 0;
    std::string device_;
    std::string logPath_;
};

// Path of the simulator binary in the build.
std::string ApSimBinary();

}  // namespace quorsel::testing
