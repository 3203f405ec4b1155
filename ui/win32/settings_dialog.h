// The connection settings dialog (102) and the version box (100).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "engine/run_log.h"
#include "job/update_job.h"
#include "ui/win32/port_dialog.h"
#include "ui/search_runner.h"
#include "ui/win32/modal_dialog.h"

namespace quorsel {

// The version box: a plain dialog with no handlers of its own.
class AboutDialog : public ModalDialog {
public:
    explicit AboutDialog(HINSTANCE instance);
};

class SettingsDialog : public ModalDialog {
public:
    explicit SettingsDialog(HINSTANCE instance);
    ~SettingsDialog() override;

    // The four values of the job the dialog shows and, after OK, returns.
    void SetValues(const UpdateJob& job);
    void TakeValues(UpdateJob& job) const;
    // The search behind the system menu's search entry (none: no entry).
    void SetSearch(SearchRunner::Search search) { search_ = std::move(search); }
    // The ports behind the system menu's port-list entry (none: no entry).
    void SetPortLister(PortDialog::Lister lister) { listPorts_ = std::move(lister); }
    // The log whose folder the system menu's log entry opens (none: no entry).
    void SetRunLog(RunLog* log) { log_ = log; }

    uint32_t baudRate = DEFAULT_BAUD_RATE;
    uint32_t comIndex = 0;
    std::string addressText;  // code page 932 bytes, at most 15
    uint32_t transport = TRANSPORT_LAN;
    std::string portName;  // a port other than COM1..COM4; empty: comIndex

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    // The message map: system command, paint, query-drag-icon, and the clicks of
    // the two transport radios.
    bool OnSysCommand(WPARAM command);
    bool OnPaint();
    HICON OnQueryDragIcon() const { return icon_; }
    void OnLanClicked() { EnableForLan(); }
    void OnSerialClicked() { EnableForSerial(); }

    void EnableForLan();
    void EnableForSerial();
    void EnableRange(int first, int last, bool enable);

    // The search entry: the access point chosen goes into the address edit, with
    // the LAN update selected.
    void ShowSearch();
    // The port-list entry: COM1..COM4 check their radio; any other port unchecks
    // all four and names itself in the port group's caption. Serial is selected.
    void ShowPorts();
    // The log entry: the log's folder in Explorer.
    void OpenLogFolder();
    // The port group's caption for portName.
    void ShowPortCaption();

    HICON icon_;
    SearchRunner::Search search_;
    PortDialog::Lister listPorts_;
    RunLog* log_ = nullptr;
    HWND portGroup_ = nullptr;  // the "ポート" group box (the template gives it no id)
};

}  // namespace quorsel
