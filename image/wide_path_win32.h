// Paths on Windows: held as UTF-8 inside the program, handed to the system through
// its UTF-16 ("W") interfaces, so that any character of a file name reaches it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorsel {

// UTF-8 to UTF-16; nullopt for malformed UTF-8 or text too long for the system.
std::optional<std::wstring> WidePath(std::string_view utf8);
// UTF-16 to UTF-8; nullopt for an unpaired surrogate.
std::optional<std::string> Utf8Path(std::wstring_view wide);

}  // namespace quorsel
