// Whole start-ups through the desktop front-end: the start-up message boxes, the
// settings loop, runs against quorsel-apsim over loopback, and the end of the
// process when the progress dialog is closed mid-run.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "job/startup.h"
#include "engine/posix_network.h"
#include "engine/search/probe_network_posix.h"
#include "image/container.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "tests/support/apsim_process.h"
#include "tests/support/container_builder.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_serial_line.h"
#include "tests/support/temp_dir.h"
#include "tests/ui_qt/gui_driver.h"
#include "ui/qt/desktop_frontend.h"
#include "ui/qt/password_dialog.h"
#include "ui/qt/power_on_dialog.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/search_dialog.h"
#include "ui/qt/settings_dialog.h"

namespace quorsel::testing {
namespace {

using std::chrono::milliseconds;

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t REGIONS_4_AND_5_START = 0xB000;  // 2 MiB layout
constexpr milliseconds SHORT_PAUSE{5};

QString U(const char* text) { return QString::fromUtf8(text); }

PeerTimeouts TestTimeouts() {
    PeerTimeouts timeouts;
    timeouts.connect = milliseconds(3000);
    timeouts.lanRead = milliseconds(5000);
    timeouts.serialAnswer = milliseconds(5000);
    return timeouts;
}

// The run's fixed pauses, cut short.
void ShortSleep(milliseconds pause) { std::this_thread::sleep_for(std::min(pause, SHORT_PAUSE)); }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// A firmware file: executable-like bytes, then the container with image and a loader.
std::string WriteUpdater(const TempDir& dir, const std::vector<uint8_t>& image) {
    std::string path = dir.File("updater");
    ContainerParts parts = MakeContainerParts(image, std::vector<uint8_t>(300, 0x5A), ExecutableLikeBytes(8192, 3));
    EXPECT_TRUE(WriteContainerFile(path, parts));
    return path;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loopback sockets, with the access point's port 9002 sent to the simulator's port.
class RedirectingNetwork : public Network {
public:
    explicit RedirectingNetwork(uint16_t port) : port_(port) {}
    bool StartLibrary() override { return inner_.StartLibrary(); }
    void ReleaseLibrary() override { inner_.ReleaseLibrary(); }
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, milliseconds timeout) override {
        PeerAddress redirected = peer;
        if (peer.port[0] == (LAN_UPDATE_PORT >> 8) && peer.port[1] == (LAN_UPDATE_PORT & 0xFF)) {
            redirected.port = {static_cast<uint8_t>(port_ >> 8), static_cast<uint8_t>(port_ & 0xFF)};
        }
        return inner_.Connect(redirected, timeout);
    }

private:
    PosixNetwork inner_;
    uint16_t port_;
};

// A network whose connect never comes back: the run stays at "接続中".
class HangingNetwork : public Network {
public:
    bool StartLibrary() override { return true; }
    void ReleaseLibrary() override {}
    std::unique_ptr<ByteStream> Connect(const PeerAddress&, milliseconds) override {
        std::this_thread::sleep_for(std::chrono::hours(1));
        return nullptr;
    }
};

// Steps a test takes on the windows as they come up.
void AnswerBox(BoxContents& seen, const char* what) {
    WhenVisible<QMessageBox>(
        [&seen](QMessageBox& box) {
            seen = ContentsOf(box);
            box.accept();
        },
        what);
}

// Once the run has ended (OK shown), reads the progress dialog and presses its OK.
struct EndState {
    QString status;
    int barMaximum = -1;
    int barValue = -1;
};
void CloseProgressWhenEnded(EndState& end) {
    When(
        [] {
            ProgressDialog* progress = FindVisible<ProgressDialog>();
            return progress != nullptr && progress->control(ID_OK_BUTTON)->isVisible();
        },
         [&end] {
             ProgressDialog& progress = *FindVisible<ProgressDialog>();
             end.status = TextOf(progress.control(ID_STATUS_LINE));
             auto* bar = progress.controlAs<QProgressBar>(ID_PROGRESS_BAR);
             end.barMaximum = bar->maximum();
             end.barValue = bar->value();
             EXPECT_EQ(progress.focusWidget(), progress.control(ID_OK_BUTTON));
             ClickButton(progress, ID_OK_BUTTON);
         },
         "the end of the run");
}

TEST(DesktopStartupTest, InvalidArgumentsShowTheirBoxWithoutIcon) {
    FakeNetwork network;
    FakeSerialPorts ports;
    DesktopFrontend frontend(ApplicationTitle("/opt/tools/updater.exe"), network, ports);
    BoxContents seen{};
    AnswerBox(seen, "the invalid-arguments box");
    int status = RunStartup(frontend, network, Quoted("/opt/tools/updater") + " -x", "", TestTimeouts());
    EXPECT_EQ(status, EXIT_INVALID_ARGUMENTS);
    EXPECT_EQ(seen.text, U("引数の指定が間違っています"));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.title, "updater");
    EXPECT_EQ(seen.buttons, std::vector<QString>{"OK"});
    EXPECT_EQ(FindVisible<SettingsDialog>(), nullptr);
}

TEST(DesktopStartupTest, SocketLayerFailureShowsTheExclamationBox) {
    FakeNetwork network;
    network.SetLibraryStarts(false);
    FakeSerialPorts ports;
    DesktopFrontend frontend("quorsel", network, ports);
    BoxContents seen{};
    AnswerBox(seen, "the socket-layer box");
    int status = RunStartup(frontend, network, Quoted("/usr/bin/quorsel"), "", TestTimeouts());
    EXPECT_EQ(status, EXIT_SOCKET_LAYER);
    EXPECT_EQ(seen.text, U("Windows ｿｹｯﾄの初期化に失敗しました。"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.title, "quorsel");
}

TEST(DesktopStartupTest, AnInvalidAddressShowsTheSettingsAgainWithTheTypedText) {
    FakeNetwork network;
    FakeSerialPorts ports;
    DesktopFrontend frontend("quorsel", network, ports);
    QString secondShowing;
    WhenVisible<SettingsDialog>(
        [&](SettingsDialog& first) {
            first.controlAs<QLineEdit>(ID_ADDRESS_EDIT)->setText("1.2.3");
            ClickButton(first, ID_OK_BUTTON);
            WhenVisible<SettingsDialog>(
                [&](SettingsDialog& second) {
                    secondShowing = TextOf(second.control(ID_ADDRESS_EDIT));
                    ClickButton(second, ID_CANCEL_BUTTON);
                },
                "the second showing");
        },
        "the settings dialog");
    int status = RunStartup(frontend, network, Quoted("/usr/bin/quorsel"), "", TestTimeouts());
    EXPECT_EQ(status, EXIT_USER_ENDED);
    EXPECT_EQ(secondShowing, "1.2.3");
    EXPECT_TRUE(network.connects().empty()) << "nothing was run";
}

class DesktopLanRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = MakePlainImage(MIB2, "KRV001");
        updater_ = WriteUpdater(dir_, image_);
    }
    bool StartSimulator(const std::vector<std::string>& args) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--flash", dir_.File("flash.bin")});
        return apsim_.Start(all, dir_.File("apsim.log"));
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string updater_;
    ApSimProcess apsim_;
};

// Settings dialog, password dialog, completion box: a new-generation access point
// gets regions 4 and 5, chosen with the defaults, through the dialogs alone.
TEST_F(DesktopLanRunTest, SettingsPasswordAndCompletionThroughTheDialogs) {
    ASSERT_TRUE(StartSimulator({"--model", "KRV001", "--generation", "2", "--password", "secret"}));
    RedirectingNetwork network(apsim_.port());
    FakeSerialPorts ports;
    DesktopFrontend frontend("updater", network, ports, ShortSleep);

    WhenVisible<SettingsDialog>(
        [](SettingsDialog& settings) {
            auto* edit = settings.controlAs<QLineEdit>(ID_ADDRESS_EDIT);
            edit->selectAll();
            QTest::keyClicks(edit, "127.0.0.1");
            ClickButton(settings, ID_OK_BUTTON);
        },
        "the settings dialog");
    QString statusAtPassword;
    bool cancelUsableAtPassword = false;
    WhenVisible<PasswordDialog>(
        [&](PasswordDialog& password) {
            ProgressDialog* progress = FindVisible<ProgressDialog>();
            ASSERT_NE(progress, nullptr);
            statusAtPassword = TextOf(progress->control(ID_STATUS_LINE));
            // The prompt is no modal window of its own: the progress dialog stays the
            // top modal window and its Cancel stays enabled.
            cancelUsableAtPassword = progress->control(ID_CANCEL_BUTTON)->isEnabled() &&
                                     QApplication::activeModalWidget() == progress;
            QTest::keyClicks(password.control(ID_PASSWORD_EDIT), "secret");
            QTest::keyClick(password.control(ID_PASSWORD_EDIT), Qt::Key_Return);
        },
        "the password dialog");
    BoxContents completion{};
    AnswerBox(completion, "the completion box");
    EndState end;
    CloseProgressWhenEnded(end);

    int status = RunStartup(frontend, network, Quoted(updater_), updater_, TestTimeouts());
    EXPECT_EQ(status, EXIT_COMPLETED) << apsim_.Log();
    EXPECT_EQ(statusAtPassword, U("接続中"));
    EXPECT_TRUE(cancelUsableAtPassword) << "the progress dialog is not blocked by the password prompt";
    EXPECT_EQ(completion.text, U("アップデートを完了しました。\nアクセスポイントを再起動してください。"));
    EXPECT_EQ(completion.icon, QMessageBox::Information);
    EXPECT_EQ(end.status, U("正常終了"));
    EXPECT_EQ(end.barValue, end.barMaximum);

    std::vector<uint8_t> flash = ReadAll(dir_.File("flash.bin"));
    ASSERT_EQ(flash.size(), MIB2);
    EXPECT_TRUE(std::equal(image_.begin() + REGIONS_4_AND_5_START, image_.end(), flash.begin() + REGIONS_4_AND_5_START))
        << "the flash differs from the image over the written range";
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + REGIONS_4_AND_5_START, [](uint8_t b) { return b == 0xFF; }))
        << "nothing outside the range was written";
}

// A real search from the settings dialog's window menu (over loopback, on the
// simulator's port) finds the access point and marks it as fitting this firmware;
// the choice lands in the address edit, and the update then completes.
TEST_F(DesktopLanRunTest, SearchPickThenTheUpdateCompletes) {
    ASSERT_TRUE(StartSimulator({"--model", "KRV001", "--generation", "1"}));
    RedirectingNetwork network(apsim_.port());
    FakeSerialPorts ports;
    PosixProbeNetwork probe;
    const uint16_t port = apsim_.port();
    const std::string firmwareModel = ReadFirmwareModel(updater_).value_or(std::string());
    DesktopFrontend frontend("updater", network, ports, ShortSleep);
    frontend.SetSearch([&probe, port, firmwareModel](SearchListener& listener, const SearchStop& stop) {
        SearchSettings settings;
        settings.port = port;
        settings.firmwareModel = firmwareModel;
        return SearchAccessPoints(probe, {{127, 0, 0, 1}}, settings, listener, stop);
    });

    QString found, fits;
    WhenVisible<SettingsDialog>(
        [&](SettingsDialog& settings) {
            WhenVisible<SearchDialog>(
                [&](SearchDialog& search) {
                    auto* list = search.controlAs<QTreeWidget>(CTL_SEARCH_LIST);
                    ASSERT_TRUE(WaitUntil([&] { return list->topLevelItemCount() == 1; }));
                    found = list->topLevelItem(0)->text(COLUMN_ADDRESS) + " " + list->topLevelItem(0)->text(COLUMN_MODEL);
                    fits = list->topLevelItem(0)->text(COLUMN_FITS);
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                      list->visualItemRect(list->topLevelItem(0)).center());
                    ClickButton(search, ID_OK_BUTTON);
                },
                "the search dialog");
            When([&settings] { return FindVisible<SearchDialog>() == nullptr && TextOf(settings.control(ID_ADDRESS_EDIT)) == "127.0.0.1"; },
                 [&settings] { ClickButton(settings, ID_OK_BUTTON); }, "the address from the search");
            settings.searchAction()->trigger();
        },
        "the settings dialog");
    BoxContents completion{};
    AnswerBox(completion, "the completion box");
    EndState end;
    CloseProgressWhenEnded(end);

    int status = RunStartup(frontend, network, Quoted(updater_), updater_, TestTimeouts());
    EXPECT_EQ(found, "127.0.0.1 KRV001");
    EXPECT_EQ(fits, U("○"));
    EXPECT_EQ(status, EXIT_COMPLETED) << apsim_.Log();
    EXPECT_EQ(end.status, U("正常終了"));
}

TEST_F(DesktopLanRunTest, AFailureEndsWithItsCodesExitStatus) {
    ASSERT_TRUE(StartSimulator({"--model", "KRV010", "--generation", "1"}));
    RedirectingNetwork network(apsim_.port());
    FakeSerialPorts ports;
    DesktopFrontend frontend("updater", network, ports, ShortSleep);
    EndState end;
    CloseProgressWhenEnded(end);
    int status = RunStartup(frontend, network, Quoted(updater_) + " -f 127.0.0.1", updater_, TestTimeouts());
    EXPECT_EQ(status, ExitStatusFor(STATUS_WRONG_MODEL));
    EXPECT_EQ(end.status, U("違う機種のファイルです"));
    EXPECT_EQ(FindVisible<PasswordDialog>(), nullptr);
}

// The serial run's prompts through the dialogs, over scripted ports: giving up at the
// power-on prompt, or a port that cannot be opened, ends the run with the posted
// abort, which the progress dialog shows like any final code.
class DesktopSerialPromptTest : public ::testing::Test {
protected:
    void SetUp() override { updater_ = WriteUpdater(dir_, MakePlainImage(MIB2, "KRV001")); }

    int Run(FakeSerialPorts& ports, EndState& end) {
        FakeNetwork network;
        DesktopFrontend frontend("updater", network, ports, ShortSleep);
        WhenVisible<PasswordDialog>([](PasswordDialog& password) { ClickButton(password, ID_OK_BUTTON); },
                                    "the password dialog");
        CloseProgressWhenEnded(end);
        return RunStartup(frontend, network, Quoted(updater_) + " -b com3", updater_, TestTimeouts());
    }

    TempDir dir_;
    std::string updater_;
};

TEST_F(DesktopSerialPromptTest, CancelAtThePowerOnPromptAbortsTheRun) {
    FakeSerialPorts ports;
    bool progressBlocked = false;
    WhenVisible<PowerOnDialog>(
        [&](PowerOnDialog& prompt) {
            progressBlocked = QApplication::activeModalWidget() == &prompt;
            // The prompt's own thread opens the port; cancel once it has, as a user
            // who switches the access point on too late would.
            const auto deadline = std::chrono::steady_clock::now() + DRIVER_WAIT;
            while (ports.opens().empty() && std::chrono::steady_clock::now() < deadline) QTest::qWait(10);
            ClickButton(prompt, ID_CANCEL_BUTTON);
        },
        "the power-on prompt");
    EndState end;
    int status = Run(ports, end);
    EXPECT_EQ(status, ExitStatusFor(STATUS_ABORTED));
    EXPECT_EQ(end.status, U("処理を中断しました"));
    EXPECT_TRUE(progressBlocked) << "the prompt is modal over the progress dialog";
    ASSERT_EQ(ports.opens().size(), 1u);
    EXPECT_EQ(ports.opens()[0].comIndex, 2u);
    EXPECT_TRUE(ports.lines()[0]->released());
}

TEST_F(DesktopSerialPromptTest, APortThatCannotBeOpenedIsReportedThenTheRunAborts) {
    FakeSerialPorts ports;
    ports.FailOpens(SerialOpenError::OpenFailed);
    BoxContents seen{};
    AnswerBox(seen, "the port error box");
    EndState end;
    int status = Run(ports, end);
    EXPECT_EQ(status, ExitStatusFor(STATUS_ABORTED));
    EXPECT_EQ(seen.text, U("通信ポートのオープンエラー"));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.title, "updater");
    EXPECT_EQ(end.status, U("処理を中断しました"));
}

// EXPECT_EXIT's child runs the test anew from its start and ends with _Exit, which
// removes no folder: the child takes the updater of the parent, named in the
// environment it inherits, and the parent's folder goes with the parent's test.
class ParentsUpdater {
public:
    ParentsUpdater() {
        if (const char* inherited = std::getenv(VARIABLE)) {
            path_ = inherited;
            return;
        }
        dir_.emplace();
        path_ = WriteUpdater(*dir_, MakePlainImage(MIB2, "KRV001"));
        ::setenv(VARIABLE, path_.c_str(), 1);
    }
    ~ParentsUpdater() {
        if (dir_) ::unsetenv(VARIABLE);
    }
    ParentsUpdater(const ParentsUpdater&) = delete;
    ParentsUpdater& operator=(const ParentsUpdater&) = delete;
    const std::string& path() const { return path_; }

private:
    static constexpr const char* VARIABLE = "QUORSEL_TEST_PARENTS_UPDATER";
    std::optional<TempDir> dir_;
    std::string path_;
};

// Closing the progress dialog while the run goes on ends the process at once with
// status 1, wherever the worker is waiting. (Each case runs in a child process.)
TEST(DesktopMidRunCloseDeathTest, CancelWhileConnectingEndsTheProcess) {
    const ParentsUpdater parents;
    const std::string& updater = parents.path();
    EXPECT_EXIT(
        {
            HangingNetwork network;
            FakeSerialPorts ports;
            DesktopFrontend frontend("updater", network, ports, ShortSleep);
            When(
                [] {
                    ProgressDialog* progress = FindVisible<ProgressDialog>();
                    return progress != nullptr && TextOf(progress->control(ID_STATUS_LINE)) == U("接続中");
                },
                [] { ClickButton(*FindVisible<ProgressDialog>(), ID_CANCEL_BUTTON); }, "connecting");
            RunStartup(frontend, network, Quoted(updater) + " -f 127.0.0.1", updater, TestTimeouts());
            std::fprintf(stderr, "start-up returned\n");
            std::exit(9);
        },
        ::testing::ExitedWithCode(EXIT_USER_ENDED), "");
}

TEST(DesktopMidRunCloseDeathTest, CancelOnTheProgressDialogDuringThePasswordPromptEndsTheProcess) {
    const ParentsUpdater parents;
    const std::string& updater = parents.path();
    EXPECT_EXIT(
        {
            FakeNetwork network;
            network.AddPeer()->AwaitSend().Deliver("KRV0012\n");
            FakeSerialPorts ports;
            DesktopFrontend frontend("updater", network, ports, ShortSleep);
            WhenVisible<PasswordDialog>(
                [](PasswordDialog&) { ClickButton(*FindVisible<ProgressDialog>(), ID_CANCEL_BUTTON); },
                "the password dialog");
            RunStartup(frontend, network, Quoted(updater) + " -f 127.0.0.1", updater, TestTimeouts());
            std::exit(9);
        },
        ::testing::ExitedWithCode(EXIT_USER_ENDED), "");
}

}  // namespace
}  // namespace quorsel::testing
