// Connects the run's worker thread to the progress dialog on the user-interface
// thread. The worker never touches a widget: every status code, password request
// and power-on prompt is carried over to the dialog's thread, and the worker waits
// there until it has been handled.
#pragma once

#include <QString>

#include <optional>
#include <string>

#include "engine/power_on_wait.h"
#include "engine/run_interfaces.h"

namespace quorsel {

class ProgressDialog;

class RunBridge : public StatusSink, public PasswordPrompt, public PowerOnPrompt {
public:
    RunBridge(ProgressDialog& dialog, QString appTitle) : dialog_(dialog), appTitle_(std::move(appTitle)) {}

    // StatusSink: Notify returns once ShowStatus has run (completion box included);
    // Post queues the code and returns at once.
    void Notify(StatusCode code, const TransferCounters& counters) override;
    void Post(StatusCode code, const TransferCounters& counters) override;
    // One line on standard error naming the failed step.
    void Diagnose(const std::string& line) override;

    // PasswordPrompt: the password dialog over the progress dialog, which stays
    // usable meanwhile (its Cancel ends the program).
    std::optional<std::string> AskPassword() override;

    // PowerOnPrompt: the power-on prompt, modal over the progress dialog.
    bool Show(PowerOnWait& wait) override;

private:
    ProgressDialog& dialog_;
    QString appTitle_;
};

}  // namespace quorsel
