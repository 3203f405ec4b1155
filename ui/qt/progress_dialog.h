// The progress dialog (129): status line, progress bar, Cancel, and OK once the run
// has ended. It starts the run on its first paint and then follows the status codes
// through the shared progress model.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

#include "engine/transfer.h"
#include "ui/progress_model.h"
#include "ui/qt/template_dialog.h"

class QCloseEvent;
class QLabel;
class QPaintEvent;
class QProgressBar;
class QPushButton;

namespace quorsel {

constexpr int ID_PROGRESS_BAR = 1024;
constexpr int ID_STATUS_LINE = 1022;

// QProgressBar takes int: a range above INT_MAX is scaled down with the position,
// and the position is kept inside the range as the native bar keeps it.
struct BarValues {
    int maximum;
    int value;
};
BarValues BarValuesFor(uint32_t range, uint32_t position);

class ProgressDialog : public TemplateDialog {
    Q_OBJECT

public:
    // address: the job's IPv4 address, for the connect-failure text. appTitle: the
    // caption of the completion box.
    ProgressDialog(std::array<uint8_t, 4> address, QString appTitle, QWidget* parent = nullptr);

    // Starts the run; called once, on the first paint, after "準備中" is shown.
    void SetRunStarter(std::function<void()> start) { runStarter_ = std::move(start); }
    // Called when the dialog ends while the run is still going (started, no final
    // code handled yet). The front-end ends the process there.
    void SetMidRunEnd(std::function<void()> end) { midRunEnd_ = std::move(end); }

    // The handler of one status code: status line, bar, buttons, busy lock and the
    // completion box, in that order. Unknown codes change nothing.
    void ShowStatus(int code, const TransferCounters& counters);

    const ProgressModel& model() const { return model_; }
    bool runStarted() const { return runStarted_; }
    bool runEnded() const { return model_.state().ended; }

    void reject() override;
    void done(int result) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void StartRun();
    void BarUpdate();
    void ShowCompletionBox();

    ProgressModel model_;
    QString appTitle_;
    QProgressBar* bar_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool firstPaint_ = true;
    bool runStarted_ = false;
    std::function<void()> runStarter_;
    std::function<void()> midRunEnd_;
};

}  // namespace quorsel
