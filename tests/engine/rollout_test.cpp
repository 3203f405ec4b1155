// The parts of a fleet's plan that stand on their own: the rollout's batches and
// failure bound, the set of firmware files, and an earlier report read back for
// --retry-failed and --skip-updated.
#include "engine/fleet/rollout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/fleet/earlier_report.h"
#include "engine/fleet/firmware_set.h"
#include "image/container.h"
#include "image/sha256.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using Sizes = std::vector<size_t>;

std::vector<RolloutAmount> Batches(const char* list) {
    auto parsed = ParseBatches(list);
    EXPECT_TRUE(parsed.ok()) << list << ": " << (parsed.ok() ? "" : parsed.error());
    return parsed.ok() ? parsed.value() : std::vector<RolloutAmount>{};
}

TEST(RolloutTest, BatchesAreCountsOrSharesWithTheLastOneRepeated) {
    EXPECT_EQ(BatchSizes(Batches("1,5,25%,100%"), 40), (Sizes{1, 5, 10, 24}));
    EXPECT_EQ(BatchSizes(Batches("1,5,25%,100%"), 3), (Sizes{1, 2}));
    EXPECT_EQ(BatchSizes(Batches("2"), 5), (Sizes{2, 2, 1}));
    EXPECT_EQ(BatchSizes(Batches("10%"), 4), (Sizes{1, 1, 1, 1}));  // a share below one is one
    EXPECT_EQ(BatchSizes({}, 7), (Sizes{7}));
    EXPECT_EQ(BatchSizes(Batches("3"), 0), (Sizes{}));
    for (const char* bad : {"", "0", "1,,2", "1,", "101%", "0%", "x", "5%%", "-1", "1 ,2", "1000001"}) {
        auto parsed = ParseBatches(bad);
        ASSERT_FALSE(parsed.ok()) << bad;
        EXPECT_NE(parsed.error().find("--batches"), std::string::npos) << parsed.error();
        EXPECT_EQ(parsed.error().find('\n'), std::string::npos);
    }
    std::string tooMany = "1";
    for (size_t i = 0; i < ROLLOUT_MAX_BATCH_ENTRIES; ++i) tooMany += ",1";
    EXPECT_FALSE(ParseBatches(tooMany).ok());
    for (const char* bad : {"", "-1", "101%", "1.5", "%"}) EXPECT_FALSE(ParseMaxFail(bad).ok()) << bad;
}

TEST(RolloutTest, ABatchStartsWhenTheOneBeforeHasEndedAndFailuresBeyondTheBoundStopIt) {
    const Rollout rollout(6, Batches("1,2"), ParseMaxFail("1").value());  // batches 1, 2, 2, 1
    EXPECT_EQ(rollout.batchSizes(), (Sizes{1, 2, 2, 1}));
    EXPECT_EQ(rollout.Gate(0, 0, 0), RolloutGate::START);
    EXPECT_EQ(rollout.Gate(1, 0, 0), RolloutGate::WAIT_FOR_BATCH);  // the first still runs
    EXPECT_EQ(rollout.Gate(1, 1, 0), RolloutGate::START);
    EXPECT_EQ(rollout.Gate(2, 1, 0), RolloutGate::START);           // same batch as run 1
    EXPECT_EQ(rollout.Gate(3, 2, 1), RolloutGate::WAIT_FOR_BATCH);
    EXPECT_EQ(rollout.Gate(3, 3, 1), RolloutGate::START);           // one failure is allowed
    EXPECT_EQ(rollout.Gate(4, 3, 2), RolloutGate::STOP);            // two are more than --max-fail 1
    EXPECT_EQ(rollout.StopReason(2), "not started: 2 failed, more than --max-fail 1");

    const Rollout share(20, {}, ParseMaxFail("10%").value());  // 2 of 20 are allowed
    EXPECT_FALSE(share.FailureBoundPassed(2));
    EXPECT_TRUE(share.FailureBoundPassed(3));
    EXPECT_TRUE(Rollout(5, {}, ParseMaxFail("0").value()).FailureBoundPassed(1));
    EXPECT_FALSE(Rollout(5, {}, std::nullopt).FailureBoundPassed(5));
}

// Two firmware files of two models, and reports written as the fleet writes them.
class FleetPlanFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        krv = Write("krv.bin", "KRV001", 1);
        mxd = Write("mxd.bin", "MXD001", 2);
        otherKrv = Write("krv-new.bin", "KRV001", 3);
    }

    std::string Write(const std::string& name, const char* model, uint32_t seed) {
        const auto parts = testing::MakeContainerParts(testing::MakePlainImage(IMAGE_SIZE_2MIB, model, seed),
                                                       std::vector<uint8_t>(64, 0x90), std::vector<uint8_t>(512, 0));
        const std::string path = dir.File(name);
        EXPECT_TRUE(testing::WriteContainerFile(path, parts));
        return path;
    }

    FirmwareSet Set(const std::vector<std::string>& paths) {
        auto set = FirmwareSet::Open(paths);
        EXPECT_TRUE(set.ok()) << (set.ok() ? "" : set.error());
        return set.ok() ? set.value() : FirmwareSet{};
    }

    // A finished report of the fleet with both files; `got` is the file of the updated one.
    std::string Report(const FirmwareSet& files, const std::string& got) {
        std::string firmware;
        for (const FirmwareFile& f : files.files()) {
            firmware += std::string(firmware.empty() ? "" : ",") + R"({"path":")" + f.path + R"(","size":)" +
                        std::to_string(f.size) + R"(,"sha256":")" + f.sha256 + R"(","model":")" + f.model + "\"}";
        }
        auto ap = [](const char* address, const char* model, const char* result, const std::string& file) {
            return std::string(R"({"address":")") + address + R"(","model":)" +
                   (model ? "\"" + std::string(model) + "\"" : "null") + R"(,"result":")" + result +
                   R"(","firmware":)" + (file.empty() ? "null" : "\"" + file + "\"") + "}";
        };
        return R"({"program":"quorsel-fleet","finished":true,"firmware":[)" + firmware + R"(],"accessPoints":[)" +
               ap("10.0.0.2", "KRV001", "updated", got) + "," + ap("10.0.0.3", "KRV001", "failed-while-writing", got) +
               "," + ap("10.0.0.4", nullptr, "no-answer", "") + "," + ap("10.0.0.5", "ZLT010", "skipped-other-model", "") +
               "," + ap("10.0.0.6", nullptr, "not-an-access-point", "") + "," +
               ap("10.0.0.7", "MXD001", "stopped-before-start", "") + "]}";
    }

    testing::TempDir dir;
    std::string krv, mxd, otherKrv;
};

TEST_F(FleetPlanFilesTest, EachModelHasOneFileWithItsSizeAndDigest) {
    const FirmwareSet set = Set({krv, mxd});
    ASSERT_EQ(set.files().size(), 2u);
    EXPECT_EQ(set.ModelsText(), "KRV001, MXD001");
    ASSERT_NE(set.ForModel("MXD001"), nullptr);
    EXPECT_EQ(set.ForModel("MXD001")->path, mxd);
    EXPECT_EQ(set.ForModel("ZLT010"), nullptr);

    std::ifstream in(krv, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Sha256 whole;
    whole.Add(bytes.data(), bytes.size());
    EXPECT_EQ(set.ForModel("KRV001")->size, bytes.size());
    EXPECT_EQ(set.ForModel("KRV001")->sha256, HexDigest(whole.Finish()));  // the whole file, not the image
    EXPECT_NE(set.ForModel("KRV001")->sha256, set.ForModel("MXD001")->sha256);

    auto twice = FirmwareSet::Open({krv, mxd, otherKrv});
    ASSERT_FALSE(twice.ok());
    EXPECT_NE(twice.error().find(krv), std::string::npos);
    EXPECT_NE(twice.error().find(otherKrv), std::string::npos);
    auto missing = FirmwareSet::Open({krv, dir.File("none.bin")});
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("none.bin"), std::string::npos);
    auto folder = FirmwareSet::Open({dir.path()});
    EXPECT_FALSE(folder.ok());
}

TEST_F(FleetPlanFilesTest, RetryTakesWhatDidNotEndAndOnlyWithTheSameFirmware) {
    const FirmwareSet both = Set({krv, mxd});
    auto report = ParseEarlierReport(Report(both, krv), "old.json");
    ASSERT_TRUE(report.ok()) << report.error();
    auto retry = RetryTargets(report.value(), both);
    ASSERT_TRUE(retry.ok()) << retry.error();
    EXPECT_EQ(retry.value(), (std::vector<Ipv4Address>{{10, 0, 0, 3}, {10, 0, 0, 4}, {10, 0, 0, 7}}));
    // One of the two files is enough to redo with, another file of a model is refused.
    EXPECT_TRUE(RetryTargets(report.value(), Set({mxd})).ok());
    auto other = RetryTargets(report.value(), Set({otherKrv, mxd}));
    ASSERT_FALSE(other.ok());
    EXPECT_NE(other.error().find(krv), std::string::npos) << other.error();
    EXPECT_NE(other.error().find(otherKrv), std::string::npos) << other.error();

    // --skip-updated: the updated one, only while its file is the same.
    EXPECT_EQ(UpdatedWithSameFirmware(report.value(), both), (std::vector<Ipv4Address>{{10, 0, 0, 2}}));
    EXPECT_TRUE(UpdatedWithSameFirmware(report.value(), Set({otherKrv})).empty());

    // Nothing left to redo: an empty list, not an error.
    auto done = ParseEarlierReport(
        R"({"firmware":[{"path":"a","sha256":")" + both.files()[0].sha256 +
            R"(","model":"KRV001"}],"accessPoints":[{"address":"10.0.0.2","model":"KRV001","result":"updated"}]})",
        "done.json");
    ASSERT_TRUE(done.ok()) << done.error();
    auto nothing = RetryTargets(done.value(), both);
    ASSERT_TRUE(nothing.ok());
    EXPECT_TRUE(nothing.value().empty());

    for (const char* bad : {"", "[]", "{\"firmware\":[]}", R"({"firmware":[],"accessPoints":[{"address":"10.0.0.0/24","result":"updated"}]})",
                            R"({"firmware":[],"accessPoints":[{"address":"10.0.0.2","result":null}]})"}) {
        auto parsed = ParseEarlierReport(bad, "bad.json");
        ASSERT_FALSE(parsed.ok()) << bad;
        EXPECT_NE(parsed.error().find("bad.json"), std::string::npos) << parsed.error();
    }
}

}  // namespace
}  // namespace quorsel
