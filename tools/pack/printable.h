// Bytes shown in messages: printable ASCII as is, everything else as \xHH.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorsel::pack {

std::string PrintableBytes(const uint8_t* bytes, size_t n);

}  // namespace quorsel::pack
