// The run log: one record per run of a firmware file, appended to a text file of
// the day in a folder of the user's, for support to read. It holds what the run
// was given and what it reported; never the password, nor its digest.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/status_code.h"
#include "engine/transfer.h"

namespace quorsel {

// Files of this many days, today's included, are kept; older ones are removed.
constexpr int RUN_LOG_DAYS_KEPT = 30;
// The day's file: RUN_LOG_FILE_PREFIX + "YYYY-MM-DD" (UTC) + RUN_LOG_FILE_SUFFIX.
constexpr const char* RUN_LOG_FILE_PREFIX = "quorsel-";
constexpr const char* RUN_LOG_FILE_SUFFIX = ".log";

struct RunLogRecord {
    using Time = std::chrono::system_clock::time_point;
    struct Code {
        Time time;
        StatusCode code;
    };
    Time started;
    std::string programVersion;
    std::string programPath;
    std::string firmwareModel;   // empty when the container could not be read
    std::string firmwareSha256;  // of the container; empty when it could not be read
    std::string transport;       // "LAN" or "serial"
    std::string target;          // the access point's address, or the serial port
    uint32_t baudRate = 0;       // serial only
    uint16_t regions = 0;        // bits 0 to 5: the regions chosen
    std::vector<FlashRange> ranges;
    std::vector<Code> codes;
    std::string diagnostic;      // the failure's step and what was awaited or received
    StatusCode outcome = STATUS_NONE;
};

// The record as the lines it is written as, the last one ending with a line end.
std::string FormatRunLogRecord(const RunLogRecord& record);

// Where this user's run log goes (UTF-8), from the environment, for the mains:
// Windows %LOCALAPPDATA%\Quorsel\logs; elsewhere $XDG_STATE_HOME/quorsel, by
// default ~/.local/state/quorsel. Empty when the environment names no such place.
std::string RunLogFolder();

// A log folder. Appending is safe from several threads (the fleet's runs); each
// RunLog has its own lock, nothing is shared between instances. A log that cannot
// be written reports so and changes nothing else.
class RunLog {
public:
    // folder is a UTF-8 path; empty: a log that writes nothing.
    explicit RunLog(std::string folder) : folder_(std::move(folder)) {}

    const std::string& folder() const { return folder_; }
    // Creates the folder (and its parents) when missing; false when it cannot.
    bool MakeFolder() const;
    // Appends the record to the file of the day it started, after removing the
    // files older than RUN_LOG_DAYS_KEPT days. The path written, or nullopt.
    std::optional<std::string> Append(const RunLogRecord& record);
    // The file the last successful Append wrote to; empty before that.
    std::string LastFile() const;

private:
    std::string folder_;
    mutable std::mutex mutex_;
    std::string lastFile_;
};

}  // namespace quorsel
