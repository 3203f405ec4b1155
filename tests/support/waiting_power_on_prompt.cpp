#include "tests/support/waiting_power_on_prompt.h"

#include <condition_variable>
#include <mutex>

namespace quorsel::testing {

bool WaitingPowerOnPrompt::Show(PowerOnWait& wait) {
    ++shown;
    if (shown == cancelAt) return false;
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    PowerOnEvent outcome = PowerOnEvent::OpenFailed;
    wait.Start([&](PowerOnEvent event) {
        std::lock_guard<std::mutex> lock(mutex);
        outcome = event;
        done = true;
        changed.notify_all();
    });
    bool answered = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, patience, [&] { return done; });
        answered = done && outcome == PowerOnEvent::Answered;
    }
    wait.Stop();
    return answered;
}

}  // namespace quorsel::testing
