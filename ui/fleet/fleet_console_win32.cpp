// The fleet's console on Windows: console modes for the password and the live
// table, and a console control handler for Ctrl-C.
#include "ui/fleet/fleet_console.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace quorsel {

namespace {

constexpr DWORD PASSWORD_CHARACTERS_MAX = 256;

std::mutex handlerMutex;
std::function<void()> interruptHandler;  // the one console control handler of the process

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = interruptHandler;
    }
    if (!handler) return FALSE;
    handler();
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
    OnInterrupt(nullptr);
    if (impl_->savedOutputCodePage != 0) SetConsoleOutputCP(impl_->savedOutputCodePage);
}

bool FleetConsole::OutputIsTerminal() const { return impl_->outputIsTerminal; }

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
    SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    wchar_t typed[PASSWORD_CHARACTERS_MAX];
    DWORD count = 0;
    const BOOL read = ReadConsoleW(in, typed, PASSWORD_CHARACTERS_MAX, &count, nullptr);
    SetConsoleMode(in, mode);
    std::printf("\n");
    if (!read || count == 0) return std::nullopt;
    int length = static_cast<int>(count);
    while (length > 0 && (typed[length - 1] == L'\n' || typed[length - 1] == L'\r')) --length;
    return ToUtf8(typed, length);
}

std::optional<bool> FleetConsole::Confirm(const char* prompt) {
    DWORD mode = 0;
    if (!impl_->outputIsTerminal || !GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return std::nullopt;
    std::printf("%s [y/N]: ", prompt);
    std::fflush(stdout);
    const std::optional<std::string> answer = LineFromStdin();
    if (!answer) return std::nullopt;
    return !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

void FleetConsole::OnInterrupt(std::function<void()> handler) {
    const bool install = static_cast<bool>(handler);
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        interruptHandler = std::move(handler);
    }
    SetConsoleCtrlHandler(OnConsoleControl, install ? TRUE : FALSE);
}

}  // namespace quorsel
