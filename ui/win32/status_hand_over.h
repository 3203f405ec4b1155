// The one status code on its way from the run's worker (its only sender) to the
// progress dialog.
// The worker stores the code, posts the status command (1019) to the dialog and
// waits until the dialog has handled it; the dialog takes the code in its handler
// and releases the worker when it is done with it, any message box included.
// A sent message would do the same, but under Wine a cross-thread send costs about
// twice the server round trips of a post, once per block; the worker's wait here is
// on a condition variable, which costs none.
#pragma once

#include <windows.h>

#include "engine/status_code.h"
#include "engine/transfer.h"

namespace quorsel {

class StatusHandOver {
public:
    StatusHandOver();
    StatusHandOver(const StatusHandOver&) = delete;
    StatusHandOver& operator=(const StatusHandOver&) = delete;

    // Worker: hands the code over and returns once the dialog has called Done for it.
    // Returns at once when the dialog's window is gone.
    void Send(HWND dialog, StatusCode code, const TransferCounters& counters);
    // Worker: hands the code over without waiting (the abort after a cancelled
    // power-on prompt).
    void Post(HWND dialog, StatusCode code, const TransferCounters& counters);

    // Dialog: the code handed over, if any (STATUS_NONE otherwise), and its counters.
    StatusCode Take(TransferCounters& counters);
    // Dialog: the code taken last has been handled; its sender goes on.
    void Done();

private:
    // Waits until no code is stored or in hand; the lock is held.
    void WaitUntilIdle();
    // Posts the status command and stores the code, once the one before is handled;
    // false when the dialog's window is gone. The lock is held.
    bool Hand(HWND dialog, StatusCode code, const TransferCounters& counters);

    SRWLOCK lock_;
    CONDITION_VARIABLE changed_;
    StatusCode pendingCode_ = STATUS_NONE;  // stored, not yet taken
    TransferCounters counters_;
    bool inHand_ = false;  // taken, not yet done
};

}  // namespace quorsel
