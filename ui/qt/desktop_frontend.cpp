#include "ui/qt/desktop_frontend.h"

#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/update_run.h"
#include "res/texts.h"
#include "ui/qt/message_box.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/run_bridge.h"
#include "ui/qt/settings_dialog.h"

namespace quorsel {

namespace {

// The progress dialog closed while the run goes on: the worker may wait on the
// network, a serial line or the dialog itself, so the process ends here without
// joining it. Buffered output is written first.
[[noreturn]] void EndProcessMidRun() {
    std::fflush(nullptr);
    std::_Exit(EXIT_USER_ENDED);
}

}  // namespace

QString ApplicationTitle(const char* programPath) {
    return QFileInfo(QString::fromLocal8Bit(programPath)).completeBaseName();
}

DesktopFrontend::DesktopFrontend(QString appTitle, Network& network, SerialPorts& serialPorts, Sleep sleep)
    : appTitle_(std::move(appTitle)),
      network_(network),
      serialPorts_(serialPorts),
      sleep_(sleep ? std::move(sleep) : Sleep([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); })) {}

DesktopFrontend::~DesktopFrontend() = default;

void DesktopFrontend::ShowStartupError(const char* text) {
    // The socket-layer failure carries the exclamation icon; the others none.
    QMessageBox::Icon icon =
        std::strcmp(text, TEXT_SOCKET_INIT_FAILED) == 0 ? QMessageBox::Warning : QMessageBox::NoIcon;
    ShowMessageBox(nullptr, appTitle_, MessageText(text), icon);
}

bool DesktopFrontend::AskSettings(UpdateJob& job) {
    if (!settings_) {
        settings_ = std::make_unique<SettingsDialog>();
        settings_->SetSearch(search_);
        if (listPorts_) settings_->SetPortLister(listPorts_);
        settings_->SetRunLog(log_);
    }
    settings_->SetValues(job);
    if (settings_->exec() != RESULT_OK) return false;
    settings_->TakeValues(job);
    return true;
}

int DesktopFrontend::RunProgress(const UpdateJob& job, const RunSettings& settings) {
    ProgressDialog dialog(job.address, appTitle_);
    RunBridge bridge(dialog, appTitle_);

    RunServices services{bridge,
                         bridge,
                         bridge,
                         network_,
                         serialPorts_,
                         sleep_,
                         [](const char* text) {
                             std::fputs(text, stdout);
                             std::fflush(stdout);
                         }};

    CAPThread worker;
    dialog.SetRunStarter([&] { worker.Start(settings, services); });
    dialog.SetMidRunEnd([] { EndProcessMidRun(); });
    dialog.exec();
    if (!dialog.runStarted()) return EXIT_USER_ENDED;
    // The run has ended (a final code was handled), so the worker is returning.
    return ExitStatusFor(worker.Join());
}

}  // namespace quorsel
