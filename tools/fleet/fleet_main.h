// quorsel-fleet's program, below its platform entry (main_posix.cpp, main_win32.cpp).
#pragma once

namespace quorsel {

// Runs quorsel-fleet with argv[0..argc-1] as UTF-8; the program's exit status.
int RunFleetProgram(int argc, const char* const* argv);

}  // namespace quorsel
