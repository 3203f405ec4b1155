// Test support for the desktop dialogs: finding windows, acting on them from the
// event loop while a modal dialog runs, and reading controls by their ids.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <ostream>
#include <vector>

#include "ui/qt/template_dialog.h"



// Readable QStrings in assertion messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace quorsel::testing {

// How long a step waits for the window it acts on.
constexpr std::chrono::milliseconds DRIVER_WAIT{10000};

// The first visible window of type T, or nullptr.
template <class T>
T* FindVisible() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) return found;
    }
    return nullptr;
}

// Once condition holds, runs act from the event loop (polled every 10 ms; a modal
// dialog's loop serves too). When it does not hold within limit, the test fails
// and the program ends, since a modal loop would otherwise wait for ever.
void When(std::function<bool()> condition, std::function<void()> act, const char* what,
          std::chrono::milliseconds limit = DRIVER_WAIT);

// Once a visible window of type T is up, runs act on it.
template <class T>
void WhenVisible(std::function<void(T&)> act, const char* what, std::chrono::milliseconds limit = DRIVER_WAIT) {
    When([] { return FindVisible<T>() != nullptr; }, [act] { act(*FindVisible<T>()); }, what, limit);
}

// Processes events until condition holds; false after limit.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = DRIVER_WAIT);

// The text a control shows (button, label, edit, group box), or an empty string.
QString TextOf(const QWidget* control);
// The control ids of a dialog, in template order.
std::vector<int> ControlIds(const TemplateDialog& dialog);
// The ids of the controls Tab reaches from the given control, in order, until it
// comes back (at most one round). Only controls that take focus by Tab count.
std::vector<int> TabRound(const TemplateDialog& dialog, int fromId);
// Clicks the button with this id with the mouse.
void ClickButton(const TemplateDialog& dialog, int id);
// Shows the dialog without a modal loop and waits until it is exposed and active.
void ShowAndActivate(QWidget& window);

// A message box's icon, title, text and buttons, read off the box.
struct BoxContents {
    int icon;
    QString title;
    QString text;
    std::vector<QString> buttons;
};
BoxContents ContentsOf(QMessageBox& box);

}  // namespace quorsel::testing
