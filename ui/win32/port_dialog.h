// The port list (dialog 133): a report list view of the serial ports present,
// each with its name and the system's description, the no-port line, OK and
// Cancel. The shared port model says what the controls show and what a choice is.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

#include "engine/serial_port_list.h"
#include "ui/port_model.h"
#include "ui/win32/modal_dialog.h"

namespace quorsel {

class PortDialog : public ModalDialog {
public:
    using Lister = std::function<std::vector<SerialPortEntry>()>;
    PortDialog(HINSTANCE instance, Lister lister);

    // After IDOK: the port chosen.
    const std::optional<PortChoice>& choice() const { return choice_; }

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void ShowState();
    std::optional<size_t> SelectedRow() const;
    void ChooseRow(size_t row);

    Lister lister_;
    PortListModel model_;
    std::optional<PortChoice> choice_;
};

}  // namespace quorsel
