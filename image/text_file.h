// A whole text file read into memory (target lists, password files).
#pragma once

#include <string>

#include "common/result.h"

namespace quorsel {

// The file's bytes; the error names the file and what is wrong with it (not found,
// is a directory, unreadable).
Result<std::string, std::string> ReadTextFile(const std::string& path);

}  // namespace quorsel
