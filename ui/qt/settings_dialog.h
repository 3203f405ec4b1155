// The connection settings dialog (102) and the version box (100).
#pragma once

#include <QString>

#include <cstdint>
#include <string>

#include "engine/run_log.h"
#include "job/update_job.h"
#include "ui/qt/port_dialog.h"
#include "ui/qt/template_dialog.h"
#include "ui/search_runner.h"

class QAction;
class QButtonGroup;
class QContextMenuEvent;
class QGroupBox;
class QLineEdit;
class QMenu;
class QRadioButton;
class QShowEvent;

namespace quorsel {

// Control ids of the settings dialog.
constexpr int ID_ADDRESS_EDIT = 1004;
constexpr int ID_COM1 = 1005;
constexpr int ID_BAUD_115200 = 1013;
constexpr int ID_LAN_RADIO = 1016;
constexpr int ID_SERIAL_RADIO = 1017;

// The version box: icon, "Quorsel Version 1.0" and OK.
class AboutDialog : public TemplateDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

// Asks LAN (with the address text) or serial (with the port). The baud rate rides
// along on invisible radios. Every showing starts from the four values put in
// before it; after OK they hold the user's choice.
class SettingsDialog : public TemplateDialog {
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    void SetValues(const UpdateJob& job);
    void TakeValues(UpdateJob& job) const;

    uint32_t baudRate = DEFAULT_BAUD_RATE;
    uint32_t comIndex = 0;
    std::string addressText = DEFAULT_ADDRESS_TEXT;
    uint32_t transport = TRANSPORT_LAN;
    std::string portName;  // a port other than COM1..COM4; empty: comIndex

    // The window menu: a close entry, a separator, the version-box entry and the
    // search entry. It opens on a right click anywhere in the dialog.
    QMenu* windowMenu() const { return windowMenu_; }
    QAction* aboutAction() const { return aboutAction_; }
    QAction* searchAction() const { return searchAction_; }
    QAction* portsAction() const { return portsAction_; }
    QAction* logAction() const { return logAction_; }
    QGroupBox* portGroupBox() const { return portGroupBox_; }

    // The search the search entry starts; without one the entry is not shown.
    void SetSearch(SearchRunner::Search search);
    // The ports the port-list entry lists; without a lister the entry is not shown.
    void SetPortLister(PortDialog::Lister lister);
    // The log whose folder the log entry opens; without one the entry is not shown.
    void SetRunLog(RunLog* log);
    // What the port-list entry does with a choice: serial is selected; COM1..COM4
    // check their radio; any other port unchecks all four and names itself in the
    // port group's caption.
    void ApplyPortChoice(const PortChoice& choice);

    void accept() override;

public slots:
    // Shows the version box modally.
    void ShowAbout();
    // Shows the search for access points modally; the access point chosen there
    // goes into the address edit, with the LAN update selected.
    void ShowSearch();
    // Shows the port list modally and applies the port chosen there.
    void ShowPorts();
    // Opens the run log's folder (xdg-open); where nothing can open it, prints its path.
    void OpenLogFolder();

protected:
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Initialise();
    void EnableForLan();
    void EnableForSerial();
    QRadioButton* Radio(int id) const;
    void ShowPortCaption();
    void UncheckPortRadios();

    QLineEdit* edit_ = nullptr;
    QButtonGroup* transportGroup_ = nullptr;
    QButtonGroup* portGroup_ = nullptr;
    QButtonGroup* baudGroup_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* searchAction_ = nullptr;
    QAction* portsAction_ = nullptr;
    QAction* logAction_ = nullptr;
    QGroupBox* portGroupBox_ = nullptr;
    SearchRunner::Search search_;
    PortDialog::Lister listPorts_;
    RunLog* log_ = nullptr;
};

}  // namespace quorsel
