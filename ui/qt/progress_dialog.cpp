#include "ui/qt/progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <climits>

#include "res/texts.h"
#include "ui/qt/message_box.h"

namespace quorsel {

namespace {

constexpr int PROGRESS_DIALOG_ID = 129;

}  // namespace

BarValues BarValuesFor(uint32_t range, uint32_t position) {
    uint32_t maximum = range;
    uint32_t value = std::min(position, range);
    while (maximum > static_cast<uint32_t>(INT_MAX)) {
        maximum >>= 1;
        value >>= 1;
    }
    // A range of 0..0 would turn the bar into a busy indicator; the native bar
    // shows it empty.
    if (maximum == 0) return {1, 0};
    return {static_cast<int>(maximum), static_cast<int>(value)};
}

ProgressDialog::ProgressDialog(std::array<uint8_t, 4> address, QString appTitle, QWidget* parent)
    : TemplateDialog(PROGRESS_DIALOG_ID, QString::fromUtf8(TEXT_APP_TITLE), 11, 227, 86, parent),
      model_(address),
      appTitle_(std::move(appTitle)) {
    bar_ = Add(ID_PROGRESS_BAR, new QProgressBar, {13, 18, 201, 14});
    bar_->setTextVisible(false);
    statusLine_ = Add(ID_STATUS_LINE, new QLabel, {7, 42, 213, 8});
    statusLine_->setAlignment(Qt::AlignCenter);
    ok_ = Add(ID_OK_BUTTON, new QPushButton(QString::fromUtf8(TEXT_OK)), {107, 65, 50, 14}, TAB_STOP);
    ok_->setDefault(true);
    cancel_ = Add(ID_CANCEL_BUTTON, new QPushButton(QString::fromUtf8(TEXT_CANCEL)), {168, 65, 50, 14}, TAB_STOP);
    Add(ID_STATUS_COMMAND, new QPushButton, {7, 64, 33, 15}, TAB_STOP | HIDDEN);
    FinishTemplate();
    connect(ok_, &QPushButton::clicked, this, &ProgressDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::reject);

    // Initialisation: OK hidden until the run ends, the bar at 0 of 100.
    ok_->setVisible(false);
    BarUpdate();
}

void ProgressDialog::paintEvent(QPaintEvent* event) {
    TemplateDialog::paintEvent(event);
    if (!firstPaint_) return;
    firstPaint_ = false;
    BarUpdate();
    StartRun();
}

void ProgressDialog::StartRun() {
    runStarted_ = true;
    model_.Start();
    statusLine_->setText(QString::fromStdString(model_.state().statusText));
    if (runStarter_) runStarter_();
}

void ProgressDialog::BarUpdate() {
    BarValues values = BarValuesFor(model_.state().barRange, model_.state().barPos);
    bar_->setRange(0, values.maximum);
    bar_->setValue(values.value);
}

void ProgressDialog::ShowStatus(int code, const TransferCounters& counters) {
    StatusEffect effect = model_.Apply(code, counters);
    const ProgressState& state = model_.state();
    if (effect.busyChanged && !effect.finished) cancel_->setEnabled(state.cancelEnabled);
    if (effect.barChanged) BarUpdate();
    if (effect.textChanged) statusLine_->setText(QString::fromStdString(state.statusText));
    if (effect.completionBox) ShowCompletionBox();
    if (effect.finished) {
        cancel_->setEnabled(true);
        ok_->setVisible(true);
        ok_->setFocus(Qt::OtherFocusReason);
    }
}

void ProgressDialog::ShowCompletionBox() {
    ShowMessageBox(this, appTitle_, MessageText(TEXT_COMPLETION_BOX), QMessageBox::Information);
}

void ProgressDialog::reject() {
    // While the access point erases or writes, nothing closes the dialog.
    if (!model_.CloseAllowed()) return;
    TemplateDialog::reject();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    if (!model_.CloseAllowed()) {
        event->ignore();
        return;
    }
    TemplateDialog::closeEvent(event);
}

void ProgressDialog::done(int result) {
    TemplateDialog::done(result);
    if (runStarted_ && !runEnded() && midRunEnd_) midRunEnd_();
}

}  // namespace quorsel
