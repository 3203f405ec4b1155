// The power-on prompt over scripted serial ports: the answer ends it with 1, Cancel
// with 2, a port that cannot be opened or set up shows its message first.
#include "ui/qt/power_on_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include "res/texts.h"
#include "tests/support/fake_serial_line.h"
#include "tests/ui_qt/gui_driver.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/run_bridge.h"

namespace quorsel::testing {
namespace {

using std::chrono::milliseconds;

QString U(const char* text) { return QString::fromUtf8(text); }

constexpr milliseconds FAST_WAKE{5};

TEST(PowerOnDialogTest, TemplateWithCancelFocusedAndTheTwoHiddenButtons) {
    FakeSerialPorts ports;
    PowerOnWait wait(ports, 0, 115200, FAST_WAKE);
    PowerOnDialog dialog(wait, "updater");
    EXPECT_EQ(dialog.resourceId(), 130);
    EXPECT_EQ(dialog.windowTitle(), "Quorsel");
    EXPECT_EQ(dialog.font().pointSize(), 10);
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(dialog.baseUnits(), 0, 0, 159, 65).size());
    EXPECT_EQ(ControlIds(dialog), (std::vector<int>{2, -1, -1, -1, 1019, 1}));
    std::vector<QString> texts;
    for (QWidget* control : dialog.controls()) texts.push_back(TextOf(control));
    EXPECT_EQ(texts, (std::vector<QString>{U("ｷｬﾝｾﾙ"), U("アクセスポイントの電源を入れてください。"),
                                           U("すでに電源が入っている場合は、いったん"),
                                           U("電源切り、再度電源を入れてください。"), "", ""}));
    for (int index : {1, 2, 3}) {
        auto* label = qobject_cast<QLabel*>(dialog.controls()[index]);
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    }
    EXPECT_TRUE(dialog.control(1019)->isHidden());
    EXPECT_TRUE(dialog.control(1)->isHidden());
    ShowAndActivate(dialog);
    EXPECT_EQ(QApplication::focusWidget(), dialog.control(2));
    dialog.reject();
    wait.Stop();
}

TEST(PowerOnDialogTest, TheAccessPointsAnswerEndsItWithOneAndLeavesTheLineReady) {
    FakeSerialPorts ports;
    ports.PrepareLines([](FakeSerialLine& line) {
        line.Feed("boot text");  // dropped until the ready byte
        line.Feed({'*'});
    });
    PowerOnWait wait(ports, 2, 38400, FAST_WAKE);
    bool answered = RunPowerOnPrompt(wait, "updater", nullptr);
    EXPECT_TRUE(answered);
    ASSERT_EQ(ports.opens().size(), 1u);
    EXPECT_EQ(ports.opens()[0].comIndex, 2u);
    EXPECT_EQ(ports.opens()[0].baudRate, 38400u);
    std::unique_ptr<SerialLine> line = wait.TakeLine();
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(ports.lines()[0]->released());
    std::vector<uint8_t> written = ports.lines()[0]->Written();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written[0], 'X');
    EXPECT_EQ(FindVisible<PowerOnDialog>(), nullptr);
}

TEST(PowerOnDialogTest, CancelEndsItWithTwoStopsTheWaitAndReleasesTheLine) {
    FakeSerialPorts ports;
    PowerOnWait wait(ports, 0, 115200, FAST_WAKE);
    int repaintsSeen = 0;
    WhenVisible<PowerOnDialog>(
        [&](PowerOnDialog& dialog) {
            // Wait until the worker has the line, repaint a few times, then cancel.
            ASSERT_TRUE(WaitUntil([&] { return !ports.lines().empty() && !ports.lines()[0]->Written().empty(); }));
            for (int i = 0; i < 3; ++i) {
                dialog.repaint();
                ++repaintsSeen;
            }
            ClickButton(dialog, 2);
        },
        "the power-on prompt");
    bool answered = RunPowerOnPrompt(wait, "updater", nullptr);
    EXPECT_FALSE(answered);
    EXPECT_EQ(repaintsSeen, 3);
    EXPECT_EQ(ports.opens().size(), 1u) << "a repaint starts no second worker";
    ASSERT_EQ(ports.lines().size(), 1u);
    EXPECT_TRUE(ports.lines()[0]->released());
    size_t writes = ports.lines()[0]->Written().size();
    QTest::qWait(30);
    EXPECT_EQ(ports.lines()[0]->Written().size(), writes) << "the wake-up has stopped";
    EXPECT_EQ(wait.TakeLine(), nullptr);
}

struct PortFailure {
    SerialOpenError error;
    const char* message;
};

class PortFailureTest : public ::testing::TestWithParam<PortFailure> {};

TEST_P(PortFailureTest, TheMessageComesFirstThenThePromptEndsWithTwo) {
    FakeSerialPorts ports;
    ports.FailOpens(GetParam().error);
    PowerOnWait wait(ports, 1, 115200, FAST_WAKE);
    BoxContents seen{};
    bool promptUpUnderTheBox = false;
    WhenVisible<QMessageBox>(
        [&](QMessageBox& box) {
            seen = ContentsOf(box);
            promptUpUnderTheBox = FindVisible<PowerOnDialog>() != nullptr;
            box.accept();
        },
        "the port error box");
    bool answered = RunPowerOnPrompt(wait, "updater", nullptr);
    EXPECT_FALSE(answered);
    EXPECT_TRUE(promptUpUnderTheBox);
    EXPECT_EQ(seen.text, U(GetParam().message));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.title, "updater");
    EXPECT_EQ(seen.buttons, std::vector<QString>{"OK"});
}

INSTANTIATE_TEST_SUITE_P(OpenAndSetUp, PortFailureTest,
                         ::testing::Values(PortFailure{SerialOpenError::OpenFailed, "通信ポートのオープンエラー"},
                                           PortFailure{SerialOpenError::SetupFailed, "通信ポートの初期化エラー"}));

// The run's worker asks for the prompt; it is shown modally over the progress
// dialog on the dialog's thread while the worker waits for the answer.
TEST(PowerOnDialogTest, AWorkersRequestIsShownModallyOverTheProgressDialog) {
    ProgressDialog progress({0, 0, 0, 0}, "updater");
    RunBridge bridge(progress, "updater");
    ShowAndActivate(progress);
    FakeSerialPorts ports;
    std::atomic<bool> release{false};
    ports.PrepareLines([&](FakeSerialLine& line) {
        line.OnWrite([&](const std::vector<uint8_t>&) {
            return release.load() ? Answer({'*'}) : std::vector<FakeInbound>{};
        });
    });
    PowerOnWait wait(ports, 0, 115200, FAST_WAKE);
    bool modalOverProgress = false;
    WhenVisible<PowerOnDialog>(
        [&](PowerOnDialog& dialog) {
            modalOverProgress = dialog.isModal() && dialog.parentWidget() == &progress &&
                                QApplication::activeModalWidget() == &dialog;
            release = true;
        },
        "the power-on prompt");
    std::atomic<int> outcome{-1};
    std::thread worker([&] { outcome = bridge.Show(wait) ? 1 : 0; });
    EXPECT_TRUE(WaitUntil([&] { return outcome.load() >= 0; }));
    worker.join();
    EXPECT_EQ(outcome.load(), 1);
    EXPECT_TRUE(modalOverProgress);
    EXPECT_NE(wait.TakeLine(), nullptr);
    progress.hide();
}

}  // namespace
}  // namespace quorsel::testing
