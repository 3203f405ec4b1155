#include "ui/win32/wide_text.h"

#include <climits>
#include <vector>

#include "texts_utf16.h"

namespace quorsel {

namespace {

constexpr UINT SHIFT_JIS_CODE_PAGE = 932;

}  // namespace

std::wstring WideText(std::string_view utf8) {
    for (const WideTextEntry& entry : WIDE_TEXTS) {
        if (entry.utf8 == utf8) return entry.utf16;
    }
    if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int bytes = static_cast<int>(utf8.size());
    const int count = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, wide.data(), count);
    return wide;
}

std::wstring WindowTextOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(window, buffer.data(), length + 1);
    return std::wstring(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

std::string Cp932Lossy(std::wstring_view wide) {
    if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) return std::string();
    const int units = static_cast<int>(wide.size());
    const int count = ::WideCharToMultiByte(SHIFT_JIS_CODE_PAGE, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0,
                                            "?", nullptr);
    if (count <= 0) return std::string();
    std::string bytes(static_cast<size_t>(count), '\0');
    ::WideCharToMultiByte(SHIFT_JIS_CODE_PAGE, WC_NO_BEST_FIT_CHARS, wide.data(), units, bytes.data(), count, "?",
                          nullptr);
    return bytes;
}

std::wstring WideFromCp932(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int size = static_cast<int>(bytes.size());
    const int count = ::MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, 0, bytes.data(), size, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    ::MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, 0, bytes.data(), size, wide.data(), count);
    return wide;
}

}  // namespace quorsel
