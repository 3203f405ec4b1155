// What each status code does to the progress display: status line, bar, buttons,
// busy lock and completion box. Shared by the desktop and the terminal front-ends.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/status_code.h"
#include "engine/transfer.h"

namespace quorsel {

struct ProgressState {
    std::string statusText;  // the status line
    uint32_t barRange = 100; // the bar runs from 0 to barRange
    uint32_t barPos = 0;
    bool busy = false;           // the access point erases or writes: no cancel, no close
    bool cancelEnabled = true;
    bool okVisible = false;
    bool ended = false;          // a final code arrived
};

// The visible changes one code makes, to be applied in this order:
// busy lock, bar update, status line, completion box, finish.
struct StatusEffect {
    bool busyChanged = false;
    bool barChanged = false;
    bool textChanged = false;
    bool completionBox = false;
    bool finished = false;
};

class ProgressModel {
public:
    // address: the job's IPv4 address, for the connect-failure text.
    explicit ProgressModel(std::array<uint8_t, 4> address) : address_(address) {}

    // The worker starts: "準備中", not busy.
    void Start();
    StatusEffect Apply(int code, const TransferCounters& counters);
    const ProgressState& state() const { return state_; }
    // A close request (or Ctrl-C) is honoured only outside the busy lock.
    bool CloseAllowed() const { return !state_.busy; }
    // The bar position as the nearest whole percentage of its range (100 only when full).
    unsigned Percent() const;

private:
    void SetText(std::string text, StatusEffect& effect);
    void SetBusy(StatusEffect& effect);
    void Finish(StatusEffect& effect);

    std::array<uint8_t, 4> address_;
    ProgressState state_;
};

}  // namespace quorsel
