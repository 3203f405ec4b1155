// Conversion of user-entered text to the code page the access point uses (932, Shift-JIS).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorsel {

// UTF-8 to code page 932; nullopt when the text has a character that page cannot hold.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

}  // namespace quorsel
