#include "tools/apsim/event_log.h"

#include <cstdio>
#include <string>

namespace quorsel::apsim {

void LogEvent(std::string_view text) {
    std::string line = "quorsel-apsim: ";
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace quorsel::apsim
