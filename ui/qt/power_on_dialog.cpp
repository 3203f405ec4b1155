#include "ui/qt/power_on_dialog.h"

#include <QLabel>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPushButton>
#include <QShowEvent>

#include "res/texts.h"
#include "ui/qt/message_box.h"

namespace quorsel {

namespace {

constexpr int POWER_ON_DIALOG_ID = 130;
constexpr int STATIC_ID = -1;

QLabel* CentredLabel(const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}

}  // namespace

PowerOnDialog::PowerOnDialog(PowerOnWait& wait, QString appTitle, QWidget* parent)
    : TemplateDialog(POWER_ON_DIALOG_ID, QString::fromUtf8(TEXT_APP_TITLE), 10, 159, 65, parent),
      wait_(wait),
      appTitle_(std::move(appTitle)) {
    auto* cancel = Add(ID_CANCEL_BUTTON, new QPushButton(QString::fromUtf8(TEXT_CANCEL)), {53, 44, 50, 14}, TAB_STOP);
    Add(STATIC_ID, CentredLabel(TEXT_POWER_ON_LINE1), {15, 7, 130, 8});
    Add(STATIC_ID, CentredLabel(TEXT_POWER_ON_LINE2), {15, 18, 131, 8});
    Add(STATIC_ID, CentredLabel(TEXT_POWER_ON_LINE3), {15, 28, 120, 8});
    // Never shown: the wait's reports reach the dialog as calls, not button presses.
    Add(ID_STATUS_COMMAND, new QPushButton, {7, 45, 15, 13}, TAB_STOP | HIDDEN);
    Add(ID_OK_BUTTON, new QPushButton, {29, 45, 16, 13}, TAB_STOP | HIDDEN);
    FinishTemplate();
    connect(cancel, &QPushButton::clicked, this, &PowerOnDialog::reject);
}

void PowerOnDialog::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    if (!event->spontaneous()) control(ID_CANCEL_BUTTON)->setFocus(Qt::OtherFocusReason);
}

void PowerOnDialog::paintEvent(QPaintEvent* event) {
    TemplateDialog::paintEvent(event);
    if (!firstPaint_) return;
    firstPaint_ = false;
    // The callback runs on the wait's worker under its lock: it only queues the
    // report for this dialog's thread. The wait is stopped before the dialog goes,
    // so no report is queued for a dialog that no longer exists.
    wait_.Start([this](PowerOnEvent report) {
        QMetaObject::invokeMethod(this, [this, report] { Handle(report); }, Qt::QueuedConnection);
    });
}

void PowerOnDialog::Handle(PowerOnEvent event) {
    if (!isVisible()) return;  // already ended by the user
    switch (event) {
        case PowerOnEvent::Answered:
            done(RESULT_OK);
            return;
        case PowerOnEvent::OpenFailed:
            ShowMessageBox(this, appTitle_, QString::fromUtf8(TEXT_PORT_OPEN_ERROR), QMessageBox::NoIcon);
            break;
        case PowerOnEvent::SetupFailed:
            ShowMessageBox(this, appTitle_, QString::fromUtf8(TEXT_PORT_SETUP_ERROR), QMessageBox::NoIcon);
            break;
    }
    done(RESULT_CANCEL);
}

bool RunPowerOnPrompt(PowerOnWait& wait, const QString& appTitle, QWidget* parent) {
    PowerOnDialog dialog(wait, appTitle, parent);
    int result = dialog.exec();
    wait.Stop();
    return result == RESULT_OK;
}

}  // namespace quorsel
