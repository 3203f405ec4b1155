// One line per event on stderr, so whoever drives the simulator can follow it.
#pragma once

#include <string_view>

namespace quorsel::apsim {

// Writes "quorsel-apsim: <text>" and a newline to stderr at once.
void LogEvent(std::string_view text);

}  // namespace quorsel::apsim
