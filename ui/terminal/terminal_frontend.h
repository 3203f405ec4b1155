// The terminal front-end: used where no display is available. It asks for the
// connection settings in a short text form, prints every status line, draws a
// progress bar on a terminal, and prompts for the password and the power-on.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "job/startup.h"
#include "engine/power_on_wait.h"
#include "engine/run_interfaces.h"
#include "engine/serial_line.h"
#include "engine/serial_port_list.h"
#include "ui/port_model.h"
#include "ui/progress_model.h"
#include "ui/range_search.h"
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
    // The search that "? <targets>" at the address question starts.
    void SetTargetSearch(TargetSearch search) { targetSearch_ = std::move(search); }
    // The serial ports present, which "?" at the port question lists.
    using PortLister = std::function<std::vector<SerialPortEntry>()>;
    void SetPortLister(PortLister lister) { listPorts_ = std::move(lister); }

    // StartupFrontend
    void ShowStartupError(const char* text) override;
    void ShowArgumentProblem(const std::string& problem) override;
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
    std::optional<std::string> SearchAndPick(const std::string& current, const SearchRunner::Search& search);
    // One search on its own thread, its progress on the terminal; Ctrl-C stops it.
    SearchModel RunSearch(const SearchRunner::Search& search);
    // "?" at the port question: prints the numbered list of the ports present and
    // asks for a number or a port. nullopt when the question was ended.
    std::optional<std::string> ListAndPickPort(const std::string& current);
    // Says why an answer was not taken; the question is asked again.
    void Refuse(const std::string& why);
    bool AskLanAddress(UpdateJob& job);
    bool AskSerialPort(UpdateJob& job);
    void PrintTable(const SearchModel& model);

    Console& console_;
    Network& network_;
    SerialPorts& serialPorts_;
    SearchRunner::Search search_;
    TargetSearch targetSearch_;
    PortLister listPorts_;
    bool lanRun_ = false;  // the run goes over the LAN: a failed connect suggests the search
    std::optional<ProgressModel> model_;
    std::string pendingDiagnostic_;
    bool barShown_ = false;  // the bar occupies the current terminal line
    std::mutex outputMutex_;
};

}  // namespace quorsel
