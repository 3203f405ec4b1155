#include "ui/qt/message_box.h"

#include <QWidget>

namespace quorsel {

void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.exec();
}

QString MessageText(const char* utf8) {
    QString text = QString::fromUtf8(utf8);
    text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    return text;
}

}  // namespace quorsel
