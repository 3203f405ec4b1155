// The updater's process exit statuses, and the status for the code that ended a run.
#pragma once

#include "engine/status_code.h"

namespace quorsel {

constexpr int EXIT_COMPLETED = 0;          // the run ended with "正常終了"
constexpr int EXIT_USER_ENDED = 1;         // settings cancelled, or the program ended mid-run
constexpr int EXIT_INVALID_ARGUMENTS = 2;
constexpr int EXIT_SOCKET_LAYER = 3;

// The exit status for the code that ended a run: 0 for STATUS_COMPLETE, else code - 256.
int ExitStatusFor(StatusCode finalCode);

}  // namespace quorsel
