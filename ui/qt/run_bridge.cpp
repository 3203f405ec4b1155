#include "ui/qt/run_bridge.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <utility>

#include "ui/qt/password_dialog.h"
#include "ui/qt/power_on_dialog.h"
#include "ui/qt/progress_dialog.h"

namespace quorsel {

namespace {

// Runs task on the thread of context and returns when it has finished there.
template <class Task>
void CallOnThreadOf(QObject& context, Task task) {
    if (QThread::currentThread() == context.thread()) {
        task();
        return;
    }
    QMetaObject::invokeMethod(&context, std::move(task), Qt::BlockingQueuedConnection);
}

}  // namespace

void RunBridge::Notify(StatusCode code, const TransferCounters& counters) {
    TransferCounters copy = counters;
    CallOnThreadOf(dialog_, [this, code, copy] { dialog_.ShowStatus(code, copy); });
}

void RunBridge::Post(StatusCode code, const TransferCounters& counters) {
    TransferCounters copy = counters;
    ProgressDialog* dialog = &dialog_;
    QMetaObject::invokeMethod(dialog, [dialog, code, copy] { dialog->ShowStatus(code, copy); }, Qt::QueuedConnection);
}

void RunBridge::Diagnose(const std::string& line) {
    std::fprintf(stderr, "quorsel: %s\n", line.c_str());
    std::fflush(stderr);
}

std::optional<std::string> RunBridge::AskPassword() {
    std::optional<std::string> answer;
    CallOnThreadOf(dialog_, [this, &answer] {
        PasswordDialog prompt(appTitle_, &dialog_);
        // Not modal: the progress dialog's Cancel stays usable while the run waits.
        prompt.setWindowModality(Qt::NonModal);
        QEventLoop loop;
        QObject::connect(&prompt, &QDialog::finished, &loop, &QEventLoop::quit);
        prompt.show();
        loop.exec();
        if (prompt.result() == RESULT_OK) answer = prompt.password();
    });
    return answer;
}

bool RunBridge::Show(PowerOnWait& wait) {
    bool answered = false;
    CallOnThreadOf(dialog_, [this, &wait, &answered] { answered = RunPowerOnPrompt(wait, appTitle_, &dialog_); });
    return answered;
}

}  // namespace quorsel
