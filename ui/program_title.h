// The application's title, the caption of the program's message boxes: the program
// file's name without its folders and its extension.
#pragma once

#include <string>
#include <string_view>

namespace quorsel {

// path is UTF-8. The name begins after the last '\', '/' or ':' character and ends
// before its last '.', unless that dot begins the name. Found by characters: in
// UTF-8 these three and '.' never occur inside another character's bytes, as the
// second byte of a double-byte character of code page 932 can be 0x5C.
std::string ProgramTitle(std::string_view path);

}  // namespace quorsel
