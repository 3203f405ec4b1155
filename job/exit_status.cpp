#include "job/exit_status.h"

namespace quorsel {

int ExitStatusFor(StatusCode finalCode) {
    if (finalCode == STATUS_COMPLETE) return EXIT_COMPLETED;
    if (finalCode == STATUS_NONE) return EXIT_USER_ENDED;
    return static_cast<int>(finalCode) - 256;
}

}  // namespace quorsel
