// Reading a small text file whole: a target list, a password file. The error is one
// line for the user that names the file and says what is wrong with it.
#pragma once

#include <cstddef>
#include <string>

#include "common/result.h"

namespace quorsel {

// A text file is never larger than this; a larger one is refused, so that a device
// or a huge file given by mistake is not read into memory.
constexpr size_t TEXT_FILE_MAX_BYTES = 16 * 1024 * 1024;

// The bytes of the file at path (a UTF-8 path; on Windows it reaches the system
// through the UTF-16 interfaces). Errors: "PATH: no such file", "PATH: is a folder,
// not a file", "PATH: cannot be read (REASON)", "PATH: larger than ... bytes".
Result<std::string, std::string> ReadTextFile(const std::string& path);

// ReadTextFile, except that "-" is standard input, read to its end.
Result<std::string, std::string> ReadTextFileOrInput(const std::string& path);

}  // namespace quorsel
