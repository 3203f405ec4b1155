#include <sstream>

#include "engine/search/search_targets.h"

namespace quorsel {

Result<std::vector<std::string>, std::string> ReadTargetArguments(const std::vector<std::string>& arguments,
                                                                  const TargetFileReader& read) {
    std::vector<std::string> targets;
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument[0] != '@') {
            targets.push_back(argument);
            continue;
        }
        auto contents = read(argument.substr(1));
        if (!contents) return Fail(contents.error());
        std::istringstream lines(contents.value());
        std::string line;
        while (std::getline(lines, line)) {
            line = line.substr(0, line.find('#'));
            const size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos) continue;
            targets.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
        }
    }
    return targets;
}

}  // namespace quorsel
