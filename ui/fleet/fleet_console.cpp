// The fleet console's portable parts: the reading of a yes/no answer and the form
// of a local timestamp.
#include "ui/fleet/fleet_console.h"

#include <cstdio>
#include <cstdlib>

namespace quorsel {

namespace {

constexpr const char* ANSWER_BLANKS = " \t\r\n";
constexpr const char* JAPANESE_YES = "はい";  // a word of the answer, like "yes": not a text shown

std::string Lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

bool IsYesAnswer(const std::string& answer) {
    const size_t first = answer.find_first_not_of(ANSWER_BLANKS);
    if (first == std::string::npos) return false;
    const size_t last = answer.find_last_not_of(ANSWER_BLANKS);
    const std::string word = Lowered(answer.substr(first, last - first + 1));
    return word == "y" || word == "yes" || word == JAPANESE_YES;
}

std::string FormatLocalTimestamp(const std::tm& local, long offsetSeconds) {
    const char sign = offsetSeconds < 0 ? '-' : '+';
    // Time zones lie within a day of UTC.
    const int offsetMinutes = static_cast<int>(std::labs(offsetSeconds) / 60 % (24 * 60));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, sign,
                  offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

}  // namespace quorsel
