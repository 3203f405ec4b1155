#include "ui/win32/win32_frontend.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "job/startup.h"
#include "engine/update_run.h"
#include "image/wide_path_win32.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "ui/win32/message_box.h"
#include "ui/win32/progress_dialog.h"
#include "ui/win32/run_link.h"
#include "engine/serial_port_list.h"
#include "ui/win32/settings_dialog.h"

namespace quorsel {

namespace {

class Win32Frontend : public StartupFrontend {
public:
    Win32Frontend(HINSTANCE instance, Network& network, SerialPorts& serialPorts, SearchRunner::Search search,
                  RunLog* log)
        : instance_(instance), network_(network), serialPorts_(serialPorts), search_(std::move(search)), log_(log) {}

    void ShowStartupError(const char* text) override {
        if (std::strcmp(text, TEXT_SOCKET_INIT_FAILED) == 0) {
            // String resource 103, with the exclamation icon.
            wchar_t message[256] = {};
            if (LoadStringW(instance_, RES_SOCKET_INIT_FAILED_STRING, message, static_cast<int>(std::size(message))) > 0) {
                ShowMessageBox(nullptr, Utf8Path(message).value_or(text), MB_ICONEXCLAMATION);
            } else {
                ShowMessageBox(nullptr, text, MB_ICONEXCLAMATION);
            }
            return;
        }
        ShowMessageBox(nullptr, text, 0);
    }

    bool AskSettings(UpdateJob& job) override {
        // The same dialog object serves every showing.
        if (!settings_) {
            settings_ = std::make_unique<SettingsDialog>(instance_);
            settings_->SetSearch(search_);
            settings_->SetPortLister(ListSerialPorts);
            settings_->SetRunLog(log_);
        }
        settings_->SetValues(job);
        if (settings_->DoModal(nullptr) != IDOK) return false;
        settings_->TakeValues(job);
        return true;
    }

    int RunProgress(const UpdateJob& job, const RunSettings& settings) override {
        ProgressDialog dialog(instance_, job.address);
        RunLink link(instance_, dialog);
        RunServices services{link,
                             link,
                             link,
                             network_,
                             serialPorts_,
                             [](std::chrono::milliseconds pause) { Sleep(static_cast<DWORD>(pause.count())); },
                             [](const char* text) {
                                 std::fputs(text, stdout);
                                 std::fflush(stdout);
                             }};
        CAPThread worker;
        dialog.SetRunStarter([&] { worker.Start(settings, services); });
        dialog.DoModal(nullptr);
        if (!dialog.runStarted()) return EXIT_USER_ENDED;
        // The run has ended (its last code was handled), so the worker is returning.
        return ExitStatusFor(worker.Join());
    }

private:
    HINSTANCE instance_;
    Network& network_;
    SerialPorts& serialPorts_;
    SearchRunner::Search search_;
    RunLog* log_;
    std::unique_ptr<SettingsDialog> settings_;
};

}  // namespace

int RunWin32Frontend(HINSTANCE instance, Network& network, SerialPorts& serialPorts, const PeerTimeouts& timeouts,
                     std::string_view commandLine, const std::string& executablePath, SearchRunner::Search search,
                     RunLog* log) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The message boxes' caption: the running file's name, cut by characters.
    SetApplicationTitle(executablePath);
    Win32Frontend frontend(instance, network, serialPorts, std::move(search), log);
    return RunStartup(frontend, network, commandLine, executablePath, timeouts, log);
}

}  // namespace quorsel
