// Message boxes of the desktop front-end: an OK button only, the application's
// title as caption.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace quorsel {

// Shows text modally over parent and returns when the user has closed it.
void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon);

// A text from res/texts.h for a message box: UTF-8, with a written "\n" sequence
// turned into a line break.
QString MessageText(const char* utf8);

}  // namespace quorsel
