// The process's own command line, arguments, console and executable on Windows.
#include "app/process_win32.h"

#include <windows.h>

#include <climits>
#include <cwchar>
#include <utility>
#include <vector>

#include "image/wide_path_win32.h"

namespace quorsel {

namespace {

constexpr DWORD MODULE_PATH_INITIAL = MAX_PATH;
// Longest path the UTF-16 interfaces accept.
constexpr DWORD MODULE_PATH_MAX = 32768;

}  // namespace

std::string ProcessCommandLine() {
    const wchar_t* text = ::GetCommandLineW();
    if (text == nullptr) return std::string();
    const size_t units = std::wcslen(text);
    if (units == 0 || units > static_cast<size_t>(INT_MAX)) return std::string();
    // Flags 0: an unpaired surrogate is replaced rather than failing the whole line.
    const int length = static_cast<int>(units);
    const int count = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::string();
    std::string utf8(static_cast<size_t>(count), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), count, nullptr, nullptr) != count) {
        return std::string();
    }
    return utf8;
}

Utf8Arguments::Utf8Arguments(std::vector<std::string> texts) : texts_(std::move(texts)) {
    for (const std::string& text : texts_) pointers_.push_back(text.c_str());
    pointers_.push_back(nullptr);
}

Utf8Arguments::Utf8Arguments(Utf8Arguments&& other) noexcept
    : texts_(std::move(other.texts_)), pointers_(std::move(other.pointers_)) {}

std::optional<Utf8Arguments> Utf8Arguments::From(int argc, const wchar_t* const* argv) {
    std::vector<std::string> texts;
    for (int i = 0; i < argc; ++i) {
        std::optional<std::string> text = Utf8Path(argv[i] != nullptr ? std::wstring_view(argv[i]) : std::wstring_view());
        if (!text) return std::nullopt;
        texts.push_back(std::move(*text));
    }
    return Utf8Arguments(std::move(texts));
}

Utf8ConsoleOutput::Utf8ConsoleOutput() : saved_(::GetConsoleOutputCP()) {
    if (saved_ != 0) ::SetConsoleOutputCP(CP_UTF8);
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
    if (saved_ != 0) ::SetConsoleOutputCP(saved_);
}

std::optional<std::string> RunningExecutablePath() {
    // A path that does not fit is cut short and the buffer filled: grow it and ask again.
    for (DWORD size = MODULE_PATH_INITIAL; size <= MODULE_PATH_MAX; size *= 2) {
        std::vector<wchar_t> buffer(size);
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) return std::nullopt;
        if (length < size) return Utf8Path(std::wstring_view(buffer.data(), length));
    }
    return std::nullopt;
}

}  // namespace quorsel
