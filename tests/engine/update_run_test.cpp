// The update run driven end to end at engine level: a real container file, a
// scripted network or serial line, a recording front-end.
#include "engine/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "engine/run_log.h"
#include "image/checksums.h"
#include "tests/support/container_builder.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_serial_line.h"
#include "tests/support/recording_sink.h"
#include "tests/support/scripted_stream.h"
#include "tests/support/temp_dir.h"
#include "tests/support/waiting_power_on_prompt.h"

namespace quorsel {
namespace {

using testing::FakeNetwork;
using testing::FakeSerialLine;
using testing::FakeSerialPorts;
using testing::RecordingSink;
using testing::ScriptedStream;
using testing::WaitingPowerOnPrompt;

class FixedPassword : public PasswordPrompt {
public:
    std::optional<std::string> answer = std::string("pw");
    int asked = 0;
    std::optional<std::string> AskPassword() override {
        ++asked;
        return answer;
    }
};

constexpr uint32_t MIB2 = 0x200000;

class UpdateRunTest : public ::testing::Test {
protected:
    void MakeContainer(uint32_t size, const char* model, size_t loaderSize = 100) {
        plain_ = testing::MakePlainImage(size, model, 7);
        loader_ = testing::PseudoRandomBytes(loaderSize, 3);
        ASSERT_TRUE(testing::WriteContainerFile(path_, testing::MakeContainerParts(plain_, loader_, std::vector<uint8_t>(512, 0))));
        stored_ = testing::ScrambleImage(plain_);
    }

    RunSettings Settings(uint32_t transport, uint16_t flags) {
        RunSettings settings;
        settings.transport = transport;
        settings.optionFlags = flags;
        settings.peer.port = {0x23, 0x2A};
        settings.peer.address = {192, 168, 1, 254};
        settings.comIndex = 1;
        settings.baudRate = 9600;
        settings.programPath = path_;
        settings.timeouts.lanRead = std::chrono::milliseconds(50);
        settings.timeouts.serialAnswer = std::chrono::milliseconds(50);
        return settings;
    }

    StatusCode Run(const RunSettings& settings) {
        RunServices services{sink_, password_, powerOn_, network_, ports_,
                             [this](std::chrono::milliseconds pause) {
                                 pauses_.push_back(pause);
                                 librariesAtPause_.push_back(network_.librariesHeld());
                             },
                             [this](const char* text) { erasing_ += text; }};
        StatusCode code = RunUpdate(settings, services);
        EXPECT_EQ(network_.librariesHeld(), 0) << "every library start is released";
        EXPECT_EQ(network_.streamsOpen(), 0) << "every connection is closed";
        return code;
    }

    std::shared_ptr<ScriptedStream> Inquiry(const std::string& reply) {
        auto peer = network_.AddPeer();
        peer->AwaitSend().Deliver(reply);
        return peer;
    }

    // An access point that takes one range of `length` bytes.
    std::shared_ptr<ScriptedStream> RangePeer(uint32_t length) {
        auto peer = network_.AddPeer();
        peer->AwaitSend().Deliver("OK\n");
        peer->AwaitSend().Deliver("OK\n").Deliver("S\n");
        uint32_t blocks = (length + 4095) / 4096;
        for (uint32_t i = 0; i < blocks; ++i) peer->AwaitSend().Deliver("C \n");
        peer->Deliver("E \n").Deliver("OK\n");
        return peer;
    }

    testing::TempDir dir_;
    std::string path_ = dir_.path() + "/updater";
    std::vector<uint8_t> plain_, loader_, stored_;
    RecordingSink sink_;
    FixedPassword password_;
    WaitingPowerOnPrompt powerOn_;
    FakeNetwork network_;
    FakeSerialPorts ports_;
    std::vector<std::chrono::milliseconds> pauses_;
    std::vector<int> librariesAtPause_;  // sockets library starts held at each pause
    std::string erasing_;
};

TEST_F(UpdateRunTest, NewGenerationSendsStoredBytesWithRawChecksumAndDigest) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0012\n");
    auto range = RangePeer(0x1000);
    EXPECT_EQ(Run(Settings(0, 0x0001 << 1)), STATUS_COMPLETE);  // region 1
    EXPECT_EQ(password_.asked, 1);

    ASSERT_GE(range->sends().size(), 3u);
    EXPECT_EQ(std::string(range->sends()[0].begin(), range->sends()[0].end()), "FLSH");
    const std::vector<uint8_t>& header = range->sends()[1];
    ASSERT_EQ(header.size(), 20u);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 6), "_Flash");
    uint32_t sum = ByteSum32(0x1000) + ByteSum32(0x1000);
    for (uint32_t i = 0; i < 0x1000; ++i) sum += stored_[0x1000 + i];
    EXPECT_EQ(LoadLe16(&header[6]), sum % 65535);
    EXPECT_EQ(LoadLe32(&header[8]), 0x1000u);
    EXPECT_EQ(LoadLe32(&header[12]), 0x1000u);
    EXPECT_EQ(LoadLe32(&header[16]), PasswordDigest("pw"));
    EXPECT_TRUE(std::equal(range->sends()[2].begin(), range->sends()[2].end(), stored_.begin() + 0x1000));

    std::vector<StatusCode> expected = {STATUS_CONNECTING, STATUS_PROGRESS, STATUS_WRITING, STATUS_PROGRESS,
                                        STATUS_PROGRESS, STATUS_COMPLETE};
    EXPECT_EQ(sink_.codes(), expected);
    EXPECT_EQ(pauses_, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(100),
                                                                std::chrono::milliseconds(1000)}));
    // The socket is closed and the library released before the pause after the range.
    EXPECT_EQ(librariesAtPause_, (std::vector<int>{1, 0}));
    EXPECT_EQ(network_.log(),
              (std::vector<std::string>{"start", "connect", "close", "release", "start", "connect", "close", "release"}));
}

TEST_F(UpdateRunTest, OldGenerationSendsSixteenByteHeaderAndPlainBytesWithoutPassword) {
    MakeContainer(MIB2, "MXD001");
    Inquiry("MXD0011\n");
    auto range = RangePeer(0x1000);
    EXPECT_EQ(Run(Settings(0, 0x0004)), STATUS_COMPLETE);  // region 2
    EXPECT_EQ(password_.asked, 0);
    ASSERT_GE(range->sends().size(), 3u);
    ASSERT_EQ(range->sends()[1].size(), 16u);
    uint32_t sum = ByteSum32(0x2000) + ByteSum32(0x1000);
    for (uint32_t i = 0; i < 0x1000; ++i) sum += plain_[0x2000 + i];
    EXPECT_EQ(LoadLe16(&range->sends()[1][6]), sum % 65535);
    EXPECT_TRUE(std::equal(range->sends()[2].begin(), range->sends()[2].end(), plain_.begin() + 0x2000));
}

TEST_F(UpdateRunTest, SeparateRegionsBecomeSeparateConnections) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0011\n");
    RangePeer(0x1000);
    RangePeer(0x1000);
    EXPECT_EQ(Run(Settings(0, 0x0005)), STATUS_COMPLETE);  // regions 0 and 2
    EXPECT_EQ(network_.connects().size(), 3u);
    EXPECT_EQ(sink_.Count(STATUS_WRITING), 2u);
    std::vector<std::string> expected = {"start", "connect", "close", "release", "start", "connect", "close",
                                         "release", "start", "connect", "close", "release"};
    EXPECT_EQ(network_.log(), expected);
}

TEST_F(UpdateRunTest, NoRegionSelectedStillMakesTheInquiryAndChecksTheModel) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0012\n");
    EXPECT_EQ(Run(Settings(0, 0)), STATUS_COMPLETE);
    EXPECT_EQ(password_.asked, 1);
    EXPECT_EQ(network_.connects().size(), 1u);
    EXPECT_EQ(sink_.codes(), (std::vector<StatusCode>{STATUS_CONNECTING, STATUS_COMPLETE}));
}

TEST_F(UpdateRunTest, AnotherModelEndsTheRunUnlessTheCheckIsSkipped) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0102\n");
    EXPECT_EQ(Run(Settings(0, 0x0010)), STATUS_WRONG_MODEL);
    EXPECT_EQ(network_.connects().size(), 1u);
    EXPECT_EQ(sink_.diagnostics().size(), 1u);

    Inquiry("KRV0101\n");
    RangePeer(0xD000);
    EXPECT_EQ(Run(Settings(0, 0x4010)), STATUS_COMPLETE);
}

TEST_F(UpdateRunTest, ShortInquiryReplyCannotMatchAModel) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV\n");
    EXPECT_EQ(Run(Settings(0, 0x0010)), STATUS_WRONG_MODEL);
    EXPECT_EQ(password_.asked, 0) << "a reply shorter than seven bytes is of the old generation";
}

TEST_F(UpdateRunTest, CancelledPasswordAbortsBeforeAnyRange) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0012\n");
    password_.answer.reset();
    EXPECT_EQ(Run(Settings(0, 0x0010)), STATUS_ABORTED);
    ASSERT_FALSE(sink_.entries().empty());
    EXPECT_FALSE(sink_.entries().back().posted);
    EXPECT_EQ(network_.connects().size(), 1u);
}

TEST_F(UpdateRunTest, RangePastTheImageFailsBeforeAnythingIsSent) {
    MakeContainer(MIB2, "KRV010");  // a 4 MiB layout in a 2 MiB image
    EXPECT_EQ(Run(Settings(0, 0x0030)), STATUS_FILE_ERROR);
    EXPECT_TRUE(network_.log().empty());
    EXPECT_EQ(sink_.codes(), std::vector<StatusCode>{STATUS_FILE_ERROR});
}

TEST_F(UpdateRunTest, MissingOrDamagedContainerIsAFileError) {
    path_ = dir_.path() + "/missing";
    EXPECT_EQ(Run(Settings(0, 0x0010)), STATUS_FILE_ERROR);
    ASSERT_EQ(sink_.diagnostics().size(), 1u);
    EXPECT_NE(sink_.diagnostics()[0].find("missing"), std::string::npos);
    EXPECT_TRUE(network_.log().empty());
}

TEST_F(UpdateRunTest, RefusedRangeConnectionIsAConnectFailure) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0011\n");
    network_.AddRefusal();
    EXPECT_EQ(Run(Settings(0, 0x0010)), STATUS_CONNECT_FAILED);
}

// --- Serial ---

// Plays the boot code and loader on each fake line: "*" to the first "X", "C" to
// start, ACK to every block and the end mark, then the given completion letters.
void PlayAccessPoint(FakeSerialLine& line, std::string letters, std::vector<std::vector<uint8_t>>* frames) {
    line.OnWrite([letters, frames](const std::vector<uint8_t>& written) {
        if (written.size() == 1 && written[0] == 'X') return testing::Answer({'*', 'C'});
        if (written.size() == 1 && written[0] == 0x04) {
            std::vector<testing::FakeInbound> answer = testing::Answer({0x06});
            for (char c : letters) answer.push_back({SerialRead::Byte, static_cast<uint8_t>(c)});
            return answer;
        }
        if (frames) frames->push_back(written);
        return testing::Answer({0x06});
    });
}

TEST_F(UpdateRunTest, SerialRunPromptsForPowerOnPerRangeAndSendsLoaderHeaderAndData) {
    MakeContainer(MIB2, "KRV001", 1010);
    std::vector<std::vector<uint8_t>> frames;
    ports_.PrepareLines([&](FakeSerialLine& line) { PlayAccessPoint(line, "EPF", &frames); });
    EXPECT_EQ(Run(Settings(1, 0x0005)), STATUS_COMPLETE);  // regions 0 and 2: two ranges
    EXPECT_EQ(powerOn_.shown, 2);
    EXPECT_EQ(password_.asked, 1);
    ASSERT_EQ(ports_.opens().size(), 2u);
    EXPECT_EQ(ports_.opens()[0].comIndex, 1u);
    EXPECT_EQ(ports_.opens()[0].baudRate, 9600u);
    for (const auto& line : ports_.lines()) EXPECT_TRUE(line->released());
    EXPECT_EQ(erasing_, "Erasing\nErasing\n");
    // Stream of the first range: 1010 loader bytes, 20 header bytes, 4096 range bytes = 6 blocks.
    ASSERT_GE(frames.size(), 6u);
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < 6; ++i) {
        ASSERT_EQ(frames[i].size(), 1029u);
        EXPECT_EQ(frames[i][1], static_cast<uint8_t>(i + 1));
        stream.insert(stream.end(), frames[i].begin() + 3, frames[i].begin() + 1027);
    }
    EXPECT_TRUE(std::equal(loader_.begin(), loader_.end(), stream.begin()));
    EXPECT_EQ(std::string(stream.begin() + 1010, stream.begin() + 1016), "_Flash");
    EXPECT_EQ(LoadLe32(&stream[1010 + 16]), PasswordDigest("pw"));
    EXPECT_TRUE(std::equal(stored_.begin(), stored_.begin() + 0x1000, stream.begin() + 1030));
    std::vector<StatusCode> codes = sink_.codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), STATUS_TRANSFERRING), 2);
    EXPECT_EQ(codes.back(), STATUS_COMPLETE);
}

TEST_F(UpdateRunTest, CancelledSecondPowerOnPromptPostsAbortAfterTheFirstRange) {
    MakeContainer(MIB2, "KRV001");
    ports_.PrepareLines([&](FakeSerialLine& line) { PlayAccessPoint(line, "F", nullptr); });
    powerOn_.cancelAt = 2;
    EXPECT_EQ(Run(Settings(1, 0x0005)), STATUS_ABORTED);
    EXPECT_EQ(ports_.opens().size(), 1u);
    ASSERT_FALSE(sink_.entries().empty());
    EXPECT_EQ(sink_.entries().back().code, STATUS_ABORTED);
    EXPECT_TRUE(sink_.entries().back().posted);
}

TEST_F(UpdateRunTest, SerialLoaderOver4096BytesIsAFileErrorAfterThePassword) {
    MakeContainer(MIB2, "KRV001", 4097);
    EXPECT_EQ(Run(Settings(1, 0x0001)), STATUS_FILE_ERROR);
    EXPECT_EQ(password_.asked, 1);
    EXPECT_EQ(powerOn_.shown, 0);
}

TEST_F(UpdateRunTest, SerialFailureLetterEndsTheRunAndReleasesTheLine) {
    MakeContainer(MIB2, "KRV001");
    ports_.PrepareLines([&](FakeSerialLine& line) { PlayAccessPoint(line, "EN", nullptr); });
    EXPECT_EQ(Run(Settings(1, 0x0001)), STATUS_WRITE_ERROR);
    ASSERT_EQ(ports_.lines().size(), 1u);
    EXPECT_TRUE(ports_.lines()[0]->released());
}

TEST_F(UpdateRunTest, PortThatCannotBeOpenedEndsWithAbort) {
    MakeContainer(MIB2, "KRV001");
    ports_.FailOpens(SerialOpenError::OpenFailed);
    EXPECT_EQ(Run(Settings(1, 0x0001)), STATUS_ABORTED);
    EXPECT_TRUE(sink_.entries().back().posted);
}

}  // namespace
}  // namespace quorsel

namespace quorsel {
namespace {

// --- The run log ---

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string HexOf(uint32_t value, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

class RunLogTest : public UpdateRunTest {
protected:
    // What the log holds after one run with this password, checked for the
    // password and its digest in every spelling a record could hold them.
    std::string LoggedRun(RunSettings settings, StatusCode expected) {
        password_.answer = std::string(PASSWORD);
        RunLog log(dir_.File("logs"));
        settings.log = &log;
        EXPECT_EQ(Run(settings), expected);
        EXPECT_FALSE(log.LastFile().empty());
        const std::string text = ReadText(log.LastFile());
        EXPECT_EQ(text.find(PASSWORD), std::string::npos);
        const uint32_t digest = PasswordDigest(PASSWORD);
        for (const char* format : {"%08x", "%08X", "%x", "%u"}) {
            EXPECT_EQ(text.find(HexOf(digest, format)), std::string::npos) << format;
        }
        return text;
    }
    static constexpr const char* PASSWORD = "Secr3tPw";
};

TEST_F(RunLogTest, CompletedRunIsOneRecordWithFirmwareJobRangesCodesAndOutcome) {
    MakeContainer(MIB2, "KRV001");
    Inquiry("KRV0012\n");
    RangePeer(0xD000);
    const std::string text = LoggedRun(Settings(0, 0x0010), STATUS_COMPLETE);
    EXPECT_EQ(std::count(text.begin(), text.end(), '='), 3) << "one record: " << text;
    EXPECT_NE(text.find("program: Quorsel Version 1.0"), std::string::npos) << text;
    EXPECT_NE(text.find("firmware: model KRV001, container sha256 "), std::string::npos) << text;
    const size_t sha = text.find("sha256 ") + 7;
    EXPECT_EQ(text.substr(sha, 64).find_first_not_of("0123456789abcdef"), std::string::npos) << text;
    EXPECT_NE(text.find("job: LAN 192.168.1.254, regions 4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("range: start 0xB000 length 0xD000\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" 256 STATUS_CONNECTING\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" 258 STATUS_WRITING\n"), std::string::npos) << text;
    // A run of the same code is one line with its count and last time.
    EXPECT_NE(text.find(" 266 STATUS_PROGRESS x14 until "), std::string::npos) << text;
    EXPECT_EQ(text.find("diagnostic:"), std::string::npos) << text;
    EXPECT_NE(text.find("outcome: 278 STATUS_COMPLETE\n"), std::string::npos) << text;
}

TEST_F(RunLogTest, FailedRunRecordsTheDiagnosticAndTheFailure) {
    MakeContainer(MIB2, "KRV001");
    ports_.PrepareLines([&](FakeSerialLine& line) { PlayAccessPoint(line, "EB", nullptr); });
    RunSettings settings = Settings(1, 0x0001);
    settings.portName = "COM7";
    const std::string text = LoggedRun(settings, STATUS_BAD_PASSWORD);
    ASSERT_EQ(ports_.opens().size(), 1u);
    EXPECT_EQ(ports_.opens()[0].name, "COM7");
    EXPECT_NE(text.find("job: serial COM7, 9600 baud, regions 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ndiagnostic: "), std::string::npos) << text;
    EXPECT_EQ(text.find("\ndiagnostic: " + sink_.diagnostics().at(0) + "\n") != std::string::npos, true) << text;
    EXPECT_NE(text.find(" 277 STATUS_ERASING\n"), std::string::npos) << text;
    EXPECT_NE(text.find("outcome: 279 STATUS_BAD_PASSWORD\n"), std::string::npos) << text;
}

TEST_F(RunLogTest, UnwritableFolderLeavesTheRunAsItIs) {
    MakeContainer(MIB2, "KRV001");
    {
        std::ofstream blocker(dir_.File("blocked"));  // a file where the folder should be
    }
    RunLog log(dir_.File("blocked") + "/logs");
    RunSettings settings = Settings(0, 0x0010);
    settings.log = &log;
    network_.AddRefusal();
    EXPECT_EQ(Run(settings), STATUS_CONNECT_FAILED);
    EXPECT_TRUE(log.LastFile().empty());
    EXPECT_EQ(sink_.codes(), (std::vector<StatusCode>{STATUS_CONNECTING, STATUS_CONNECT_FAILED}));
}

TEST(RunLogFiles, OneFilePerDayAndOnlyTheLastThirtyDaysKept) {
    testing::TempDir dir;
    RunLog log(dir.path());
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    auto dayFile = [&](std::chrono::sys_days day) {
        const std::chrono::year_month_day date{day};
        char name[40];
        std::snprintf(name, sizeof name, "quorsel-%04d-%02u-%02u.log", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
        return dir.File(name);
    };
    for (const std::string& path : {dayFile(today - std::chrono::days(30)), dayFile(today - std::chrono::days(29)),
                                    dir.File("notes.txt")}) {
        std::ofstream(path) << "old\n";
    }
    RunLogRecord record;
    record.started = std::chrono::system_clock::now();
    record.outcome = STATUS_COMPLETE;
    for (int run = 0; run < 2; ++run) {
        const std::optional<std::string> written = log.Append(record);
        ASSERT_TRUE(written.has_value());
        EXPECT_TRUE(std::filesystem::equivalent(*written, dayFile(today))) << *written;
    }
    const std::string text = ReadText(dayFile(today));
    EXPECT_EQ(text.find("=== run "), 0u);
    EXPECT_NE(text.find("=== run ", 1), std::string::npos) << "the second record goes into the same file";
    EXPECT_FALSE(std::ifstream(dayFile(today - std::chrono::days(30))).good()) << "31 days old";
    EXPECT_TRUE(std::ifstream(dayFile(today - std::chrono::days(29))).good()) << "the 30th day is kept";
    EXPECT_TRUE(std::ifstream(dir.File("notes.txt")).good()) << "other files stay";
}

}  // namespace
}  // namespace quorsel
