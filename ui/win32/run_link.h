// What the run's worker (CAPThread) talks to: the progress dialog, through its
// StatusHandOver and the status command, and the password and power-on prompts,
// which it shows itself on its own thread.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "engine/power_on_wait.h"
#include "engine/run_interfaces.h"

namespace quorsel {

class ProgressDialog;

class RunLink : public StatusSink, public PasswordPrompt, public PowerOnPrompt {
public:
    RunLink(HINSTANCE instance, ProgressDialog& dialog) : instance_(instance), dialog_(dialog) {}

    // Hands the code to the dialog; returns once ShowStatus has handled it, any
    // message box included.
    void Notify(StatusCode code, const TransferCounters& counters) override;
    // Hands the code to the dialog without waiting (the abort after a cancelled
    // power-on prompt, the run's last code).
    void Post(StatusCode code, const TransferCounters& counters) override;
    // One line on standard error naming the failed step.
    void Diagnose(const std::string& line) override;

    // The password dialog, unowned: the progress dialog stays usable meanwhile.
    std::optional<std::string> AskPassword() override;
    // The power-on prompt, owned by the progress dialog.
    bool Show(PowerOnWait& wait) override;

private:
    HINSTANCE instance_;
    ProgressDialog& dialog_;
};

}  // namespace quorsel
