// The password dialog: masked entry of at most 15 characters, the checks on OK.
#include "ui/qt/password_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "tests/ui_qt/gui_driver.h"

namespace quorsel::testing {
namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

class PasswordDialogTest : public ::testing::Test {
protected:
    PasswordDialogTest() : dialog_("updater") {}
    QLineEdit* Edit() { return dialog_.controlAs<QLineEdit>(ID_PASSWORD_EDIT); }
    // Answers the next warning box, recording what it said.
    void AnswerWarning(BoxContents& seen) {
        WhenVisible<QMessageBox>(
            [&seen](QMessageBox& box) {
                seen = ContentsOf(box);
                box.accept();
            },
            "the warning box");
    }

    PasswordDialog dialog_;
};

TEST_F(PasswordDialogTest, TemplateWithAMaskedEditThatHasTheFocus) {
    EXPECT_EQ(dialog_.resourceId(), 131);
    EXPECT_EQ(dialog_.windowTitle(), U("パスワード"));
    EXPECT_EQ(dialog_.font().pointSize(), 9);
    EXPECT_EQ(dialog_.size(), DialogUnitsToPixels(dialog_.baseUnits(), 0, 0, 175, 45).size());
    EXPECT_EQ(ControlIds(dialog_), (std::vector<int>{-1, 1004, 1, 2}));
    EXPECT_EQ(TextOf(dialog_.controls()[0]), U("パスワードを入力してください"));
    EXPECT_EQ(Edit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit()->maxLength(), 15);
    EXPECT_EQ(Edit()->text(), "");
    EXPECT_EQ(TextOf(dialog_.control(1)), "OK");
    EXPECT_TRUE(dialog_.controlAs<QPushButton>(1)->isDefault());
    EXPECT_EQ(TextOf(dialog_.control(2)), U("ｷｬﾝｾﾙ"));
    EXPECT_EQ(dialog_.control(2)->geometry(), DialogUnitsToPixels(dialog_.baseUnits(), 118, 24, 50, 14));

    ShowAndActivate(dialog_);
    EXPECT_EQ(QApplication::focusWidget(), Edit());
    EXPECT_EQ(TabRound(dialog_, 1004), (std::vector<int>{1, 2}));
}

TEST_F(PasswordDialogTest, TypedTextIsMaskedAndStopsAtFifteenCharacters) {
    ShowAndActivate(dialog_);
    QTest::keyClicks(Edit(), "0123456789abcdefgh");
    EXPECT_EQ(Edit()->text(), "0123456789abcde");
    EXPECT_NE(Edit()->displayText(), Edit()->text()) << "shown masked";
    QTest::keyClick(Edit(), Qt::Key_Return);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), RESULT_OK);
    EXPECT_EQ(dialog_.password(), "0123456789abcde");
}

TEST_F(PasswordDialogTest, AnEmptyPasswordIsAccepted) {
    ShowAndActivate(dialog_);
    ClickButton(dialog_, 1);
    EXPECT_EQ(dialog_.result(), RESULT_OK);
    EXPECT_EQ(dialog_.password(), "");
}

TEST_F(PasswordDialogTest, CancelAndTheCloseBoxGiveCancel) {
    ShowAndActivate(dialog_);
    QTest::keyClicks(Edit(), "secret");
    ClickButton(dialog_, 2);
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);
    ShowAndActivate(dialog_);
    EXPECT_TRUE(dialog_.close());
    EXPECT_EQ(dialog_.result(), RESULT_CANCEL);
}

TEST_F(PasswordDialogTest, MoreThanFifteenBytesAreRefusedWithAWarningAndTheDialogStays) {
    ShowAndActivate(dialog_);
    // Ten characters, twenty bytes in code page 932.
    Edit()->setText(U("あいうえおかきくけこ"));
    BoxContents seen{};
    AnswerWarning(seen);
    ClickButton(dialog_, 1);
    EXPECT_EQ(seen.text, U("15 文字以内で入力してください。"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.title, "updater");
    EXPECT_EQ(seen.buttons, std::vector<QString>{"OK"});
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(dialog_.focusWidget(), Edit());

    // Seven characters of two bytes fit.
    Edit()->setText(U("あいうえおかき"));
    ClickButton(dialog_, 1);
    EXPECT_EQ(dialog_.result(), RESULT_OK);
    EXPECT_EQ(dialog_.password().size(), 14u);
    EXPECT_EQ(static_cast<unsigned char>(dialog_.password()[0]), 0x82u) << "code page 932 bytes";
}

TEST_F(PasswordDialogTest, ACharacterOutsideCodePage932IsRefused) {
    ShowAndActivate(dialog_);
    Edit()->setText(U("ab\xF0\x9F\x98\x80"));
    BoxContents seen{};
    AnswerWarning(seen);
    ClickButton(dialog_, 1);
    EXPECT_EQ(seen.text, U("パスワードに使えない文字が含まれています。"));
    EXPECT_TRUE(dialog_.isVisible());
    dialog_.reject();
}

}  // namespace
}  // namespace quorsel::testing
