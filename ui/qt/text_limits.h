// Cutting user text to a byte limit without splitting a UTF-8 character.
#pragma once

#include <cstddef>
#include <string>

namespace quorsel {

// The longest prefix of utf8 that has at most maxBytes bytes and ends on a
// character boundary.
inline std::string CutUtf8(const std::string& utf8, size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the character.
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    return utf8.substr(0, end);
}

}  // namespace quorsel
