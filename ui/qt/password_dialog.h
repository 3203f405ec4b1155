// The password dialog (131): a masked edit of at most 15 characters.
#pragma once

#include <QString>

#include <string>

#include "ui/qt/template_dialog.h"

class QLineEdit;
class QShowEvent;

namespace quorsel {

constexpr int ID_PASSWORD_EDIT = 1004;
constexpr int PASSWORD_MAX = 15;  // characters in the edit, bytes handed to the run

class PasswordDialog : public TemplateDialog {
    Q_OBJECT

public:
    // appTitle: the caption of the warning boxes.
    explicit PasswordDialog(QString appTitle, QWidget* parent = nullptr);

    // After OK: the password as code page 932 bytes, at most 15.
    const std::string& password() const { return password_; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString appTitle_;
    QLineEdit* edit_ = nullptr;
    std::string password_;
};

}  // namespace quorsel
