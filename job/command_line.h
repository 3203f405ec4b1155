// The command-line grammar: program path, option letters, connection and baud rate.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "job/update_job.h"

namespace quorsel {

constexpr size_t PROGRAM_PATH_MAX = 1024;  // bytes, with the appended ".exe"
constexpr size_t TOKEN_COUNT_MAX = 10;
constexpr size_t TOKEN_LENGTH_MAX = 19;
// A device path ("/dev/serial/by-id/...") may be longer than any other token.
constexpr size_t DEVICE_PATH_TOKEN_MAX = 255;

enum CommandLineResult : int {
    COMMAND_LINE_INVALID = -1,
    COMMAND_LINE_ASK = 0,       // the settings dialog decides the connection
    COMMAND_LINE_COMPLETE = 1,  // start the run without any dialog
};

// Parses the whole command-line text (program path first, then the tokens; bytes,
// not characters). Always writes programPath; may write the job's fields. On
// COMMAND_LINE_INVALID, problem (when given) names the token and what is wrong with
// it, e.g. "999.1.1.1: not an IPv4 address".
int ParseCommandLine(std::string_view commandLine, UpdateJob& job, std::string& programPath,
                     std::string* problem = nullptr);

// The serial port a connection token names: "com1".."com256" in any case, or where
// the platform has them a device path beginning with "/dev/". COM1..COM4 set
// comIndex and clear portName; any other port sets portName. False (job unchanged)
// for any other token.
bool ApplySerialPortToken(std::string_view token, UpdateJob& job);

// Why a token is no serial port, e.g. "not a serial port (COM1 to COM256)".
std::string SerialPortProblem();

// Applies an option token ("-" and letters of "bepfzi") to optionFlags; false (and
// optionFlags unchanged) when it is invalid.
bool ApplyOptionToken(std::string_view token, uint16_t& optionFlags);

// Dotted IPv4 text to four bytes; false when the text is not a valid address
// (the output must then not be used).
bool ParseDottedAddress(std::string_view text, std::array<uint8_t, 4>& address);

}  // namespace quorsel
