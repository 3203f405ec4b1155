// The connection settings dialog and the version box: template, enabling, the OK
// checks and the window menu.
#include "ui/qt/settings_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "res/texts.h"
#include "tests/ui_qt/gui_driver.h"

namespace quorsel::testing {
namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

const std::vector<int> PORT_IDS = {1005, 1006, 1007, 1008};
const std::vector<int> BAUD_IDS = {1009, 1010, 1011, 1012, 1013};

class SettingsDialogTest : public ::testing::Test {
protected:
    void Open(uint32_t transport, uint32_t comIndex = 0, uint32_t baudRate = DEFAULT_BAUD_RATE,
              const std::string& address = DEFAULT_ADDRESS_TEXT) {
        UpdateJob job;
        job.transport = transport;
        job.comIndex = comIndex;
        job.baudRate = baudRate;
        job.addressText = address;
        dialog_.SetValues(job);
        ShowAndActivate(dialog_);
    }
    QRadioButton* Radio(int id) { return dialog_.controlAs<QRadioButton>(id); }
    QLineEdit* Edit() { return dialog_.controlAs<QLineEdit>(ID_ADDRESS_EDIT); }
    UpdateJob Taken() {
        UpdateJob job;
        job.addressText = "unchanged";
        dialog_.TakeValues(job);
        return job;
    }
    void ExpectPortsEnabled(bool enabled) {
        for (int id : PORT_IDS) EXPECT_EQ(Radio(id)->isEnabled(), enabled) << id;
        for (int id : BAUD_IDS) {
            EXPECT_EQ(Radio(id)->isEnabled(), enabled) << id;
            EXPECT_TRUE(Radio(id)->isHidden()) << id << " is never visible";
        }
    }

    SettingsDialog dialog_;
};

TEST_F(SettingsDialogTest, TemplateControlsInOrderWithTheirTextsAndStates) {
    EXPECT_EQ(dialog_.resourceId(), 102);
    EXPECT_EQ(dialog_.windowTitle(), "Quorsel");
    EXPECT_EQ(ControlIds(dialog_), (std::vector<int>{-1, -1, 1016, 1017, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                                                     1011, 1012, 1013, 1, 2, -1, -1, -1}));
    std::vector<QString> texts;
    for (QWidget* control : dialog_.controls()) texts.push_back(TextOf(control));
    EXPECT_EQ(texts, (std::vector<QString>{"  ", "  ", U(TEXT_LAN_RADIO), U(TEXT_SERIAL_RADIO), "", "COM1", "COM2",
                                           "COM3", "COM4", "9600", "19200", "38400", "57600", "115200", "OK",
                                           U("ｷｬﾝｾﾙ"), U("ポート"), U("ボーレート"), U("IPアドレス")}));
    for (QWidget* control : dialog_.controls()) {
        int id = control->property("controlId").toInt();
        EXPECT_EQ(control->objectName(), QStringLiteral("control%1").arg(id));
    }
    // Template states before the first showing.
    for (int id : {1009, 1010, 1011, 1012}) {
        EXPECT_TRUE(Radio(id)->isHidden());
        EXPECT_FALSE(Radio(id)->isEnabled());
    }
    EXPECT_TRUE(Radio(1013)->isHidden());
    EXPECT_TRUE(Radio(1013)->isEnabled());
    QWidget* baudGroup = dialog_.controls()[17];
    EXPECT_TRUE(baudGroup->isHidden());
    EXPECT_FALSE(baudGroup->isEnabled());
    EXPECT_TRUE(dialog_.controlAs<QPushButton>(1)->isDefault());
    EXPECT_FALSE(dialog_.controlAs<QPushButton>(2)->isDefault());
}

TEST_F(SettingsDialogTest, SizeAndPositionsFollowTheFontsBaseUnits) {
    QFontInfo font(dialog_.font());
    EXPECT_EQ(font.family(), "IPAPGothic");
    EXPECT_EQ(dialog_.font().pointSize(), 10);
    BaseUnits units = dialog_.baseUnits();
    ASSERT_GT(units.x, 0);
    ASSERT_GT(units.y, 0);
    EXPECT_EQ(dialog_.size(), DialogUnitsToPixels(units, 0, 0, 243, 149).size());
    EXPECT_EQ(dialog_.control(1004)->geometry(), DialogUnitsToPixels(units, 59, 25, 72, 12));
    EXPECT_EQ(dialog_.control(2)->geometry(), DialogUnitsToPixels(units, 184, 124, 50, 14));
}

TEST_F(SettingsDialogTest, RadiosFormOneExclusiveGroupPerTemplateGroup) {
    QButtonGroup* transport = Radio(1016)->group();
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(Radio(1017)->group(), transport);
    QButtonGroup* ports = Radio(1005)->group();
    ASSERT_NE(ports, nullptr);
    EXPECT_NE(ports, transport);
    for (int id : PORT_IDS) EXPECT_EQ(Radio(id)->group(), ports);
    QButtonGroup* bauds = Radio(1009)->group();
    ASSERT_NE(bauds, nullptr);
    EXPECT_NE(bauds, ports);
    for (int id : BAUD_IDS) EXPECT_EQ(Radio(id)->group(), bauds);
    for (QButtonGroup* group : {transport, ports, bauds}) EXPECT_TRUE(group->exclusive());

    Open(TRANSPORT_SERIAL, 1);
    Radio(1008)->click();
    EXPECT_TRUE(Radio(1008)->isChecked());
    EXPECT_FALSE(Radio(1006)->isChecked());
    EXPECT_TRUE(Radio(1017)->isChecked()) << "a port click leaves the transport alone";
}

TEST_F(SettingsDialogTest, LanOpensWithTheEditEnabledPortsGreyedAndFocusOnLan) {
    Open(TRANSPORT_LAN);
    EXPECT_TRUE(Radio(1016)->isChecked());
    EXPECT_FALSE(Radio(1017)->isChecked());
    EXPECT_TRUE(Edit()->isEnabled());
    EXPECT_EQ(Edit()->text(), "192.168.1.254");
    ExpectPortsEnabled(false);
    EXPECT_TRUE(Radio(1005)->isChecked());
    EXPECT_TRUE(Radio(1013)->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), Radio(1016));
}

TEST_F(SettingsDialogTest, SerialOnComThreeOpensWithSerialAndComThreeCheckedAndTheEditGreyed) {
    Open(TRANSPORT_SERIAL, 2);
    EXPECT_TRUE(Radio(1017)->isChecked());
    EXPECT_TRUE(Radio(1007)->isChecked());
    EXPECT_FALSE(Edit()->isEnabled());
    ExpectPortsEnabled(true);
    EXPECT_EQ(QApplication::focusWidget(), Radio(1017));
}

TEST_F(SettingsDialogTest, SwitchingTransportsChangesOnlyWhatIsEnabled) {
    Open(TRANSPORT_LAN, 2);
    QTest::mouseClick(Radio(1017), Qt::LeftButton);
    EXPECT_TRUE(Radio(1017)->isChecked());
    EXPECT_FALSE(Edit()->isEnabled());
    ExpectPortsEnabled(true);
    QTest::mouseClick(Radio(1016), Qt::LeftButton);
    EXPECT_TRUE(Radio(1016)->isChecked());
    EXPECT_TRUE(Edit()->isEnabled());
    ExpectPortsEnabled(false);
    EXPECT_TRUE(Radio(1007)->isChecked()) << "check marks stay";
    EXPECT_EQ(Edit()->text(), "192.168.1.254");
}

// Tab runs through the template order: the edit and the buttons, and (Qt's radio
// convention) the radio of each enabled group that had the focus last.
TEST_F(SettingsDialogTest, TabVisitsTheTabStopsInTemplateOrder) {
    Open(TRANSPORT_LAN);
    EXPECT_EQ(TabRound(dialog_, 1016), (std::vector<int>{1004, 1, 2}));
    QWidget* at = Radio(1016);
    for (int expected : {1004, 1, 2, 1016}) {
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(at->property("controlId").toInt(), expected);
    }

    QTest::mouseClick(Radio(1017), Qt::LeftButton);
    QTest::mouseClick(Radio(1007), Qt::LeftButton);
    EXPECT_EQ(TabRound(dialog_, 1017), (std::vector<int>{1007, 1, 2}));
}

TEST_F(SettingsDialogTest, UnknownPortAndBaudRateFallBackToComOneAnd115200) {
    Open(TRANSPORT_SERIAL, 7, 4800);
    EXPECT_TRUE(Radio(1005)->isChecked());
    EXPECT_TRUE(Radio(1013)->isChecked());
    ClickButton(dialog_, 1);
    EXPECT_EQ(dialog_.result(), RESULT_OK);
    UpdateJob job = Taken();
    EXPECT_EQ(job.comIndex, 0u);
    EXPECT_EQ(job.baudRate, 115200u);
    EXPECT_EQ(job.transport, TRANSPORT_SERIAL);
}

TEST_F(SettingsDialogTest, TheInvisibleBaudRadioCarriesTheRateThrough) {
    Open(TRANSPORT_SERIAL, 3, 9600);
    EXPECT_TRUE(Radio(1009)->isChecked());
    EXPECT_TRUE(Radio(1008)->isChecked());
    ClickButton(dialog_, 1);
    UpdateJob job = Taken();
    EXPECT_EQ(job.baudRate, 9600u);
    EXPECT_EQ(job.comIndex, 3u);
}

TEST_F(SettingsDialogTest, LanWithSixteenCharactersStaysOpenWithTheTextSelected) {
    Open(TRANSPORT_LAN);
    Edit()->setText("192.168.100.2540");
    ClickButton(dialog_, 1);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(Edit()->selectedText(), "192.168.100.2540");
    EXPECT_EQ(QApplication::focusWidget(), Edit());
    EXPECT_EQ(FindVisible<QMessageBox>(), nullptr) << "no message";

    // Fifteen characters close it, even when they are no address: start-up checks that.
    Edit()->setText("192.168.100.25x");
    ClickButton(dialog_, 1);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), RESULT_OK);
    UpdateJob job = Taken();
    EXPECT_EQ(job.transport, TRANSPORT_LAN);
    EXPECT_EQ(job.addressText, "192.168.100.25x");
}

TEST_F(SettingsDialogTest, SerialWithTwentyCharactersKeepsTheFirstFifteen) {
    Open(TRANSPORT_LAN);
    QTest::mouseClick(Radio(1017), Qt::LeftButton);
    QTest::mouseClick(Radio(1008), Qt::LeftButton);
    Edit()->setText("abcdefghijklmnopqrst");
    ClickButton(dialog_, 1);
    EXPECT_FALSE(dialog_.isVisible());
    UpdateJob job = Taken();
    EXPECT_EQ(job.transport, TRANSPORT_SERIAL);
    EXPECT_EQ(job.addressText, "abcdefghijklmno");
    EXPECT_EQ(job.comIndex, 3u);
}

TEST_F(SettingsDialogTest, EveryShowingStartsFromTheValuesPutIn) {
    Open(TRANSPORT_LAN);
    Edit()->setText("1.2.3");
    ClickButton(dialog_, 1);
    UpdateJob job = Taken();
    EXPECT_EQ(job.addressText, "1.2.3");
    dialog_.SetValues(job);
    ShowAndActivate(dialog_);
    EXPECT_EQ(Edit()->text(), "1.2.3");
    EXPECT_TRUE(Radio(1016)->isChecked());
}

TEST_F(SettingsDialogTest, CancelEscapeAndTheCloseBoxEndWithCancel) {
    Open(TRANSPORT_LAN);
    ClickButton(dialog_, 2);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);

    Open(TRANSPORT_LAN);
    QTest::keyClick(&dialog_, Qt::Key_Escape);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);

    Open(TRANSPORT_LAN);
    EXPECT_TRUE(dialog_.close());
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);
    UpdateJob job = Taken();
    EXPECT_EQ(job.addressText, "192.168.1.254") << "values from before the showing";
}

// A port from the list: COM1..COM4 check their radio, any other port unchecks all
// four and names itself in the port group's caption until a radio is clicked.
TEST_F(SettingsDialogTest, PortFromTheListSelectsSerialAndNamesAPortBeyondTheRadios) {
    Open(TRANSPORT_LAN, 2);
    dialog_.ApplyPortChoice(PortChoice{std::nullopt, "COM12"});
    EXPECT_TRUE(Radio(ID_SERIAL_RADIO)->isChecked());
    ExpectPortsEnabled(true);
    for (int id : PORT_IDS) EXPECT_FALSE(Radio(id)->isChecked()) << id;
    EXPECT_EQ(dialog_.portGroupBox()->title(), U("ポート (COM12)"));
    dialog_.accept();
    UpdateJob job = Taken();
    EXPECT_EQ(job.transport, TRANSPORT_SERIAL);
    EXPECT_EQ(job.portName, "COM12");

    // Shown again with that job: still no radio, still the name.
    dialog_.SetValues(job);
    ShowAndActivate(dialog_);
    for (int id : PORT_IDS) EXPECT_FALSE(Radio(id)->isChecked()) << id;
    EXPECT_EQ(dialog_.portGroupBox()->title(), U("ポート (COM12)"));
    QTest::mouseClick(Radio(PORT_IDS[1]), Qt::LeftButton);
    EXPECT_EQ(dialog_.portGroupBox()->title(), U(TEXT_PORT_GROUP));
    dialog_.accept();
    EXPECT_EQ(Taken().portName, "");
    EXPECT_EQ(Taken().comIndex, 1u);

    Open(TRANSPORT_LAN);
    dialog_.ApplyPortChoice(PortChoice{3u, ""});
    EXPECT_TRUE(Radio(PORT_IDS[3])->isChecked());
    EXPECT_EQ(dialog_.portGroupBox()->title(), U(TEXT_PORT_GROUP));
}

TEST_F(SettingsDialogTest, WindowMenuHasASeparatorThenTheVersionEntry) {
    QList<QAction*> actions = dialog_.windowMenu()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[3], dialog_.searchAction());
    EXPECT_FALSE(actions[3]->isVisible()) << "no search was set up";
    EXPECT_EQ(actions[4], dialog_.portsAction());
    EXPECT_EQ(actions[4]->text(), U(TEXT_PORT_LIST_MENU));
    EXPECT_FALSE(actions[4]->isVisible()) << "no port lister was set up";
    EXPECT_EQ(actions[5], dialog_.logAction());
    EXPECT_EQ(actions[5]->text(), U(TEXT_LOG_FOLDER_MENU));
    EXPECT_FALSE(actions[5]->isVisible()) << "no log was set up";
    EXPECT_EQ(actions[0]->text(), U(TEXT_CLOSE_MENU));
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2], dialog_.aboutAction());
    EXPECT_EQ(actions[2]->text(), U("Quorsel のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    EXPECT_EQ(actions[2]->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));

    Open(TRANSPORT_LAN);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), dialog_.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog_, &rightClick);
    EXPECT_TRUE(dialog_.windowMenu()->isVisible());
    dialog_.windowMenu()->hide();
}

// The version box opened from the settings dialog: its template, and OK back.
void CheckAndCloseVersionBox(bool& seen) {
    WhenVisible<AboutDialog>(
        [&seen](AboutDialog& about) {
            seen = true;
            EXPECT_EQ(about.resourceId(), 100);
            EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Quorselのﾊﾞｰｼﾞｮﾝ情報"));
            EXPECT_TRUE(about.isModal());
            EXPECT_EQ(about.font().pointSize(), 9);
            EXPECT_EQ(about.size(), DialogUnitsToPixels(about.baseUnits(), 0, 0, 235, 55).size());
            EXPECT_EQ(ControlIds(about), (std::vector<int>{-1, -1, 1}));
            auto* icon = qobject_cast<QLabel*>(about.controls()[0]);
            ASSERT_NE(icon, nullptr);
            EXPECT_FALSE(icon->pixmap().isNull());
            EXPECT_EQ(icon->pos(), DialogUnitsToPixels(about.baseUnits(), 11, 17, 0, 0).topLeft());
            EXPECT_EQ(TextOf(about.controls()[1]), "Quorsel Version 1.0");
            EXPECT_EQ(about.controls()[1]->pos(), DialogUnitsToPixels(about.baseUnits(), 40, 10, 0, 0).topLeft());
            EXPECT_TRUE(about.controlAs<QPushButton>(1)->isDefault());
            ClickButton(about, 1);
        },
        "the version box");
}

TEST_F(SettingsDialogTest, TheVersionEntryOpensTheVersionBoxModally) {
    Open(TRANSPORT_LAN);
    bool seen = false;
    CheckAndCloseVersionBox(seen);
    dialog_.aboutAction()->trigger();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dialog_.isVisible()) << "OK returns to the settings dialog";
    EXPECT_EQ(FindVisible<AboutDialog>(), nullptr);
}

TEST_F(SettingsDialogTest, AltAOpensTheVersionBox) {
    Open(TRANSPORT_LAN);
    bool seen = false;
    CheckAndCloseVersionBox(seen);
    QTest::keyClick(Edit(), Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(Edit()->text(), "192.168.1.254") << "Alt+A types nothing";
}

}  // namespace
}  // namespace quorsel::testing
