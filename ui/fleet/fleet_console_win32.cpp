// The fleet's console on Windows: console modes for the password and the live
// table, and a console control handler for Ctrl-C, Ctrl-Break and the console's
// close (also log-off and shut-down). On a close the system ends the process once
// the handler returns, so the handler waits for Finished(), within the time the
// system gives.
#include "ui/fleet/fleet_console.h"

#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "res/texts.h"

namespace quorsel {

namespace {

constexpr DWORD LINE_CHARACTERS_MAX = 256;

// The one console control handler of the process and what it waits for.
std::mutex handlerMutex;
std::condition_variable finishedChanged;
std::function<void()> interruptHandler;
bool handlerInstalled = false;
bool finished = false;

bool EndsTheProcess(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !EndsTheProcess(event)) return FALSE;
    // Held while the handler runs: once OnInterrupt has replaced it, the old one is
    // not running and whatever it refers to may go.
    std::unique_lock<std::mutex> lock(handlerMutex);
    if (!interruptHandler) return FALSE;
    interruptHandler();
    if (EndsTheProcess(event)) {
        // Returning lets the system end the process: not before the report is written.
        finishedChanged.wait_for(lock, CONSOLE_CLOSE_WAIT_MAX, [] { return finished; });
    }
    return TRUE;
}

std::string ToUtf8(const wchar_t* text, int length) {
    if (length <= 0) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::optional<std::string> LineFromStdin() {
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// One line typed at the console, with or without echo; nullopt on Ctrl-C (then
// *stopped is set) or at end of input.
std::optional<std::string> ConsoleLine(HANDLE in, DWORD mode, bool echo, bool* stopped = nullptr) {
    DWORD lineMode = mode | ENABLE_LINE_INPUT;
    lineMode = echo ? (lineMode | ENABLE_ECHO_INPUT) : (lineMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    SetConsoleMode(in, lineMode);
    wchar_t typed[LINE_CHARACTERS_MAX];
    DWORD count = 0;
    const BOOL read = ReadConsoleW(in, typed, LINE_CHARACTERS_MAX, &count, nullptr);
    if (!read && GetLastError() == ERROR_OPERATION_ABORTED && stopped != nullptr) *stopped = true;
    SetConsoleMode(in, mode);
    if (!read || count == 0) return std::nullopt;
    int length = static_cast<int>(count);
    while (length > 0 && (typed[length - 1] == L'\n' || typed[length - 1] == L'\r')) --length;
    return ToUtf8(typed, length);
}

}  // namespace

struct FleetConsole::Impl {
    bool outputIsTerminal = false;
    UINT savedOutputCodePage = 0;
};

FleetConsole::FleetConsole() : impl_(std::make_unique<Impl>()) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        // Cursor movement for the table in place; without it the table is printed as a log.
        impl_->outputIsTerminal = SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }
    impl_->savedOutputCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);  // the texts are UTF-8
}

FleetConsole::~FleetConsole() {
    Finished();
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        interruptHandler = nullptr;
        if (handlerInstalled) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        handlerInstalled = false;
    }
    if (impl_->savedOutputCodePage != 0) SetConsoleOutputCP(impl_->savedOutputCodePage);
}

bool FleetConsole::OutputIsTerminal() const { return impl_->outputIsTerminal; }
bool FleetConsole::InputIsTerminal() const {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    return in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode);
}

FleetConsole::Size FleetConsole::TerminalSize() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return Size{};
    const auto columns = info.srWindow.Right - info.srWindow.Left + 1;
    const auto rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return Size{static_cast<size_t>(columns > 0 ? columns : 0), static_cast<size_t>(rows > 0 ? rows : 0)};
}

std::optional<std::string> FleetConsole::ReadPassword(const char* prompt) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return LineFromStdin();
    std::printf("%s: ", prompt);
    std::fflush(stdout);
    std::optional<std::string> line = ConsoleLine(in, mode, false);
    std::printf("\n");  // the Enter was not echoed
    std::fflush(stdout);
    return line;
}

std::optional<bool> FleetConsole::Confirm(const char* prompt) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return std::nullopt;
    std::printf("%s%s", prompt, TEXT_FLEET_CONFIRM_CHOICES);
    std::fflush(stdout);
    bool stopped = false;
    const std::optional<std::string> answer = ConsoleLine(in, mode, true, &stopped);
    if (!answer) return stopped ? std::optional<bool>(false) : std::nullopt;  // Ctrl-C at the question: no
    return IsYesAnswer(*answer);
}

void FleetConsole::OnInterrupt(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    interruptHandler = std::move(handler);
    if (!handlerInstalled) handlerInstalled = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

void FleetConsole::Finished() {
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        finished = true;
    }
    finishedChanged.notify_all();
}

std::string LocalTimestamp(std::chrono::system_clock::time_point time) {
    __time64_t seconds = static_cast<__time64_t>(std::chrono::system_clock::to_time_t(time));
    std::tm local{};
    if (_localtime64_s(&local, &seconds) != 0) return FormatLocalTimestamp(local, 0);
    // The local fields read as UTC, less the time itself: the offset from UTC.
    std::tm asUtc = local;
    const __time64_t shifted = _mkgmtime64(&asUtc);
    return FormatLocalTimestamp(local, static_cast<long>(shifted - seconds));
}

}  // namespace quorsel
