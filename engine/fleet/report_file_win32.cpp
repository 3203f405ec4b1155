// The report's atomic replacement on Windows: a temporary file next to it, written
// and flushed, then moved over it by a rename that replaces an existing file.
#include <windows.h>

#include <cstdio>

#include "engine/fleet/fleet_report.h"
#include "image/wide_path_win32.h"

namespace quorsel {

std::optional<std::string> ReplaceFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    const std::optional<std::wstring> widePath = WidePath(path);
    const std::optional<std::wstring> wideTemporary = WidePath(temporary);
    if (!widePath || !wideTemporary) return path + ": the name is not valid UTF-8";
    std::FILE* file = ::_wfopen(wideTemporary->c_str(), L"wb");
    if (file == nullptr) return temporary + ": cannot be created";
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (written &&
        ::MoveFileExW(wideTemporary->c_str(), widePath->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return std::nullopt;
    }
    ::DeleteFileW(wideTemporary->c_str());
    return path + (written ? ": cannot be replaced" : ": cannot be written");
}

}  // namespace quorsel
