#include "ui/win32/status_hand_over.h"

#include "res/resource_ids.h"

namespace quorsel {

namespace {

constexpr WPARAM STATUS_COMMAND = MAKEWPARAM(CTL_STATUS_COMMAND, BN_CLICKED);

// Holds an SRW lock for one scope.
class Locked {
public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Locked() { ReleaseSRWLockExclusive(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace

StatusHandOver::StatusHandOver() {
    InitializeSRWLock(&lock_);
    InitializeConditionVariable(&changed_);
}

void StatusHandOver::WaitUntilIdle() {
    while (pendingCode_ != STATUS_NONE || inHand_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
}

bool StatusHandOver::Hand(HWND dialog, StatusCode code, const TransferCounters& counters) {
    // One code at a time: a posted code still on its way is handled first.
    WaitUntilIdle();
    if (!PostMessageW(dialog, WM_COMMAND, STATUS_COMMAND, 0)) return false;  // no dialog to handle it
    pendingCode_ = code;
    counters_ = counters;
    return true;
}

void StatusHandOver::Send(HWND dialog, StatusCode code, const TransferCounters& counters) {
    Locked locked(lock_);
    if (Hand(dialog, code, counters)) WaitUntilIdle();
}

void StatusHandOver::Post(HWND dialog, StatusCode code, const TransferCounters& counters) {
    Locked locked(lock_);
    Hand(dialog, code, counters);
}

StatusCode StatusHandOver::Take(TransferCounters& counters) {
    Locked locked(lock_);
    const StatusCode code = pendingCode_;
    if (code == STATUS_NONE) return code;
    counters = counters_;
    pendingCode_ = STATUS_NONE;
    inHand_ = true;
    return code;
}

void StatusHandOver::Done() {
    {
        Locked locked(lock_);
        if (!inHand_) return;
        inHand_ = false;
    }
    WakeAllConditionVariable(&changed_);
}

}  // namespace quorsel
