#include "image/text_file.h"

#include <iostream>
#include <iterator>

namespace quorsel {

Result<std::string, std::string> ReadTextFileOrInput(const std::string& path) {
    if (path != "-") return ReadTextFile(path);
    std::string text;
    char buffer[4096];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(std::cin.gcount()));
        if (text.size() > TEXT_FILE_MAX_BYTES) {
            return Fail("standard input: larger than " + std::to_string(TEXT_FILE_MAX_BYTES) + " bytes");
        }
    }
    if (std::cin.bad()) return Fail(std::string("standard input: cannot be read"));
    return text;
}

}  // namespace quorsel
