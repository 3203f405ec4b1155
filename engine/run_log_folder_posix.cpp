#include <cstdlib>

#include "engine/run_log.h"

namespace quorsel {

std::string RunLogFolder() {
    // The XDG base directory rules: a relative $XDG_STATE_HOME is ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/quorsel";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/quorsel";
    return {};
}

}  // namespace quorsel
