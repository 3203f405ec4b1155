// UpdateJob: the settings of one update run.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/options.h"

namespace quorsel {

constexpr uint32_t TRANSPORT_LAN = 0;
constexpr uint32_t TRANSPORT_SERIAL = 1;

constexpr uint16_t LAN_UPDATE_PORT = 9002;
constexpr uint32_t DEFAULT_BAUD_RATE = 115200;
constexpr const char* DEFAULT_ADDRESS_TEXT = "192.168.1.254";
constexpr size_t ADDRESS_TEXT_MAX = 15;

struct UpdateJob {
    uint16_t optionFlags = OPTION_DEFAULT_REGIONS;
    // Port and IPv4 address in network byte order, as in an IPv4 socket address.
    std::array<uint8_t, 2> tcpPort{};
    std::array<uint8_t, 4> address{};
    uint32_t baudRate = DEFAULT_BAUD_RATE;
    uint32_t comIndex = 0;  // COM1..COM4 as 0..3, when portName is empty
    // Any other serial port: "COM5" to "COM256" (upper case) or a device path.
    std::string portName;
    std::string addressText = DEFAULT_ADDRESS_TEXT;  // at most 15 characters
    uint32_t transport = TRANSPORT_LAN;
};

}  // namespace quorsel
