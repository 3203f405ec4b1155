// The terminal front-end: used where no display is available. It asks for the
// connection settings in a short text form, prints every status line, draws a
// progress bar on a terminal, and prompts for the password and the power-on.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "job/startup.h"
#include "engine/power_on_wait.h"
#include "engine/run_interfaces.h"
#include "engine/serial_line.h"
#include "ui/progress_model.h"
#include "ui/search_model.h"
#include "ui/search_runner.h"
#include "ui/terminal/console_posix.h"

namespace quorsel {

class TerminalFrontend : public StartupFrontend,
                         public StatusSink,
                         public PasswordPrompt,
                         public PowerOnPrompt {
public:
    TerminalFrontend(Console& console, Network& network, SerialPorts& serialPorts);

    // The search that "?" at the address question starts (none: "?" is an address
    // text like any other).
    void SetSearch(SearchRunner::Search search) { search_ = std::move(search); }

    // StartupFrontend
    void ShowStartupError(const char* text) override;
    bool AskSettings(UpdateJob& job) override;
    int RunProgress(const UpdateJob& job, const RunSettings& settings) override;

    // StatusSink
    void Notify(StatusCode code, const TransferCounters& counters) override;
    void Post(StatusCode code, const TransferCounters& counters) override;
    void Diagnose(const std::string& line) override;

    // PasswordPrompt
    std::optional<std::string> AskPassword() override;

    // PowerOnPrompt
    bool Show(PowerOnWait& wait) override;

private:
    std::optional<std::string> Ask(const std::string& question, const std::string& current);
    void PrintLine(const std::string& text);
    void DrawBar();
    // "?" at the address question: searches, prints the numbered table of the
    // access points found and asks for a number or an address. nullopt when the
    // question was ended (Ctrl-C, end of input).
    std::optional<std::string> SearchAndPick(const std::string& current);
    // One search on its own thread, its progress on the terminal; Ctrl-C stops it.
    SearchModel RunSearch();
    void PrintTable(const SearchModel& model);

    Console& console_;
    Network& network_;
    SerialPorts& serialPorts_;
    SearchRunner::Search search_;
    bool lanRun_ = false;  // the run goes over the LAN: a failed connect suggests the search
    std::optional<ProgressModel> model_;
    std::string pendingDiagnostic_;
    bool barShown_ = false;  // the bar occupies the current terminal line
    std::mutex outputMutex_;
};

}  // namespace quorsel
