// Reading a packed program file back the way the updater does: a report of its
// container, and the descrambled image.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/result.h"

namespace quorsel::pack {

// Opens the container in path and writes its fields, regions and range checksums to
// out; a signed file also gets a "signature:" line that says whether its bytes still
// match its Authenticode digest. nullopt on success, else which check failed: a file
// whose signature is broken or cannot be checked is reported, then refused.
std::optional<std::string> ReportContainer(const std::string& path, std::ostream& out);

// Opens the container in path and returns its image, descrambled.
Result<std::vector<uint8_t>, std::string> ExtractImage(const std::string& path);

}  // namespace quorsel::pack
