// The start-up sequence shared by every front-end: socket-layer check, defaults,
// command line, the settings loop, then the progress display that runs the update.
#pragma once

#include <string>
#include <string_view>

#include "app/update_job.h"
#include "engine/lan_protocol.h"
#include "engine/status_code.h"
#include "engine/update_run.h"

namespace quorsel {

// Process exit statuses.
constexpr int EXIT_COMPLETED = 0;          // the run ended with "正常終了"
constexpr int EXIT_USER_ENDED = 1;         // settings cancelled, or the program ended mid-run
constexpr int EXIT_INVALID_ARGUMENTS = 2;
constexpr int EXIT_SOCKET_LAYER = 3;

// The exit status for the code that ended a run: 0 for STATUS_COMPLETE, else code - 256.
int ExitStatusFor(StatusCode finalCode);

// The worker's inputs for a run of this job; the front-ends start their CAPThread with it.
RunSettings RunSettingsFor(const UpdateJob& job, const std::string& programPath, const PeerTimeouts& timeouts);

// What start-up needs from a front-end (the desktop dialogs or the terminal).
class StartupFrontend {
public:
    virtual ~StartupFrontend() = default;
    // A start-up error message (message box or standard error).
    virtual void ShowStartupError(const char* text) = 0;
    // The connection settings: shown with the job's transport, addressText, comIndex
    // and baudRate, which it updates on OK. False when the user cancelled.
    virtual bool AskSettings(UpdateJob& job) = 0;
    // Shows the progress of the run of this job and returns the exit status.
    virtual int RunProgress(const UpdateJob& job, const std::string& programPath) = 0;
};

// Runs the whole start-up and returns the process exit status. executablePath, when
// not empty, is the file the container is read from instead of the path taken
// from the command line.
int RunStartup(StartupFrontend& frontend, Network& network, std::string_view commandLine,
               const std::string& executablePath);

}  // namespace quorsel
