// The process's own command line and executable on Windows.
#include "app/process_win32.h"

#include <windows.h>

#include <vector>

#include "image/wide_path_win32.h"

namespace quorsel {

namespace {

constexpr DWORD MODULE_PATH_INITIAL = MAX_PATH;
// Longest path the UTF-16 interfaces accept.
constexpr DWORD MODULE_PATH_MAX = 32768;

}  // namespace

std::string ProcessCommandLine() {
    const char* text = ::GetCommandLineA();
    return text != nullptr ? std::string(text) : std::string();
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
