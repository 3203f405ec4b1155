// The real quorsel binary, with a container appended by quorsel-pack, updates
// quorsel-apsim over the LAN at the default address 192.168.1.254:9002.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace quorsel::testing {
namespace {

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t MIB4 = 0x400000;

struct Span {
    uint32_t start;
    uint32_t length;
};

class LanUpdateTest : public ::testing::Test {
protected:
    void Pack(uint32_t size, const std::string& model) {
        image_ = SampleImage(size, model);
        updater_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), image_);
        ASSERT_FALSE(updater_.empty()) << "quorsel-pack failed";
    }

    UpdateOutcome Run(const std::string& args, const std::string& apsimArgs, const std::string& input = "",
                      const std::string& env = "") {
        return RunLanUpdate(dir_, updater_, args, apsimArgs, input, env);
    }

    // The simulator's flash holds the image over the written spans and is erased (0xFF) elsewhere.
    void ExpectFlash(uint32_t flashSize, const std::vector<Span>& written) {
        std::vector<uint8_t> flash = ReadFile(dir_.File("flash.bin"));
        ASSERT_EQ(flash.size(), flashSize);
        std::vector<bool> covered(flashSize, false);
        for (const Span& span : written) {
            ASSERT_LE(span.start + span.length, image_.size());
            EXPECT_TRUE(std::equal(image_.begin() + span.start, image_.begin() + span.start + span.length,
                                   flash.begin() + span.start))
                << "flash differs from the image in 0x" << std::hex << span.start << "+0x" << span.length;
            std::fill(covered.begin() + span.start, covered.begin() + span.start + span.length, true);
        }
        for (uint32_t i = 0; i < flashSize; ++i) {
            if (!covered[i] && flash[i] != 0xFF) {
                ADD_FAILURE() << "byte 0x" << std::hex << i << " outside the written ranges was changed";
                break;
            }
        }
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string updater_;
};

bool ContainsInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    size_t at = 0;
    for (const std::string& line : lines) {
        if (at < wanted.size() && line.rfind(wanted[at], 0) == 0) ++at;
    }
    return at == wanted.size();
}

TEST_F(LanUpdateTest, NewGenerationDefaultRegionsWithPassword) {
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("-fz 192.168.1.254", "--model KRV001 --generation 2 --password secret", "secret\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << run.apsimLog;
    std::vector<std::string> lines = Lines(run.out);
    EXPECT_TRUE(ContainsInOrder(lines, {"準備中", "接続中", "パスワードを入力してください", "書込み中", "正常終了",
                                        "アップデートを完了しました。", "アクセスポイントを再起動してください。"}))
        << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "準備中");
    EXPECT_EQ(lines.back(), "アクセスポイントを再起動してください。");
    EXPECT_EQ(run.out.find('\r'), std::string::npos) << "no progress bar when stdout is not a terminal";
    ExpectFlash(MIB2, {{0xB000, MIB2 - 0xB000}});
}

TEST_F(LanUpdateTest, OldGenerationGetsDescrambledDataWithoutAPasswordPrompt) {
    Pack(MIB4, "ZLT010");
    UpdateOutcome run = Run("-f 192.168.1.254", "--model ZLT010 --generation 1");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << run.apsimLog;
    std::vector<std::string> expected = {"準備中",   "接続中",
                                         "書込み中", "正常終了",
                                         "アップデートを完了しました。", "アクセスポイントを再起動してください。"};
    EXPECT_EQ(Lines(run.out), expected) << "every status line once, in order, and nothing else";
    ExpectFlash(MIB4, {{0x10000, 0xE000}});
}

TEST_F(LanUpdateTest, TwoSeparateRangesAreWrittenOverTwoConnections) {
    Pack(MIB2, "MXD001");
    UpdateOutcome run = Run("-ef 192.168.1.254", "--model MXD001 --generation 2", "\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << run.apsimLog;
    ExpectFlash(MIB2, {{0x1000, 0x1000}, {0xB000, 0xD000}});
    std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "書込み中"), 2);
}

TEST_F(LanUpdateTest, AnotherModelIsRefusedUnlessTheCheckIsSkipped) {
    Pack(MIB2, "KRV001");
    UpdateOutcome refused = Run("-f 192.168.1.254", "--model KRV010 --generation 1");
    EXPECT_EQ(refused.exitStatus, 7) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("違う機種のファイルです"), std::string::npos) << refused.out;
    EXPECT_EQ(refused.apsimLog.find("FLSH"), std::string::npos) << "nothing may be written";

    UpdateOutcome skipped = Run("-if 192.168.1.254", "--model KRV010 --generation 1");
    EXPECT_EQ(skipped.exitStatus, 0) << skipped.out << skipped.err << skipped.apsimLog;
    ExpectFlash(MIB4, {{0xB000, 0xD000}});
}

TEST_F(LanUpdateTest, WrongPasswordIsReported) {
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("-f 192.168.1.254", "--model KRV001 --generation 2 --password right", "wrong\n");
    EXPECT_EQ(run.exitStatus, 23) << run.out << run.err;
    EXPECT_NE(run.out.find("パスワードが間違っています"), std::string::npos) << run.out;
}

TEST_F(LanUpdateTest, CancelledPasswordPromptAbortsTheRun) {
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("-f 192.168.1.254", "--model KRV001 --generation 2", "");
    EXPECT_EQ(run.exitStatus, 32) << run.out << run.err;
    EXPECT_NE(run.out.find("処理を中断しました"), std::string::npos) << run.out;
}

TEST_F(LanUpdateTest, NothingListeningNamesTheAddress) {
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("-f 192.168.1.254", "none");
    EXPECT_EQ(run.exitStatus, 4) << run.out << run.err;
    EXPECT_NE(run.out.find("192.168.1.254 に接続できません"), std::string::npos) << run.out;
}

TEST_F(LanUpdateTest, FourMegabyteLayoutOverATwoMegabyteImageFailsBeforeConnecting) {
    Pack(MIB2, "KRV010");
    UpdateOutcome run = Run("-fz 192.168.1.254", "--model KRV010 --generation 1");
    EXPECT_EQ(run.exitStatus, 8) << run.out << run.err;
    EXPECT_NE(run.out.find("ファイルの読込みでエラーが発生しました"), std::string::npos) << run.out;
    EXPECT_EQ(run.apsimLog.find("INQR"), std::string::npos) << run.apsimLog;
}

TEST_F(LanUpdateTest, SettingsFormWhenTheCommandLineLeavesTheConnectionOpen) {
    Pack(MIB2, "KRV001");
    // An invalid address is asked for again, then the default is kept with Enter.
    UpdateOutcome run = Run("", "--model KRV001 --generation 1", "1\n1.2.3\n\n192.168.1.254\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err << run.apsimLog;
    ExpectFlash(MIB2, {{0xB000, MIB2 - 0xB000}});
}

TEST_F(LanUpdateTest, EndOfInputAtTheSettingsFormRunsNothing) {
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("", "--model KRV001 --generation 1", "");
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    EXPECT_EQ(run.out.find("準備中"), std::string::npos);
}

TEST_F(LanUpdateTest, InvalidArgumentsGoToStandardError) {
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("-b 192.168.1.10", "none");
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("引数の指定が間違っています"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

struct StepFault {
    const char* apsimArgs;
    int exitStatus;
    const char* statusText;
};

class LanFaultTest : public LanUpdateTest, public ::testing::WithParamInterface<StepFault> {};

TEST_P(LanFaultTest, FailureAtAProtocolStepEndsWithItsStatus) {
    const StepFault& fault = GetParam();
    Pack(MIB2, "KRV001");
    UpdateOutcome run = Run("-f 192.168.1.254", std::string("--model KRV001 --generation 1 ") + fault.apsimArgs, "",
                            "QUORSEL_PEER_TIMEOUT_MS=700");
    EXPECT_EQ(run.exitStatus, fault.exitStatus) << run.out << run.err << run.apsimLog;
    EXPECT_NE(run.out.find(fault.statusText), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("正常終了"), std::string::npos);
    EXPECT_FALSE(run.err.empty()) << "a diagnostic line names the step";
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, LanFaultTest,
    ::testing::Values(StepFault{"--close-at inquiry", 5, "通信エラーが発生しました"},
                      StepFault{"--silent-at inquiry", 5, "通信エラーが発生しました"},
                      StepFault{"--close-at flsh", 5, "通信エラーが発生しました"},
                      StepFault{"--garbage-at flsh", 5, "通信エラーが発生しました"},
                      StepFault{"--silent-at header", 5, "通信エラーが発生しました"},
                      StepFault{"--garbage-at start", 5, "通信エラーが発生しました"},
                      StepFault{"--close-after-blocks 2", 6, "書込みエラーが発生しました"},
                      StepFault{"--silent-at block:1", 6, "書込みエラーが発生しました"},
                      StepFault{"--garbage-at end", 6, "書込みエラーが発生しました"},
                      StepFault{"--close-at final", 5, "通信エラーが発生しました"},
                      StepFault{"--garbage-at final", 6, "書込みエラーが発生しました"}));

TEST_F(LanUpdateTest, OddReplyFramingStillCompletes) {
    Pack(MIB2, "KRV001");
    for (const char* framing : {"--split-replies", "--merge-replies", "--line-end crlf", "--line-end nul"}) {
        UpdateOutcome run = Run("-f 192.168.1.254", std::string("--model KRV001 --generation 2 ") + framing, "\n");
        EXPECT_EQ(run.exitStatus, 0) << framing << "\n" << run.out << run.err << run.apsimLog;
    }
    ExpectFlash(MIB2, {{0xB000, 0xD000}});
}

TEST(UpdaterBinaryTest, HoldsNoContainerSignature) {
    std::vector<uint8_t> binary = ReadFile(BuildPath("quorsel"));
    ASSERT_GT(binary.size(), 10000u);
    const std::string signature = std::string("@Wln") + "$ap@";
    auto found = std::search(binary.begin(), binary.end(), signature.begin(), signature.end());
    EXPECT_EQ(found, binary.end()) << "the container scan would find the signature in the executable";
}

}  // namespace
}  // namespace quorsel::testing
