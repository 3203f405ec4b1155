// The start-up sequence shared by every front-end: socket-layer check, defaults,
// command line, the settings loop, then the progress display that runs the update
// with the finished run settings.
#pragma once

#include <string>
#include <string_view>

#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/update_run.h"
#include "job/exit_status.h"
#include "job/run_settings.h"
#include "job/update_job.h"

namespace quorsel {

// What start-up needs from a front-end (the desktop dialogs or the terminal).
class StartupFrontend {
public:
    virtual ~StartupFrontend() = default;
    // A start-up error message (message box or standard error).
    virtual void ShowStartupError(const char* text) = 0;
    // After the invalid-arguments error: the token and what is wrong with it. Only
    // a front-end with somewhere to print it beyond the message shows it.
    virtual void ShowArgumentProblem(const std::string& problem) { static_cast<void>(problem); }
    // The connection settings: shown with the job's transport, addressText, comIndex
    // and baudRate, which it updates on OK. False when the user cancelled.
    virtual bool AskSettings(UpdateJob& job) = 0;
    // Shows the progress of the run of this job and returns the exit status.
    // settings are the worker's finished inputs for it (program path resolved,
    // port set, the time-outs given to RunStartup).
    virtual int RunProgress(const UpdateJob& job, const RunSettings& settings) = 0;
};

// Runs the whole start-up and returns the process exit status. executablePath, when
// not empty, is the file the container is read from instead of the path taken
// from the command line; timeouts bound the run's waits on the peer; log, when
// given, gets the run's record.
int RunStartup(StartupFrontend& frontend, Network& network, std::string_view commandLine,
               const std::string& executablePath, const PeerTimeouts& timeouts, RunLog* log = nullptr);

}  // namespace quorsel
