#include "tests/ui_qt/gui_driver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace quorsel::testing {

namespace {

constexpr int POLL_MS = 10;

}  // namespace

void When(std::function<bool()> condition, std::function<void()> act, const char* what,
          std::chrono::milliseconds limit) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(POLL_MS);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, condition, act, what, limit] {
        if (condition()) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            act();
            return;
        }
        if (clock->elapsed() > limit.count()) {
            ADD_FAILURE() << "gave up waiting for: " << what;
            std::fprintf(stderr, "gave up waiting for: %s\n", what);
            std::fflush(nullptr);
            std::_Exit(1);
        }
    });
    timer->start();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    return QTest::qWaitFor(condition, static_cast<int>(limit.count()));
}

QString TextOf(const QWidget* control) {
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
    if (auto* group = qobject_cast<const QGroupBox*>(control)) return group->title();
    return QString();
}

std::vector<int> ControlIds(const TemplateDialog& dialog) {
    std::vector<int> ids;
    for (QWidget* control : dialog.controls()) ids.push_back(control->property("controlId").toInt());
    return ids;
}

std::vector<int> TabRound(const TemplateDialog& dialog, int fromId) {
    std::vector<int> ids;
    QWidget* start = dialog.control(fromId);
    QWidget* at = start;
    for (size_t steps = 0; steps <= dialog.controls().size() * 2; ++steps) {
        at = at->nextInFocusChain();
        if (at == start) break;
        bool tabbable = (at->focusPolicy() & Qt::TabFocus) && at->isEnabled() && at->isVisibleTo(&dialog) &&
                        at->property("controlId").isValid();
        if (tabbable) ids.push_back(at->property("controlId").toInt());
    }
    return ids;
}

void ClickButton(const TemplateDialog& dialog, int id) {
    auto* button = qobject_cast<QAbstractButton*>(dialog.control(id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

void ShowAndActivate(QWidget& window) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

BoxContents ContentsOf(QMessageBox& box) {
    BoxContents contents{box.icon(), box.windowTitle(), box.text(), {}};
    for (QAbstractButton* button : box.buttons()) contents.buttons.push_back(button->text());
    return contents;
}

}  // namespace quorsel::testing
