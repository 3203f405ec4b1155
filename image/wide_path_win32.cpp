// UTF-8 <-> UTF-16 through the system's own conversion, refusing malformed input
// rather than replacing it (a replaced character would name another file).
#include "image/wide_path_win32.h"

#include <windows.h>

#include <climits>

namespace quorsel {

std::optional<std::wstring> WidePath(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    if (utf8.size() > static_cast<size_t>(INT_MAX)) return std::nullopt;
    const int bytes = static_cast<int>(utf8.size());
    const int count = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), bytes, nullptr, 0);
    if (count <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(count), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), bytes, wide.data(), count) != count) {
        return std::nullopt;
    }
    return wide;
}

std::optional<std::string> Utf8Path(std::wstring_view wide) {
    if (wide.empty()) return std::string();
    if (wide.size() > static_cast<size_t>(INT_MAX)) return std::nullopt;
    const int units = static_cast<int>(wide.size());
    const int count =
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::nullopt;
    std::string utf8(static_cast<size_t>(count), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units, utf8.data(), count, nullptr,
                              nullptr) != count) {
        return std::nullopt;
    }
    return utf8;
}

}  // namespace quorsel
