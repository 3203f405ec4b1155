#include "ui/progress_model.h"

#include <gtest/gtest.h>

#include "res/texts.h"

namespace quorsel {
namespace {

ProgressModel Started(std::array<uint8_t, 4> address = {192, 168, 1, 254}) {
    ProgressModel model(address);
    model.Start();
    return model;
}

TEST(ProgressModelTest, StartsPreparingWithBarAtZeroOfHundredAndOnlyCancel) {
    ProgressModel model = Started();
    EXPECT_EQ(model.state().statusText, TEXT_PREPARING);
    EXPECT_EQ(model.state().barPos, 0u);
    EXPECT_EQ(model.state().barRange, 100u);
    EXPECT_FALSE(model.state().okVisible);
    EXPECT_TRUE(model.state().cancelEnabled);
    EXPECT_TRUE(model.CloseAllowed());
}

struct TextCase {
    int code;
    const char* text;
    bool finishes;
    bool busy;
};

class StatusTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(StatusTextTest, SetsTheStatusLineAndButtonsOfTheCode) {
    const TextCase& c = GetParam();
    ProgressModel model = Started();
    StatusEffect effect = model.Apply(c.code, TransferCounters{1000, 500});
    EXPECT_TRUE(effect.textChanged);
    EXPECT_EQ(model.state().statusText, c.text);
    EXPECT_EQ(effect.finished, c.finishes);
    EXPECT_EQ(model.state().okVisible, c.finishes);
    EXPECT_EQ(model.state().busy, c.busy);
    EXPECT_EQ(model.state().cancelEnabled, !c.busy);
    EXPECT_FALSE(effect.completionBox);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTextCode, StatusTextTest,
    ::testing::Values(TextCase{STATUS_CONNECTING, TEXT_CONNECTING, false, false},
                      TextCase{STATUS_TRANSFERRING, TEXT_TRANSFERRING, false, false},
                      TextCase{STATUS_WRITING, TEXT_WRITING, false, true},
                      TextCase{STATUS_COMM_ERROR, TEXT_COMM_ERROR, true, false},
                      TextCase{STATUS_WRITE_ERROR, TEXT_WRITE_ERROR, true, false},
                      TextCase{STATUS_WRONG_MODEL, TEXT_WRONG_MODEL, true, false},
                      TextCase{STATUS_FILE_ERROR, TEXT_FILE_ERROR, true, false},
                      TextCase{STATUS_ERASING, TEXT_ERASING, false, true},
                      TextCase{STATUS_BAD_PASSWORD, TEXT_BAD_PASSWORD, true, false},
                      TextCase{STATUS_ABORTED, TEXT_ABORTED, true, false}));

TEST(ProgressModelTest, ConnectFailureNamesTheJobAddressWithoutLeadingZeros) {
    ProgressModel model = Started({192, 168, 1, 254});
    model.Apply(STATUS_CONNECT_FAILED, {});
    EXPECT_EQ(model.state().statusText, "192.168.1.254 に接続できません");
    ProgressModel other = Started({10, 0, 0, 2});
    other.Apply(STATUS_CONNECT_FAILED, {});
    EXPECT_EQ(other.state().statusText, "10.0.0.2 に接続できません");
    EXPECT_TRUE(other.state().okVisible);
}

TEST(ProgressModelTest, LanProgressShowsDoneOfTotal) {
    ProgressModel model = Started();
    StatusEffect effect = model.Apply(STATUS_PROGRESS, TransferCounters{8192, 4096});
    EXPECT_TRUE(effect.barChanged);
    EXPECT_FALSE(effect.textChanged);
    EXPECT_EQ(model.state().barRange, 8192u);
    EXPECT_EQ(model.state().barPos, 4096u);
    EXPECT_EQ(model.Percent(), 50u);
    EXPECT_EQ(model.state().statusText, TEXT_PREPARING);
}

TEST(ProgressModelTest, SerialProgressScalesToEightyThenNinetyThenFull) {
    ProgressModel model = Started();
    model.Apply(STATUS_SERIAL_PROGRESS, TransferCounters{100000, 50000});
    EXPECT_EQ(model.state().barPos, 40000u);
    EXPECT_EQ(model.state().barRange, 100000u);
    StatusEffect writing = model.Apply(STATUS_FLASH_WRITING, TransferCounters{100000, 100000});
    EXPECT_TRUE(writing.busyChanged && writing.barChanged && writing.textChanged);
    EXPECT_EQ(model.state().barPos, 90000u);
    EXPECT_EQ(model.state().statusText, TEXT_WRITING);
    EXPECT_FALSE(model.CloseAllowed());
    StatusEffect done = model.Apply(STATUS_COMPLETE, TransferCounters{100000, 100000});
    EXPECT_EQ(model.state().barPos, 100000u);
    EXPECT_TRUE(done.completionBox);
    EXPECT_EQ(model.state().statusText, TEXT_COMPLETE);
}

TEST(ProgressModelTest, BusyHoldsUntilAFinalCodeAndBlocksClosing) {
    ProgressModel model = Started();
    model.Apply(STATUS_ERASING, {});
    EXPECT_FALSE(model.CloseAllowed());
    model.Apply(STATUS_PROGRESS, TransferCounters{10, 5});
    model.Apply(STATUS_TRANSFERRING, {});
    EXPECT_TRUE(model.state().busy) << "no code but a final one leaves the busy state";
    EXPECT_FALSE(model.state().cancelEnabled);
    model.Apply(STATUS_COMPLETE, TransferCounters{10, 10});
    EXPECT_TRUE(model.CloseAllowed());
    EXPECT_TRUE(model.state().cancelEnabled);
    EXPECT_TRUE(model.state().okVisible);
}

TEST(ProgressModelTest, UnknownCodesChangeNothing) {
    ProgressModel model = Started();
    model.Apply(STATUS_PROGRESS, TransferCounters{200, 20});
    for (int code : {259, 265, 267, 270, 274, 280, 287, 0, 1000}) {
        StatusEffect effect = model.Apply(code, TransferCounters{999, 999});
        EXPECT_FALSE(effect.textChanged || effect.barChanged || effect.finished || effect.busyChanged) << code;
    }
    EXPECT_EQ(model.state().barPos, 20u);
    EXPECT_EQ(model.state().statusText, TEXT_PREPARING);
    model.Apply(STATUS_CONNECTING, {});
    EXPECT_EQ(model.state().statusText, TEXT_CONNECTING);
}

TEST(ProgressModelTest, CompletionWithNothingWrittenLeavesAnEmptyBar) {
    ProgressModel model = Started();
    StatusEffect effect = model.Apply(STATUS_COMPLETE, TransferCounters{0, 0});
    EXPECT_TRUE(effect.completionBox);
    EXPECT_EQ(model.Percent(), 0u);
}

}  // namespace
}  // namespace quorsel
