// The desktop front-end: start-up message boxes, the settings dialog and the
// progress dialog that runs the update, on Qt Widgets.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "engine/run_log.h"
#include "engine/serial_port_list.h"
#include "job/startup.h"
#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/serial_line.h"
#include "ui/search_runner.h"

namespace quorsel {

class SettingsDialog;

class DesktopFrontend : public StartupFrontend {
public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // appTitle: the caption of every message box (the program file's name without
    // its extension). sleep serves the run's fixed pauses.
    DesktopFrontend(QString appTitle, Network& network, SerialPorts& serialPorts, Sleep sleep = nullptr);
    ~DesktopFrontend() override;
    DesktopFrontend(const DesktopFrontend&) = delete;
    DesktopFrontend& operator=(const DesktopFrontend&) = delete;

    // The search behind the settings dialog's search entry (none: no entry).
    void SetSearch(SearchRunner::Search search) { search_ = std::move(search); }
    // The ports behind the settings dialog's port-list entry (none: no entry).
    void SetPortLister(std::function<std::vector<SerialPortEntry>()> lister) { listPorts_ = std::move(lister); }
    // The log whose folder the settings dialog's log entry opens (none: no entry).
    void SetRunLog(RunLog* log) { log_ = log; }

    void ShowStartupError(const char* text) override;
    // One showing of the settings dialog; the same dialog serves every showing.
    bool AskSettings(UpdateJob& job) override;
    // Shows the progress dialog, which starts the run on its first paint. When the
    // user closes it before the run has ended, the process ends at once with
    // EXIT_USER_ENDED (the worker may be blocked anywhere and is never joined).
    int RunProgress(const UpdateJob& job, const RunSettings& settings) override;

private:
    QString appTitle_;
    Network& network_;
    SerialPorts& serialPorts_;
    Sleep sleep_;
    SearchRunner::Search search_;
    std::function<std::vector<SerialPortEntry>()> listPorts_;
    RunLog* log_ = nullptr;
    std::unique_ptr<SettingsDialog> settings_;
};

// The application title for a program path: its file name without the extension.
QString ApplicationTitle(const char* programPath);

}  // namespace quorsel
