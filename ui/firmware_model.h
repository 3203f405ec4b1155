// The model code of the firmware file the updater carries, read once at start so
// that a search can mark the access points it fits.
#pragma once

#include <string>

namespace quorsel {

// The six-character model code of the container in the file at path; empty when
// the file holds no readable container (the search then marks nothing).
std::string FirmwareModelOf(const std::string& path);

}  // namespace quorsel
