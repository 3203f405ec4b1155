#include "ui/progress_model.h"

#include <cstdio>

#include "res/texts.h"

namespace quorsel {

void ProgressModel::Start() {
    state_.busy = false;
    state_.statusText = TEXT_PREPARING;
}

void ProgressModel::SetText(std::string text, StatusEffect& effect) {
    state_.statusText = std::move(text);
    effect.textChanged = true;
}

void ProgressModel::SetBusy(StatusEffect& effect) {
    state_.busy = true;
    state_.cancelEnabled = false;
    effect.busyChanged = true;
}

void ProgressModel::Finish(StatusEffect& effect) {
    state_.cancelEnabled = true;
    state_.okVisible = true;
    state_.busy = false;
    state_.ended = true;
    effect.busyChanged = true;
    effect.finished = true;
}

StatusEffect ProgressModel::Apply(int code, const TransferCounters& counters) {
    StatusEffect effect;
    switch (code) {
        case STATUS_CONNECTING:
            SetText(TEXT_CONNECTING, effect);
            break;
        case STATUS_TRANSFERRING:
            SetText(TEXT_TRANSFERRING, effect);
            break;
        case STATUS_WRITING:
            SetBusy(effect);
            SetText(TEXT_WRITING, effect);
            break;
        case STATUS_CONNECT_FAILED: {
            char text[96];
            std::snprintf(text, sizeof text, TEXT_CONNECT_FAILED_FORMAT, address_[0], address_[1], address_[2],
                          address_[3]);
            SetText(text, effect);
            Finish(effect);
            break;
        }
        case STATUS_COMM_ERROR:
            SetText(TEXT_COMM_ERROR, effect);
            Finish(effect);
            break;
        case STATUS_WRITE_ERROR:
            SetText(TEXT_WRITE_ERROR, effect);
            Finish(effect);
            break;
        case STATUS_WRONG_MODEL:
            SetText(TEXT_WRONG_MODEL, effect);
            Finish(effect);
            break;
        case STATUS_FILE_ERROR:
            SetText(TEXT_FILE_ERROR, effect);
            Finish(effect);
            break;
        case STATUS_PROGRESS:
            state_.barRange = counters.total;
            state_.barPos = counters.done;
            effect.barChanged = true;
            break;
        case STATUS_SERIAL_PROGRESS:
            state_.barRange = counters.total;
            state_.barPos = counters.done * 80u / 100u;
            effect.barChanged = true;
            break;
        case STATUS_FLASH_WRITING:
            SetBusy(effect);
            state_.barRange = counters.total;
            state_.barPos = counters.total * 90u / 100u;
            effect.barChanged = true;
            SetText(TEXT_WRITING, effect);
            break;
        case STATUS_ERASING:
            SetBusy(effect);
            SetText(TEXT_ERASING, effect);
            break;
        case STATUS_COMPLETE:
            state_.barRange = counters.total;
            state_.barPos = counters.total;
            effect.barChanged = true;
            SetText(TEXT_COMPLETE, effect);
            effect.completionBox = true;
            Finish(effect);
            break;
        case STATUS_BAD_PASSWORD:
            SetText(TEXT_BAD_PASSWORD, effect);
            Finish(effect);
            break;
        case STATUS_ABORTED:
            SetText(TEXT_ABORTED, effect);
            Finish(effect);
            break;
        default:
            break;  // unknown codes change nothing
    }
    return effect;
}

unsigned ProgressModel::Percent() const {
    if (state_.barRange == 0) return 0;
    // Nearest, so that the 90 % of the flash write (total * 90 / 100, truncated)
    // shows as 90; 100 only for the full bar.
    const uint64_t range = state_.barRange;
    const uint64_t pos = state_.barPos < range ? state_.barPos : range;
    const uint64_t percent = (pos * 200u + range) / (2u * range);
    return static_cast<unsigned>(percent >= 100 && pos < range ? 99 : percent);
}

}  // namespace quorsel
