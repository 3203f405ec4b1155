// A UTF-8 path as the standard library's path: on Windows the streams opened with it
// reach the system through its UTF-16 interfaces, so any character of a name does;
// elsewhere the bytes are the name.
#pragma once

#include <filesystem>
#include <string>

namespace quorsel {

inline std::filesystem::path Utf8FilePath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace quorsel
