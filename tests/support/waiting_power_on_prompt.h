// A power-on prompt for tests: starts the wait and returns its outcome, as a user who
// waits for the access point would; gives up (like pressing Cancel) after `patience`,
// and cancels the prompt numbered cancelAt (from 1) at once.
#pragma once

#include <chrono>

#include "engine/power_on_wait.h"

namespace quorsel::testing {

class WaitingPowerOnPrompt : public PowerOnPrompt {
public:
    std::chrono::milliseconds patience{5000};
    int cancelAt = 0;  // 0: never
    int shown = 0;
    bool Show(PowerOnWait& wait) override;
};

}  // namespace quorsel::testing
