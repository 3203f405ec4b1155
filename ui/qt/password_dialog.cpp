#include "ui/qt/password_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <optional>

#include "image/text_encoding.h"
#include "res/texts.h"
#include "ui/qt/message_box.h"

namespace quorsel {

namespace {

constexpr int PASSWORD_DIALOG_ID = 131;
constexpr int STATIC_ID = -1;

}  // namespace

PasswordDialog::PasswordDialog(QString appTitle, QWidget* parent)
    : TemplateDialog(PASSWORD_DIALOG_ID, QString::fromUtf8(TEXT_PASSWORD_CAPTION), 9, 175, 45, parent),
      appTitle_(std::move(appTitle)) {
    Add(STATIC_ID, new QLabel(QString::fromUtf8(TEXT_PASSWORD_PROMPT)), {7, 7, 88, 10});
    edit_ = Add(ID_PASSWORD_EDIT, new QLineEdit, {7, 21, 89, 13}, TAB_STOP);
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMaxLength(PASSWORD_MAX);
    auto* ok = Add(ID_OK_BUTTON, new QPushButton(QString::fromUtf8(TEXT_OK)), {118, 7, 50, 14}, TAB_STOP);
    ok->setDefault(true);
    auto* cancel = Add(ID_CANCEL_BUTTON, new QPushButton(QString::fromUtf8(TEXT_CANCEL)), {118, 24, 50, 14}, TAB_STOP);
    FinishTemplate();
    connect(ok, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PasswordDialog::reject);
}

void PasswordDialog::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    if (!event->spontaneous()) edit_->setFocus(Qt::OtherFocusReason);
}

void PasswordDialog::accept() {
    // The access point takes code page 932 bytes: a character outside that page, or
    // more than 15 bytes (15 characters of which some take two bytes), is refused
    // and the user corrects the entry.
    std::optional<std::string> bytes = Utf8ToCp932(edit_->text().toStdString());
    QString problem;
    if (!bytes) {
        problem = QString::fromUtf8(TEXT_PASSWORD_BAD_CHARACTER);
    } else if (bytes->size() > static_cast<size_t>(PASSWORD_MAX)) {
        problem = QString::fromUtf8(TEXT_PASSWORD_TOO_LONG_FORMAT).replace(QStringLiteral("%1"),
                                                                           QString::number(PASSWORD_MAX));
    }
    if (!problem.isEmpty()) {
        ShowMessageBox(this, appTitle_, problem, QMessageBox::Warning);
        edit_->setFocus(Qt::OtherFocusReason);
        return;
    }
    password_ = *bytes;
    TemplateDialog::accept();
}

}  // namespace quorsel
