// UTF-8 to code page 932 through the system's own conversion tables: UTF-8 to
// UTF-16, then UTF-16 to code page 932 without best-fit substitutes.
#include "image/text_encoding.h"

#include <windows.h>

#include <climits>

namespace quorsel {

namespace {

constexpr UINT SHIFT_JIS_CODE_PAGE = 932;

}  // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    if (utf8.empty()) {
        return std::string();
    }
    if (utf8.size() > static_cast<size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int inBytes = static_cast<int>(utf8.size());
    // Malformed UTF-8 is refused rather than replaced by U+FFFD.
    const int wideCount = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inBytes, nullptr, 0);
    if (wideCount <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<size_t>(wideCount), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inBytes, wide.data(), wideCount) !=
        wideCount) {
        return std::nullopt;
    }
    // No best-fit mapping (which would turn, say, a character the page lacks into a
    // look-alike), and any character without an exact code fails the conversion.
    BOOL usedDefault = FALSE;
    const int outCount = ::WideCharToMultiByte(SHIFT_JIS_CODE_PAGE, WC_NO_BEST_FIT_CHARS, wide.data(), wideCount,
                                               nullptr, 0, nullptr, &usedDefault);
    if (outCount <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string output(static_cast<size_t>(outCount), '\0');
    usedDefault = FALSE;
    if (::WideCharToMultiByte(SHIFT_JIS_CODE_PAGE, WC_NO_BEST_FIT_CHARS, wide.data(), wideCount, output.data(),
                              outCount, nullptr, &usedDefault) != outCount ||
        usedDefault) {
        return std::nullopt;
    }
    return output;
}

}  // namespace quorsel
