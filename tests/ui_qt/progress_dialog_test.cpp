// The progress dialog: its template, the first paint that starts the run, every
// status code's effect through ShowStatus, the busy lock, and the bridge that
// carries codes over from a worker thread.
#include "ui/qt/progress_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <climits>
#include <thread>

#include "res/texts.h"
#include "tests/ui_qt/gui_driver.h"
#include "ui/qt/run_bridge.h"

namespace quorsel::testing {
namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

class ProgressDialogTest : public ::testing::Test {
protected:
    ProgressDialogTest() : dialog_({192, 168, 1, 254}, "updater") {
        dialog_.SetRunStarter([this] { ++starts_; });
    }
    void ShowRunning() {
        ShowAndActivate(dialog_);
        ASSERT_TRUE(WaitUntil([this] { return starts_ == 1; }));
    }
    QString Status() { return TextOf(dialog_.control(ID_STATUS_LINE)); }
    QProgressBar* Bar() { return dialog_.controlAs<QProgressBar>(ID_PROGRESS_BAR); }
    QPushButton* Ok() { return dialog_.controlAs<QPushButton>(1); }
    QPushButton* Cancel() { return dialog_.controlAs<QPushButton>(2); }
    void ExpectBar(int maximum, int value) {
        EXPECT_EQ(Bar()->minimum(), 0);
        EXPECT_EQ(Bar()->maximum(), maximum);
        EXPECT_EQ(Bar()->value(), value);
    }
    // Answers the completion box once it is up, checking what it says.
    void AnswerCompletionBox() {
        WhenVisible<QMessageBox>(
            [this](QMessageBox& box) {
                ++completionBoxes_;
                BoxContents contents = ContentsOf(box);
                EXPECT_EQ(contents.icon, QMessageBox::Information);
                EXPECT_EQ(contents.title, "updater");
                EXPECT_EQ(contents.text, U("アップデートを完了しました。\nアクセスポイントを再起動してください。"));
                EXPECT_EQ(contents.buttons, std::vector<QString>{"OK"});
                EXPECT_EQ(Status(), U(TEXT_COMPLETE)) << "the status line is set before the box";
                EXPECT_FALSE(Ok()->isVisible()) << "finish comes after the box";
                box.accept();
            },
            "the completion box");
    }
    void ExpectEnded() {
        EXPECT_TRUE(dialog_.runEnded());
        EXPECT_TRUE(Ok()->isVisible());
        EXPECT_TRUE(Cancel()->isEnabled());
        EXPECT_EQ(dialog_.focusWidget(), Ok());
    }

    ProgressDialog dialog_;
    int starts_ = 0;
    int completionBoxes_ = 0;
};

TEST_F(ProgressDialogTest, TemplateAndTheStateBeforeTheFirstPaint) {
    EXPECT_EQ(dialog_.resourceId(), 129);
    EXPECT_EQ(dialog_.windowTitle(), "Quorsel");
    EXPECT_EQ(dialog_.font().pointSize(), 11);
    EXPECT_EQ(dialog_.size(), DialogUnitsToPixels(dialog_.baseUnits(), 0, 0, 227, 86).size());
    EXPECT_EQ(ControlIds(dialog_), (std::vector<int>{1024, 1022, 1, 2, 1019}));
    EXPECT_EQ(Bar()->geometry(), DialogUnitsToPixels(dialog_.baseUnits(), 13, 18, 201, 14));
    auto* status = dialog_.controlAs<QLabel>(ID_STATUS_LINE);
    EXPECT_EQ(status->alignment(), Qt::AlignCenter);
    EXPECT_EQ(status->text(), "");
    EXPECT_EQ(TextOf(Ok()), "OK");
    EXPECT_TRUE(Ok()->isDefault());
    EXPECT_TRUE(Ok()->isHidden());
    EXPECT_EQ(TextOf(Cancel()), U("ｷｬﾝｾﾙ"));
    EXPECT_TRUE(Cancel()->isEnabled());
    EXPECT_TRUE(dialog_.control(1019)->isHidden());
    ExpectBar(100, 0);
    EXPECT_EQ(starts_, 0);
    EXPECT_FALSE(dialog_.runStarted());
}

TEST_F(ProgressDialogTest, TheFirstPaintShowsPreparingAndStartsTheRunOnce) {
    ShowRunning();
    EXPECT_EQ(Status(), U("準備中"));
    ExpectBar(100, 0);
    EXPECT_FALSE(Ok()->isVisible());
    EXPECT_TRUE(Cancel()->isVisible());
    EXPECT_TRUE(dialog_.runStarted());
    EXPECT_FALSE(dialog_.runEnded());
    dialog_.repaint();
    dialog_.update();
    QTest::qWait(30);
    EXPECT_EQ(starts_, 1) << "later paints start nothing";
}

struct CodeCase {
    int code;
    const char* text;
    bool finishes;
    bool busy;
};

class StatusCodeTest : public ProgressDialogTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(StatusCodeTest, SetsTheLineAndTheButtonsOfTheCode) {
    const CodeCase& c = GetParam();
    ShowRunning();
    dialog_.ShowStatus(c.code, TransferCounters{1000, 500});
    EXPECT_EQ(Status(), U(c.text));
    ExpectBar(100, 0);
    EXPECT_EQ(Ok()->isVisible(), c.finishes);
    EXPECT_EQ(Cancel()->isEnabled(), !c.busy);
    EXPECT_EQ(dialog_.runEnded(), c.finishes);
    if (c.finishes) ExpectEnded();
    EXPECT_EQ(FindVisible<QMessageBox>(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EveryTextCode, StatusCodeTest,
                         ::testing::Values(CodeCase{STATUS_CONNECTING, "接続中", false, false},
                                           CodeCase{STATUS_TRANSFERRING, "転送中", false, false},
                                           CodeCase{STATUS_WRITING, "書込み中", false, true},
                                           CodeCase{STATUS_COMM_ERROR, "通信エラーが発生しました", true, false},
                                           CodeCase{STATUS_WRITE_ERROR, "書込みエラーが発生しました", true, false},
                                           CodeCase{STATUS_WRONG_MODEL, "違う機種のファイルです", true, false},
                                           CodeCase{STATUS_FILE_ERROR, "ファイルの読込みでエラーが発生しました", true,
                                                    false},
                                           CodeCase{STATUS_ERASING, "イレーズ中", false, true},
                                           CodeCase{STATUS_BAD_PASSWORD, "パスワードが間違っています", true, false},
                                           CodeCase{STATUS_ABORTED, "処理を中断しました", true, false}));

TEST_F(ProgressDialogTest, ConnectFailureNamesTheJobsAddressWithoutLeadingZeros) {
    ProgressDialog other({10, 0, 0, 2}, "updater");
    ShowAndActivate(other);
    other.ShowStatus(STATUS_CONNECT_FAILED, {});
    EXPECT_EQ(TextOf(other.control(ID_STATUS_LINE)), U("10.0.0.2 に接続できません"));
    EXPECT_TRUE(other.control(1)->isVisible());
    other.hide();

    ShowRunning();
    dialog_.ShowStatus(STATUS_CONNECT_FAILED, {});
    EXPECT_EQ(Status(), U("192.168.1.254 に接続できません"));
    ExpectEnded();
}

TEST_F(ProgressDialogTest, LanProgressMovesTheBarThenCompletionFillsIt) {
    ShowRunning();
    dialog_.ShowStatus(STATUS_CONNECTING, {});
    dialog_.ShowStatus(STATUS_WRITING, {});
    dialog_.ShowStatus(STATUS_PROGRESS, {0x1F5000, 0x4000});
    ExpectBar(0x1F5000, 0x4000);
    EXPECT_EQ(Status(), U("書込み中")) << "progress leaves the line alone";
    AnswerCompletionBox();
    dialog_.ShowStatus(STATUS_COMPLETE, {0x1F5000, 0x1F5000});
    EXPECT_EQ(completionBoxes_, 1);
    ExpectBar(0x1F5000, 0x1F5000);
    EXPECT_EQ(Status(), U("正常終了"));
    ExpectEnded();
}

TEST_F(ProgressDialogTest, SerialProgressScalesToEightyThenNinetyThenFull) {
    ShowRunning();
    dialog_.ShowStatus(STATUS_TRANSFERRING, {});
    dialog_.ShowStatus(STATUS_SERIAL_PROGRESS, {100000, 50000});
    ExpectBar(100000, 40000);
    EXPECT_TRUE(Cancel()->isEnabled());
    dialog_.ShowStatus(STATUS_FLASH_WRITING, {100000, 100000});
    ExpectBar(100000, 90000);
    EXPECT_EQ(Status(), U("書込み中"));
    EXPECT_FALSE(Cancel()->isEnabled());
    AnswerCompletionBox();
    dialog_.ShowStatus(STATUS_COMPLETE, {100000, 100000});
    ExpectBar(100000, 100000);
    ExpectEnded();
}

TEST_F(ProgressDialogTest, WhileBusyCloseEscapeAndCancelDoNothing) {
    ShowRunning();
    dialog_.ShowStatus(STATUS_WRITING, {});
    EXPECT_FALSE(Cancel()->isEnabled());
    EXPECT_FALSE(dialog_.close());
    EXPECT_TRUE(dialog_.isVisible());
    QTest::keyClick(&dialog_, Qt::Key_Escape);
    EXPECT_TRUE(dialog_.isVisible());
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_TRUE(dialog_.isVisible());
    dialog_.reject();
    EXPECT_TRUE(dialog_.isVisible());

    // Codes that do not finish keep the lock, also across later ranges.
    dialog_.ShowStatus(STATUS_PROGRESS, {10, 5});
    dialog_.ShowStatus(STATUS_CONNECTING, {});
    EXPECT_FALSE(Cancel()->isEnabled());
    EXPECT_FALSE(dialog_.close());

    dialog_.ShowStatus(STATUS_WRITE_ERROR, {});
    ExpectEnded();
    EXPECT_TRUE(dialog_.close());
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);
}

TEST_F(ProgressDialogTest, AfterTheEndOkClosesTheDialog) {
    ShowRunning();
    dialog_.ShowStatus(STATUS_ERASING, {});
    dialog_.ShowStatus(STATUS_ABORTED, {});
    ExpectEnded();
    QTest::keyClick(dialog_.focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), RESULT_OK);
}

TEST_F(ProgressDialogTest, UnknownCodesChangeNothingAndTheNextCodeIsHandled) {
    ShowRunning();
    dialog_.ShowStatus(STATUS_CONNECTING, {});
    for (int code : {259, 265, 267, 270, 274, 280, 287, 0, 1000}) {
        dialog_.ShowStatus(code, {500, 400});
        EXPECT_EQ(Status(), U("接続中")) << code;
        ExpectBar(100, 0);
        EXPECT_TRUE(Cancel()->isEnabled()) << code;
        EXPECT_FALSE(Ok()->isVisible()) << code;
    }
    dialog_.ShowStatus(STATUS_TRANSFERRING, {});
    EXPECT_EQ(Status(), U("転送中"));
}

TEST_F(ProgressDialogTest, CloseOutsideTheBusyLockEndsTheDialogAndReportsTheRunAsCut) {
    int midRunEnds = 0;
    dialog_.SetMidRunEnd([&] { ++midRunEnds; });
    ShowRunning();
    dialog_.ShowStatus(STATUS_CONNECTING, {});
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);
    EXPECT_EQ(midRunEnds, 1);
}

TEST_F(ProgressDialogTest, ClosingAfterTheEndIsNoCut) {
    int midRunEnds = 0;
    dialog_.SetMidRunEnd([&] { ++midRunEnds; });
    ShowRunning();
    dialog_.ShowStatus(STATUS_COMM_ERROR, {});
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(midRunEnds, 0);
}

TEST(BarValuesTest, ZeroRangeIsAnEmptyBarAndHugeRangesAreScaled) {
    EXPECT_EQ(BarValuesFor(0, 0).maximum, 1);
    EXPECT_EQ(BarValuesFor(0, 0).value, 0);
    EXPECT_EQ(BarValuesFor(100, 250).value, 100) << "a position past the end stands at the end";
    BarValues huge = BarValuesFor(UINT32_MAX, UINT32_MAX / 2);
    EXPECT_LE(huge.maximum, INT_MAX);
    EXPECT_NEAR(static_cast<double>(huge.value) / huge.maximum, 0.5, 1e-6);
}

// The worker side: Notify waits until the code is handled, completion box included;
// Post returns at once and the code is handled later.
TEST_F(ProgressDialogTest, NotifyFromAWorkerWaitsForTheCompletionBox) {
    RunBridge bridge(dialog_, "updater");
    ShowRunning();
    std::atomic<bool> notified{false};
    std::atomic<bool> returnedWhileBoxUp{false};
    WhenVisible<QMessageBox>(
        [&](QMessageBox& box) {
            QTest::qWait(50);
            returnedWhileBoxUp = notified.load();
            box.accept();
        },
        "the completion box");
    std::thread worker([&] {
        bridge.Notify(STATUS_CONNECTING, {});
        bridge.Notify(STATUS_WRITING, {});
        bridge.Notify(STATUS_PROGRESS, {4096, 2048});
        bridge.Notify(STATUS_COMPLETE, {4096, 4096});
        notified = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return notified.load(); }));
    worker.join();
    EXPECT_FALSE(returnedWhileBoxUp);
    ExpectBar(4096, 4096);
    ExpectEnded();
}

TEST_F(ProgressDialogTest, PostFromAWorkerIsHandledLater) {
    RunBridge bridge(dialog_, "updater");
    ShowRunning();
    std::thread worker([&] { bridge.Post(STATUS_ABORTED, {}); });
    worker.join();  // the worker is done before the dialog's thread has looked
    EXPECT_EQ(Status(), U("準備中"));
    EXPECT_TRUE(WaitUntil([&] { return dialog_.runEnded(); }));
    EXPECT_EQ(Status(), U("処理を中断しました"));
    ExpectEnded();
}

}  // namespace
}  // namespace quorsel::testing
