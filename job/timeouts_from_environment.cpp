#include "job/timeouts_from_environment.h"

#include <cstdlib>
#include <string>

namespace quorsel {

PeerTimeouts TimeoutsFromEnvironment() {
    PeerTimeouts timeouts;
    const char* text = std::getenv("QUORSEL_PEER_TIMEOUT_MS");
    if (text == nullptr || *text == '\0') return timeouts;
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value == 0 || value > 3600000UL) return timeouts;
    milliseconds bound{static_cast<long>(value)};
    timeouts.connect = bound;
    timeouts.lanRead = bound;
    timeouts.serialAnswer = bound;
    // The completion silence (fixed by the serial protocol) and the flash-work bound
    // stay: a user who has the variable set must not lose an update mid-erase.
    return timeouts;
}

}  // namespace quorsel
