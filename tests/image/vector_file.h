// Reading the known-answer files under tests/data: one record per line, a key and the
// rest of the line; '#' starts a comment line.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quorsel::testing {

struct VectorLine {
    std::string key;
    std::string rest;                 // the line after the key
    std::vector<std::string> tokens;  // rest split at white space
};

inline std::vector<VectorLine> ReadVectorFile(const std::string& name) {
    std::vector<VectorLine> lines;
    std::ifstream in(std::string(QUORSEL_FIRMWARE_DIR) + "/" + name);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        VectorLine record;
        const size_t space = line.find(' ');
        record.key = line.substr(0, space);
        record.rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        std::istringstream words(record.rest);
        std::string word;
        while (words >> word) {
            record.tokens.push_back(word);
        }
        lines.push_back(record);
    }
    return lines;
}

// The records of test-vectors.txt, read once.
inline const std::vector<VectorLine>& TestVectors() {
    static const std::vector<VectorLine> lines = ReadVectorFile("test-vectors.txt");
    return lines;
}

inline uint32_t Hex(const std::string& text) { return static_cast<uint32_t>(std::stoul(text, nullptr, 16)); }

inline std::vector<uint8_t> HexBytes(const std::vector<std::string>& tokens, size_t begin, size_t count) {
    std::vector<uint8_t> bytes;
    for (size_t i = begin; i < begin + count && i < tokens.size(); ++i) {
        bytes.push_back(static_cast<uint8_t>(Hex(tokens[i])));
    }
    return bytes;
}

// The lines whose key starts with prefix.
inline std::vector<VectorLine> LinesWithPrefix(const std::vector<VectorLine>& lines, const std::string& prefix) {
    std::vector<VectorLine> found;
    for (const VectorLine& line : lines) {
        if (line.key.rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

}  // namespace quorsel::testing
