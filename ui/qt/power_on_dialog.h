// The power-on prompt (130): asks the user to switch the access point on while the
// power-on wait wakes its boot code; it ends by itself when the access point answers.
#pragma once

#include <QString>

#include "engine/power_on_wait.h"
#include "ui/qt/template_dialog.h"

class QPaintEvent;
class QShowEvent;

namespace quorsel {

// Result RESULT_OK (1): the access point answered and the line can be taken.
// RESULT_CANCEL (2): the user gave up, or the port could not be opened or set up.
class PowerOnDialog : public TemplateDialog {
    Q_OBJECT

public:
    // appTitle: the caption of the port error boxes.
    PowerOnDialog(PowerOnWait& wait, QString appTitle, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // On the dialog's thread: the wait's report.
    void Handle(PowerOnEvent event);

    PowerOnWait& wait_;
    QString appTitle_;
    bool firstPaint_ = true;
};

// Shows the prompt modally, then stops the wait before returning; true when the
// access point answered.
bool RunPowerOnPrompt(PowerOnWait& wait, const QString& appTitle, QWidget* parent);

}  // namespace quorsel
