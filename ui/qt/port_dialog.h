// The port list: the serial ports present, each with its name and the system's
// description, the no-port line, OK and Cancel. The shared port model says what
// the controls show and what a choice is.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "engine/serial_port_list.h"
#include "ui/port_model.h"
#include "ui/qt/template_dialog.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace quorsel {

class PortDialog : public TemplateDialog {
    Q_OBJECT

public:
    using Lister = std::function<std::vector<SerialPortEntry>()>;
    PortDialog(const Lister& lister, QWidget* parent = nullptr);

    // After OK: the port chosen.
    const std::optional<PortChoice>& choice() const { return choice_; }
    QTreeWidget* list() const { return list_; }

    void accept() override;

private:
    void ShowState();
    std::optional<size_t> SelectedRow() const;
    void ChooseRow(size_t row);

    PortListModel model_;
    std::optional<PortChoice> choice_;
    QTreeWidget* list_ = nullptr;
    QLabel* state_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace quorsel
