#include "ui/qt/settings_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QUrl>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include <cstdio>

#include "res/texts.h"
#include "ui/qt/search_dialog.h"
#include "ui/qt/text_limits.h"

namespace quorsel {

namespace {

constexpr int SETTINGS_DIALOG_ID = 102;
constexpr int ABOUT_DIALOG_ID = 100;
constexpr int STATIC_ID = -1;
constexpr int ICON_SIZE = 32;
// The dialog reads at most this many characters of the address edit.
constexpr int ADDRESS_READ_MAX = 99;

struct RadioEntry {
    int id;
    const char* text;
    UnitRect rect;
};

constexpr RadioEntry PORT_RADIOS[] = {
    {1005, "COM1", {38, 85, 31, 13}},
    {1006, "COM2", {72, 85, 31, 13}},
    {1007, "COM3", {106, 85, 31, 13}},
    {1008, "COM4", {140, 85, 30, 13}},
};

struct BaudEntry {
    int id;
    const char* text;
    UnitRect rect;
    uint32_t rate;
};

constexpr BaudEntry BAUD_RADIOS[] = {
    {1009, "9600", {38, 125, 31, 9}, 9600},
    {1010, "19200", {72, 125, 31, 9}, 19200},
    {1011, "38400", {106, 125, 31, 9}, 38400},
    {1012, "57600", {140, 125, 31, 9}, 57600},
    {1013, "115200", {174, 125, 40, 10}, 115200},
};

QString Utf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : TemplateDialog(ABOUT_DIALOG_ID, Utf8(TEXT_ABOUT_CAPTION), 9, 235, 55, parent) {
    auto* icon = Add(STATIC_ID, new QLabel, {11, 17, 21, 20});
    icon->setPixmap(ApplicationIcon().pixmap(ICON_SIZE, ICON_SIZE));
    icon->resize(ICON_SIZE, ICON_SIZE);
    Add(STATIC_ID, new QLabel(Utf8(TEXT_ABOUT_VERSION)), {40, 10, 119, 8});
    auto* ok = Add(ID_OK_BUTTON, new QPushButton(Utf8(TEXT_OK)), {178, 7, 50, 14}, TAB_STOP);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &AboutDialog::accept);
    FinishTemplate();
}

SettingsDialog::SettingsDialog(QWidget* parent)
    : TemplateDialog(SETTINGS_DIALOG_ID, Utf8(TEXT_APP_TITLE), 10, 243, 149, parent) {
    const QString twoBlanks = QStringLiteral("  ");
    Add(STATIC_ID, new QGroupBox(twoBlanks), {7, 7, 229, 43});
    Add(STATIC_ID, new QGroupBox(twoBlanks), {7, 57, 229, 61});

    transportGroup_ = new QButtonGroup(this);
    auto* lan = Add(ID_LAN_RADIO, new QRadioButton(Utf8(TEXT_LAN_RADIO)), {13, 6, 88, 10});
    auto* serial = Add(ID_SERIAL_RADIO, new QRadioButton(Utf8(TEXT_SERIAL_RADIO)), {13, 57, 102, 10});
    transportGroup_->addButton(lan, ID_LAN_RADIO);
    transportGroup_->addButton(serial, ID_SERIAL_RADIO);

    edit_ = Add(ID_ADDRESS_EDIT, new QLineEdit, {59, 25, 72, 12}, TAB_STOP);

    portGroup_ = new QButtonGroup(this);
    for (const RadioEntry& entry : PORT_RADIOS) {
        portGroup_->addButton(Add(entry.id, new QRadioButton(Utf8(entry.text)), entry.rect), entry.id);
    }
    baudGroup_ = new QButtonGroup(this);
    for (const BaudEntry& entry : BAUD_RADIOS) {
        // Only the 115200 radio is enabled in the template; none is ever visible.
        unsigned flags = entry.rate == DEFAULT_BAUD_RATE ? HIDDEN : HIDDEN | DISABLED;
        baudGroup_->addButton(Add(entry.id, new QRadioButton(Utf8(entry.text)), entry.rect, flags), entry.id);
    }

    auto* ok = Add(ID_OK_BUTTON, new QPushButton(Utf8(TEXT_OK)), {127, 124, 50, 14}, TAB_STOP);
    ok->setDefault(true);
    auto* cancel = Add(ID_CANCEL_BUTTON, new QPushButton(Utf8(TEXT_CANCEL)), {184, 124, 50, 14}, TAB_STOP);
    portGroupBox_ = Add(STATIC_ID, new QGroupBox(Utf8(TEXT_PORT_GROUP)), {30, 75, 149, 27});
    Add(STATIC_ID, new QGroupBox(Utf8(TEXT_BAUD_GROUP)), {30, 113, 189, 28}, HIDDEN | DISABLED);
    Add(STATIC_ID, new QLabel(Utf8(TEXT_IP_ADDRESS)), {22, 27, 32, 8});
    FinishTemplate();

    connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
    // The auto radios check themselves; their handlers only change what is enabled.
    connect(lan, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) EnableForLan();
    });
    connect(serial, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) EnableForSerial();
    });

    // Linux window managers give an application no system menu of its own, so the
    // version-box entry lives in the dialog's window menu (right click) and on Alt+A.
    windowMenu_ = new QMenu(this);
    windowMenu_->setSeparatorsCollapsible(false);
    QAction* closeAction = windowMenu_->addAction(Utf8(TEXT_CLOSE_MENU));
    connect(closeAction, &QAction::triggered, this, &SettingsDialog::close);
    windowMenu_->addSeparator();
    aboutAction_ = windowMenu_->addAction(Utf8(TEXT_ABOUT_MENU));
    aboutAction_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
    aboutAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(aboutAction_);
    connect(aboutAction_, &QAction::triggered, this, &SettingsDialog::ShowAbout);
    searchAction_ = windowMenu_->addAction(Utf8(TEXT_SEARCH_MENU));
    searchAction_->setVisible(false);
    connect(searchAction_, &QAction::triggered, this, &SettingsDialog::ShowSearch);
    portsAction_ = windowMenu_->addAction(Utf8(TEXT_PORT_LIST_MENU));
    portsAction_->setVisible(false);
    connect(portsAction_, &QAction::triggered, this, &SettingsDialog::ShowPorts);
    logAction_ = windowMenu_->addAction(Utf8(TEXT_LOG_FOLDER_MENU));
    logAction_->setVisible(false);
    connect(logAction_, &QAction::triggered, this, &SettingsDialog::OpenLogFolder);
    // A radio clicked after a choice from the list replaces that port.
    connect(portGroup_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton*) {
        portName.clear();
        ShowPortCaption();
    });
}

void SettingsDialog::SetPortLister(PortDialog::Lister lister) {
    listPorts_ = std::move(lister);
    portsAction_->setVisible(static_cast<bool>(listPorts_));
}

void SettingsDialog::SetRunLog(RunLog* log) {
    log_ = log;
    logAction_->setVisible(log_ != nullptr && !log_->folder().empty());
}

void SettingsDialog::ShowPortCaption() { portGroupBox_->setTitle(Utf8(PortGroupCaption(portName).c_str())); }

void SettingsDialog::UncheckPortRadios() {
    // An exclusive group keeps one button checked; let go of that for a moment.
    portGroup_->setExclusive(false);
    for (const RadioEntry& entry : PORT_RADIOS) Radio(entry.id)->setChecked(false);
    portGroup_->setExclusive(true);
}

void SettingsDialog::ApplyPortChoice(const PortChoice& choice) {
    Radio(ID_SERIAL_RADIO)->setChecked(true);  // its handler applies the serial enabling
    EnableForSerial();
    if (choice.comIndex) {
        Radio(ID_COM1 + static_cast<int>(*choice.comIndex))->setChecked(true);
        portName.clear();
    } else {
        UncheckPortRadios();
        portName = choice.portName;
    }
    ShowPortCaption();
}

void SettingsDialog::ShowPorts() {
    if (!listPorts_) return;
    PortDialog ports(listPorts_, this);
    if (ports.exec() != RESULT_OK || !ports.choice()) return;
    ApplyPortChoice(*ports.choice());
}

void SettingsDialog::OpenLogFolder() {
    if (log_ == nullptr) return;
    log_->MakeFolder();
    const QString folder = QString::fromStdString(log_->folder());
    // Qt opens local folders through xdg-open; without it, the path is all there is.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        std::printf("%s\n", log_->folder().c_str());
        std::fflush(stdout);
    }
}

void SettingsDialog::SetSearch(SearchRunner::Search search) {
    search_ = std::move(search);
    searchAction_->setVisible(static_cast<bool>(search_));
}

void SettingsDialog::SetValues(const UpdateJob& job) {
    transport = job.transport;
    addressText = job.addressText;
    comIndex = job.comIndex;
    baudRate = job.baudRate;
    portName = job.portName;
}

void SettingsDialog::TakeValues(UpdateJob& job) const {
    job.transport = transport;
    job.addressText = addressText;
    job.comIndex = comIndex;
    job.baudRate = baudRate;
    job.portName = portName;
}

QRadioButton* SettingsDialog::Radio(int id) const { return controlAs<QRadioButton>(id); }

void SettingsDialog::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    if (!event->spontaneous()) Initialise();
}

void SettingsDialog::Initialise() {
    if (transport == TRANSPORT_SERIAL) {
        Radio(ID_SERIAL_RADIO)->setChecked(true);
        EnableForSerial();
    } else {
        Radio(ID_LAN_RADIO)->setChecked(true);
        EnableForLan();
    }
    int port = comIndex >= 1 && comIndex <= 3 ? ID_COM1 + static_cast<int>(comIndex) : ID_COM1;
    Radio(port)->setChecked(true);
    if (!portName.empty()) UncheckPortRadios();  // a port beyond the four radios
    ShowPortCaption();
    int baud = ID_BAUD_115200;
    for (const BaudEntry& entry : BAUD_RADIOS) {
        if (entry.rate == baudRate) baud = entry.id;
    }
    Radio(baud)->setChecked(true);
    edit_->setText(QString::fromUtf8(addressText.data(), static_cast<qsizetype>(addressText.size())));
    Radio(transport == TRANSPORT_SERIAL ? ID_SERIAL_RADIO : ID_LAN_RADIO)->setFocus(Qt::OtherFocusReason);
}

void SettingsDialog::EnableForLan() {
    edit_->setEnabled(true);
    for (const RadioEntry& entry : PORT_RADIOS) Radio(entry.id)->setEnabled(false);
    for (const BaudEntry& entry : BAUD_RADIOS) Radio(entry.id)->setEnabled(false);
}

void SettingsDialog::EnableForSerial() {
    edit_->setEnabled(false);
    for (const RadioEntry& entry : PORT_RADIOS) Radio(entry.id)->setEnabled(true);
    for (const BaudEntry& entry : BAUD_RADIOS) Radio(entry.id)->setEnabled(true);
}

void SettingsDialog::accept() {
    std::string text = edit_->text().left(ADDRESS_READ_MAX).toStdString();
    transport = Radio(ID_SERIAL_RADIO)->isChecked() ? TRANSPORT_SERIAL : TRANSPORT_LAN;
    if (transport == TRANSPORT_SERIAL) {
        text = CutUtf8(text, ADDRESS_TEXT_MAX);
    } else if (text.size() > ADDRESS_TEXT_MAX) {
        // Too long for an address: select it all and let the user correct it.
        edit_->selectAll();
        edit_->setFocus(Qt::OtherFocusReason);
        return;
    }
    addressText = text;
    comIndex = 0;
    if (portGroup_->checkedButton() != nullptr) portName.clear();
    for (int index = 1; index <= 3; ++index) {
        if (Radio(ID_COM1 + index)->isChecked()) {
            comIndex = static_cast<uint32_t>(index);
            break;
        }
    }
    baudRate = DEFAULT_BAUD_RATE;
    for (const BaudEntry& entry : BAUD_RADIOS) {
        if (entry.id != ID_BAUD_115200 && Radio(entry.id)->isChecked()) {
            baudRate = entry.rate;
            break;
        }
    }
    TemplateDialog::accept();
}

void SettingsDialog::contextMenuEvent(QContextMenuEvent* event) {
    windowMenu_->popup(event->globalPos());
    event->accept();
}

void SettingsDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void SettingsDialog::ShowSearch() {
    if (!search_) return;
    SearchDialog search(search_, this);
    if (search.exec() != RESULT_OK || !search.choice()) return;
    edit_->setText(QString::fromStdString(search.choice()->addressText));
    if (search.choice()->transport == TRANSPORT_LAN) {
        Radio(ID_LAN_RADIO)->setChecked(true);  // its handler applies the LAN enabling
        EnableForLan();
    }
}

}  // namespace quorsel
