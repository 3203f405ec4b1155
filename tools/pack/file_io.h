// Reading the packer's inputs and replacing its outputs in one step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/result.h"

namespace quorsel::pack {

// Size of a regular file, or the reason it cannot be used as an input.
Result<uint64_t, std::string> InputFileSize(const std::string& path);

// The whole content of a regular file, or the reason it cannot be read.
Result<std::vector<uint8_t>, std::string> ReadInputFile(const std::string& path);

// Writes bytes to a temporary file next to path, gives it mode, and renames it over
// path. On failure nothing is left behind and an existing file at path is untouched.
// nullopt on success, else the reason.
std::optional<std::string> ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode);

}  // namespace quorsel::pack
