// The progress dialog (129): status line, progress bar, Cancel, and OK once the run
// has ended. It starts the run on its first paint; the worker then hands it each
// status code through its StatusHandOver and the command of the hidden control 1019.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>

#include "engine/transfer.h"
#include "ui/progress_model.h"
#include "ui/win32/modal_dialog.h"
#include "ui/win32/status_hand_over.h"

namespace quorsel {

class ProgressDialog : public ModalDialog {
public:
    // address: the job's IPv4 address, for the connect-failure text.
    ProgressDialog(HINSTANCE instance, std::array<uint8_t, 4> address);
    ~ProgressDialog() override;

    // Starts the worker; called once, on the first paint, after "準備中" is shown.
    void SetRunStarter(std::function<void()> start) { runStarter_ = std::move(start); }

    // Where the worker hands over each status code; ShowStatus takes it.
    StatusHandOver& statusHandOver() { return handOver_; }

    bool runStarted() const { return runStarted_; }
    bool runEnded() const { return model_.state().ended; }

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    // The message map: paint, the status command 1019, the close request, the
    // bar-paint timer.
    void OnPaint();
    // The status command: the code handed over is applied, and its sender released.
    void ShowStatus();
    void Apply(StatusCode code, const TransferCounters& counters);
    void OnClose();

    void StartRun();
    // The bar's position, drawn at once.
    void BarUpdate();
    // The model's bar position in pixels of the bar.
    int BarPixel() const;
    // A block's move: the model's position now, the control's by the bar-paint timer.
    void MoveBar();
    void OnBarPaintTimer();
    // The dialog ends: at once while the run goes on, the program ends with it.
    void End(INT_PTR result);

    ProgressModel model_;
    StatusHandOver handOver_;
    HICON icon_;
    int barWidth_ = 0;          // the bar's range: its width in pixels (0: not set yet)
    int shownPixel_ = 0;        // the position the bar control has
    bool barPaintDue_ = false;  // the bar-paint timer runs
    bool firstPaint_ = true;
    bool runStarted_ = false;
    std::function<void()> runStarter_;
};

}  // namespace quorsel
