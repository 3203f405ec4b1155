#include <windows.h>

#include <string>

#include "engine/run_log.h"
#include "image/wide_path_win32.h"

namespace quorsel {

std::string RunLogFolder() {
    // Through the UTF-16 interface: a user name outside the code page stays whole.
    const DWORD needed = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (needed <= 1) return {};
    std::wstring folder(needed, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), needed);
    if (length == 0 || length >= needed) return {};
    folder.resize(length);
    return Utf8Path(folder + L"\\Quorsel\\logs").value_or(std::string());
}

}  // namespace quorsel
