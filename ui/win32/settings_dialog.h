// The connection settings dialog (102) and the version box (100).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "job/update_job.h"
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

    uint32_t baudRate = DEFAULT_BAUD_RATE;
    uint32_t comIndex = 0;
    std::string addressText;  // code page 932 bytes, at most 15
    uint32_t transport = TRANSPORT_LAN;

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

    HICON icon_;
    SearchRunner::Search search_;
};

}  // namespace quorsel
