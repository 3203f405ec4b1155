// The names a serial port goes by: "COM1" to "COM256" in any case.
#include "engine/serial_line.h"

namespace quorsel {

std::optional<uint32_t> ComPortNumber(const std::string& text) {
    constexpr size_t PREFIX_LENGTH = 3;  // "com"
    constexpr size_t DIGITS_MAX = 3;     // up to "256"
    if (text.size() <= PREFIX_LENGTH || text.size() > PREFIX_LENGTH + DIGITS_MAX) return std::nullopt;
    for (size_t i = 0; i < PREFIX_LENGTH; ++i) {
        const char c = text[i];
        if (c != "com"[i] && c != "COM"[i]) return std::nullopt;
    }
    if (text[PREFIX_LENGTH] == '0') return std::nullopt;
    uint32_t number = 0;
    for (size_t i = PREFIX_LENGTH; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    if (number < 1 || number > COM_PORT_NUMBER_MAX) return std::nullopt;
    return number;
}

}  // namespace quorsel
