#include "tools/pack/printable.h"

namespace quorsel::pack {

std::string PrintableBytes(const uint8_t* bytes, size_t n) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0x20 && b < 0x7F && b != '\\' && b != '"') {
            text += static_cast<char>(b);
        } else {
            text += "\\x";
            text += HEX[b >> 4];
            text += HEX[b & 0xF];
        }
    }
    return text;
}

}  // namespace quorsel::pack
