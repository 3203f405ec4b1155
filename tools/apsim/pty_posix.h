// The simulator's serial line: the master side of a pseudo-terminal pair, whose
// slave side the updater opens as its COM port. The master stays open for the
// simulator's whole life, so the slave's path never changes; the updater opens
// and closes the slave once per range. Every wait is bounded and ends early on a
// stop request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/result.h"

namespace quorsel::apsim {

enum class PtyStatus {
    Data,      // bytes arrived (Read) or all bytes went out (Write)
    TimedOut,  // nothing within the wait
    HungUp,    // the slave is closed: the updater released the line (or never opened it since)
    Stopped,   // a stop signal came in
    Failed,    // the master reported an error
};

const char* DescribePtyStatus(PtyStatus status);

class PtyMaster {
public:
    // posix_openpt, grantpt, unlockpt; raw 8-bit mode for the pair, master non-blocking.
    static Result<PtyMaster, std::string> Open();

    PtyMaster(PtyMaster&& other) noexcept;
    PtyMaster& operator=(PtyMaster&& other) noexcept;
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;
    ~PtyMaster();

    // The slave device, e.g. /dev/pts/3: what QUORSEL_COMn names.
    const std::string& slavePath() const { return slavePath_; }

    // Reads at most max bytes, waiting at most wait for the first. `got` is set with
    // Data. While no slave is open the result is HungUp at once.
    PtyStatus Read(uint8_t* buffer, size_t max, size_t& got, std::chrono::milliseconds wait);
    // Writes all n bytes, waiting at most wait for room in the line's buffer.
    PtyStatus Write(const uint8_t* data, size_t n, std::chrono::milliseconds wait);

private:
    PtyMaster(int fd, std::string slavePath) : fd_(fd), slavePath_(std::move(slavePath)) {}
    void Close();

    int fd_ = -1;
    std::string slavePath_;
};

// A symbolic link to the slave device, removed again (if it still points there)
// when the object goes. Lets a test or a user put a fixed name into QUORSEL_COMn.
class DeviceLink {
public:
    // Creates linkPath -> target; an existing symbolic link at linkPath is replaced,
    // anything else there is an error.
    static Result<DeviceLink, std::string> Create(const std::string& linkPath, const std::string& target);

    DeviceLink(DeviceLink&& other) noexcept;
    DeviceLink& operator=(DeviceLink&& other) noexcept;
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink();

private:
    DeviceLink(std::string linkPath, std::string target) : linkPath_(std::move(linkPath)), target_(std::move(target)) {}
    void Remove();

    std::string linkPath_;  // empty once removed or moved from
    std::string target_;
};

}  // namespace quorsel::apsim
