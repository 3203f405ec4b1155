#include "ui/terminal/terminal_frontend.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <string>
#include <thread>

#include "job/command_line.h"
#include "engine/update_run.h"
#include "image/text_encoding.h"
#include "res/texts.h"

namespace quorsel {
namespace {

constexpr size_t BAR_WIDTH = 40;
// Blanks between the columns of the table of access points found.
constexpr size_t TABLE_GAP = 2;
// The answer at the address question that starts a search.
constexpr const char* SEARCH_ANSWER = "?";
constexpr size_t PASSWORD_MAX_BYTES = 15;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A pipe whose two ends are closed exactly once.
class EventPipe {
public:
    EventPipe() {
        if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~EventPipe() {
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    EventPipe(const EventPipe&) = delete;
    EventPipe& operator=(const EventPipe&) = delete;
    bool ok() const { return fds_[0] >= 0; }
    int readEnd() const { return fds_[0]; }
    // Takes one signal (after the read end was reported readable).
    void Take() {
        char byte = 0;
        [[maybe_unused]] ssize_t n = ::read(fds_[0], &byte, 1);
    }
    void Signal() {
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(fds_[1], &byte, 1);
    }

private:
    int fds_[2];
};

// Columns a text takes on a terminal: the Japanese texts are full width.
size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) width += 1;
        else if (byte >= 0xC0) width += 2;  // the lead byte of a non-ASCII character
    }
    return width;
}

std::string PadTo(const std::string& text, size_t width) {
    const size_t used = DisplayWidth(text);
    return text + std::string(used < width ? width - used : 0, ' ');
}

// The row number typed (1 to rows), or nullopt for any other answer.
std::optional<size_t> RowNumber(const std::string& answer, size_t rows) {
    if (answer.empty() || answer.size() > 4) return std::nullopt;
    size_t number = 0;
    for (char c : answer) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<size_t>(c - '0');
    }
    if (number < 1 || number > rows) return std::nullopt;
    return number - 1;
}

}  // namespace

TerminalFrontend::TerminalFrontend(Console& console, Network& network, SerialPorts& serialPorts)
    : console_(console), network_(network), serialPorts_(serialPorts) {}

void TerminalFrontend::ShowStartupError(const char* text) {
    std::fprintf(stderr, "%s\n", text);
}

std::optional<std::string> TerminalFrontend::Ask(const std::string& question, const std::string& current) {
    Console::PromptScope prompt(console_);
    std::printf("%s [%s]: ", question.c_str(), current.c_str());
    std::optional<std::string> answer = console_.ReadLine();
    if (!answer) return std::nullopt;
    return answer->empty() ? current : *answer;
}

bool TerminalFrontend::AskSettings(UpdateJob& job) {
    for (;;) {
        auto choice = Ask(TEXT_FORM_TRANSPORT, job.transport == TRANSPORT_SERIAL ? "2" : "1");
        if (!choice) return false;
        if (*choice == "1") {
            job.transport = TRANSPORT_LAN;
            break;
        }
        if (*choice == "2") {
            job.transport = TRANSPORT_SERIAL;
            break;
        }
    }
    if (job.transport == TRANSPORT_LAN) {
        for (;;) {
            auto text = Ask(TEXT_IP_ADDRESS, job.addressText);
            if (!text) return false;
            if (*text == SEARCH_ANSWER && search_) {
                text = SearchAndPick(job.addressText);
                if (!text) return false;
            }
            // Like the dialog's edit: more than 15 characters cannot be taken.
            if (text->size() <= ADDRESS_TEXT_MAX) {
                job.addressText = *text;
                return true;
            }
        }
    }
    for (;;) {
        std::string current = "COM" + std::to_string(job.comIndex < 4 ? job.comIndex + 1 : 1);
        auto port = Ask(TEXT_FORM_COM_PORT, current);
        if (!port) return false;
        std::string name = Lower(*port);
        if (name.size() == 1) name = "com" + name;
        if (name.size() == 4 && name.compare(0, 3, "com") == 0 && name[3] >= '1' && name[3] <= '4') {
            job.comIndex = static_cast<uint32_t>(name[3] - '1');
            return true;
        }
    }
}

std::optional<std::string> TerminalFrontend::SearchAndPick(const std::string& current) {
    for (;;) {
        SearchModel model = RunSearch();
        PrintTable(model);
        auto answer = Ask(TEXT_SEARCH_PICK_HINT, current);
        if (!answer) return std::nullopt;
        if (*answer == SEARCH_ANSWER) continue;
        if (std::optional<size_t> row = RowNumber(*answer, model.rows().size())) {
            return model.Choose(*row)->addressText;
        }
        return answer;
    }
}

SearchModel TerminalFrontend::RunSearch() {
    SearchModel model;
    EventPipe wake;
    if (!wake.ok()) {
        SearchEvent failed;
        failed.kind = SearchEvent::Kind::Finished;
        failed.outcome.error = "no pipe for the search's events";
        model.Start();
        model.Apply(failed);
        return model;
    }
    SearchRunner runner(search_, [&wake] { wake.Signal(); });
    model.Start();
    PrintLine(model.StateText());
    // Ctrl-C stops the search, as it cancels a prompt; what was found stays.
    Console::PromptScope prompt(console_);
    runner.Start();
    unsigned shownPercent = 101;
    while (model.phase() == SearchModel::Phase::Searching) {
        if (!console_.WaitForEvent(wake.readEnd())) {
            runner.Stop();
        } else {
            wake.Take();
        }
        for (const SearchEvent& event : runner.TakeEvents()) model.Apply(event);
        const unsigned percent = static_cast<unsigned>(uint64_t{model.barPos()} * 100 / model.barRange());
        if (console_.StdoutIsTerminal() && percent != shownPercent) {
            shownPercent = percent;
            std::fprintf(stdout, "\r%3u%%", percent);
            std::fflush(stdout);
        }
    }
    if (console_.StdoutIsTerminal()) std::fputs("\r\033[K", stdout);
    if (!model.error().empty()) std::fprintf(stderr, "quorsel: the search could not run: %s\n", model.error().c_str());
    return model;
}

void TerminalFrontend::PrintTable(const SearchModel& model) {
    // When subnets were left out, the subnets searched follow the table (or the not-found line).
    const std::string leftOut = model.LeftOutText();
    if (model.rows().empty()) {
        PrintLine(leftOut.empty() ? model.StateText() : std::string(TEXT_SEARCH_NONE_FOUND));
        if (!leftOut.empty()) PrintLine(leftOut);
        return;
    }
    const auto& titles = SearchColumnTitles();
    std::array<size_t, SEARCH_COLUMN_COUNT> widths{};
    for (size_t column = 0; column < SEARCH_COLUMN_COUNT; ++column) {
        widths[column] = DisplayWidth(titles[column]);
        for (const SearchRow& row : model.rows()) widths[column] = std::max(widths[column], DisplayWidth(row.cells[column]));
    }
    const size_t numberWidth = std::to_string(model.rows().size()).size() + 1;  // "12)"
    auto line = [&](const std::string& number, auto cell) {
        std::string text = PadTo(number, numberWidth + TABLE_GAP);
        for (size_t column = 0; column < SEARCH_COLUMN_COUNT; ++column) {
            text += column + 1 < SEARCH_COLUMN_COUNT ? PadTo(cell(column), widths[column] + TABLE_GAP) : cell(column);
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        PrintLine(text);
    };
    line("", [&](size_t column) { return std::string(titles[column]); });
    for (size_t index = 0; index < model.rows().size(); ++index) {
        line(std::to_string(index + 1) + ")", [&](size_t column) { return model.rows()[index].cells[column]; });
    }
    if (!leftOut.empty()) PrintLine(leftOut);
}

int TerminalFrontend::RunProgress(const UpdateJob& job, const RunSettings& settings) {
    lanRun_ = settings.transport != TRANSPORT_SERIAL;
    model_.emplace(job.address);
    model_->Start();
    PrintLine(model_->state().statusText);

    RunServices services{*this,
                         *this,
                         *this,
                         network_,
                         serialPorts_,
                         [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); },
                         [this](const char* text) {
                             std::lock_guard<std::mutex> lock(outputMutex_);
                             if (barShown_) std::fputs("\r\033[K", stdout);
                             barShown_ = false;
                             std::fputs(text, stdout);
                             std::fflush(stdout);
                         }};
    CAPThread worker;
    worker.Start(settings, services);
    StatusCode final = worker.Join();
    return ExitStatusFor(final);
}

void TerminalFrontend::PrintLine(const std::string& text) {
    // The bar keeps its line, at the position it was drawn at; the text goes below.
    if (barShown_) {
        std::fputs("\n", stdout);
        barShown_ = false;
    }
    std::fputs(text.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void TerminalFrontend::DrawBar() {
    unsigned percent = model_->Percent();
    size_t filled = BAR_WIDTH * percent / 100;
    std::string bar = "\r[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-') + "] ";
    std::fputs(bar.c_str(), stdout);
    std::fprintf(stdout, "%3u%%", percent);
    std::fflush(stdout);
    barShown_ = true;
}

void TerminalFrontend::Notify(StatusCode code, const TransferCounters& counters) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    StatusEffect effect = model_->Apply(code, counters);
    console_.SetBusy(model_->state().busy);
    // Every position the progress dialog's bar takes, the full bar at the end included,
    // drawn before the status line of the same code.
    if (effect.barChanged && console_.StdoutIsTerminal()) DrawBar();
    if (effect.textChanged) PrintLine(model_->state().statusText);
    if (code == STATUS_CONNECT_FAILED && lanRun_ && !pendingDiagnostic_.empty()) {
        // The address may be the wrong one: say how to find the access point.
        pendingDiagnostic_ += std::string("; ") + TEXT_SEARCH_SUGGESTION;
    }
    if (effect.finished && !pendingDiagnostic_.empty()) {
        std::fprintf(stderr, "%s\n", pendingDiagnostic_.c_str());
        pendingDiagnostic_.clear();
    }
    if (effect.completionBox) {
        PrintLine(TEXT_COMPLETION_BOX);  // its two lines
    }
}

void TerminalFrontend::Post(StatusCode code, const TransferCounters& counters) {
    Notify(code, counters);
}

void TerminalFrontend::Diagnose(const std::string& line) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    pendingDiagnostic_ = "quorsel: " + line;
}

std::optional<std::string> TerminalFrontend::AskPassword() {
    Console::PromptScope prompt(console_);
    for (;;) {
        std::printf("%s: ", TEXT_PASSWORD_PROMPT);
        std::optional<std::string> typed = console_.ReadSecret();
        if (!typed) return std::nullopt;
        std::optional<std::string> bytes = Utf8ToCp932(*typed);
        if (!bytes) {
            std::printf("%s\n", TEXT_PASSWORD_BAD_CHARACTER);
            continue;
        }
        if (bytes->size() > PASSWORD_MAX_BYTES) {
            std::string message = TEXT_PASSWORD_TOO_LONG_FORMAT;
            message.replace(message.find("%1"), 2, std::to_string(PASSWORD_MAX_BYTES));
            std::printf("%s\n", message.c_str());
            continue;
        }
        return bytes;
    }
}

bool TerminalFrontend::Show(PowerOnWait& wait) {
    Console::PromptScope prompt(console_);
    {
        std::lock_guard<std::mutex> lock(outputMutex_);
        PrintLine(TEXT_POWER_ON_LINE1);
        PrintLine(TEXT_POWER_ON_LINE2);
        PrintLine(TEXT_POWER_ON_LINE3);
    }
    EventPipe events;
    if (!events.ok()) return false;
    std::atomic<int> outcome{-1};
    wait.Start([&](PowerOnEvent event) {
        outcome = static_cast<int>(event);
        events.Signal();
    });
    bool signalled = console_.WaitForEvent(events.readEnd());
    wait.Stop();  // after this the worker never calls back, so the pipe may go
    if (!signalled) return false;
    switch (static_cast<PowerOnEvent>(outcome.load())) {
        case PowerOnEvent::Answered:
            return true;
        case PowerOnEvent::OpenFailed:
            std::fprintf(stderr, "%s\n", TEXT_PORT_OPEN_ERROR);
            return false;
        case PowerOnEvent::SetupFailed:
            std::fprintf(stderr, "%s\n", TEXT_PORT_SETUP_ERROR);
            return false;
    }
    return false;
}

}  // namespace quorsel
