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
// out. nullopt on success, else which check failed.
std::optional<std::string> ReportContainer(const std::string& path, std::ostream& out);

// Opens the container in path and returns its image, descrambled.
Result<std::vector<uint8_t>, std::string> ExtractImage(const std::string& path);

}  // namespace quorsel::pack
