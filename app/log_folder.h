// Where this user's run log goes (UTF-8): Windows %LOCALAPPDATA%\Quorsel\logs;
// elsewhere $XDG_STATE_HOME/quorsel, by default ~/.local/state/quorsel. Empty when
// the environment names no such place.
#pragma once

#include <string>

namespace quorsel {

std::string RunLogFolder();

}  // namespace quorsel
