// quorsel-apsim --serial, driven as a process through the slave side of its
// pseudo-terminal by a small sender that frames the blocks itself, so broken,
// repeated and misnumbered blocks and uploads the updater would never send can be
// put to the simulated loader.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/serial_line_posix.h"
#include "engine/transfer.h"
#include "image/checksums.h"
#include "image/file_stream.h"
#include "tests/support/apsim_process.h"
#include "tests/support/container_builder.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace {

namespace qt = quorsel::testing;
using namespace std::chrono_literals;

// An answer that is expected comes well within this.
constexpr std::chrono::milliseconds ANSWER_WAIT = 5000ms;
// Long enough to show that the simulator sends nothing.
constexpr std::chrono::milliseconds QUIET_WAIT = 300ms;
constexpr std::chrono::milliseconds EXIT_WAIT = 5000ms;
// The boot code answers this "X" when no --wake-after is given.
constexpr int DEFAULT_WAKE_UPS = 3;
// The updater sleeps 1000 ms between two ranges; a new updater takes a while to start.
constexpr std::chrono::milliseconds REOPEN_PAUSE = 100ms;

constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr size_t DATA = 1024;
constexpr uint32_t LOADER_LENGTH = 16;
constexpr uint32_t FLASH_2MIB = 0x200000;
constexpr uint32_t RANGE_START = 0x1000;  // a block boundary of the scrambling
constexpr uint32_t RANGE_LENGTH = 0x1000;
constexpr const char* PASSWORD = "pw";

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Frame(uint8_t number, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> frame = {STX, number, static_cast<uint8_t>(255 - number)};
    frame.insert(frame.end(), data.begin(), data.end());
    const uint16_t crc = quorsel::Crc16Xmodem(data.data(), data.size());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

class ApSimSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        plain_ = qt::PseudoRandomBytes(RANGE_LENGTH, 11);
        stored_.resize(RANGE_LENGTH);
        qt::ScrambleBlock(plain_.data(), stored_.data(), RANGE_START);
    }

    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--loader-length", std::to_string(LOADER_LENGTH), "--password", PASSWORD,
                                         "--flash", dir_.File("flash.bin"), "--idle-timeout", "3000",
                                         "--silent-hold", "3000"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(apsim_.StartSerial(args, dir_.File("apsim.log"))) << apsim_.Log();
        auto opened = quorsel::PosixSerialLine::Open(apsim_.device(), 115200);
        ASSERT_TRUE(opened) << "cannot open " << apsim_.device();
        line_ = std::move(opened.value());
    }

    // Closes the line and opens it again, as the updater does for the next range. The
    // simulator sees a close only while the line stays closed for a moment.
    void Reopen() {
        line_->Release();
        std::this_thread::sleep_for(REOPEN_PAUSE);
        auto opened = quorsel::PosixSerialLine::Open(apsim_.device(), 115200);
        ASSERT_TRUE(opened);
        line_ = std::move(opened.value());
    }

    std::optional<uint8_t> Answer(std::chrono::milliseconds wait = ANSWER_WAIT) {
        quorsel::SerialReadResult read = line_->ReadByte(wait);
        if (read.status != quorsel::SerialRead::Byte) return std::nullopt;
        return read.byte;
    }

    // Wakes the boot code as its default needs: two "X" that must stay unanswered,
    // then a third, answered by "*" and "C". Only the quiet checks are short; the
    // answer has the whole ANSWER_WAIT, so a slow machine cannot make it look late.
    bool Wake() {
        for (int sent = 1; sent < DEFAULT_WAKE_UPS; ++sent) {
            line_->WriteByte('X');
            if (std::optional<uint8_t> early = Answer(QUIET_WAIT)) {
                ADD_FAILURE() << "answer " << int{*early} << " to \"X\" number " << sent << ": " << apsim_.Log();
                return false;
            }
        }
        line_->WriteByte('X');
        const std::optional<uint8_t> star = Answer();
        if (star != '*') {
            ADD_FAILURE() << "no \"*\" to \"X\" number " << DEFAULT_WAKE_UPS << ": " << apsim_.Log();
            return false;
        }
        EXPECT_EQ(Answer(), 'C');
        return true;
    }

    std::optional<uint8_t> Send(const std::vector<uint8_t>& bytes) {
        line_->WriteBytes(bytes.data(), bytes.size());
        return Answer();
    }

    // Loader, header and the stored range, cut into blocks; the last one padded.
    std::vector<std::vector<uint8_t>> Blocks(const quorsel::RangeHeader& header,
                                             std::optional<size_t> streamLength = std::nullopt) const {
        std::vector<uint8_t> stream(LOADER_LENGTH, 0x4C);
        const auto encoded = header.Encode();
        stream.insert(stream.end(), encoded.begin(), encoded.end());
        stream.insert(stream.end(), stored_.begin(), stored_.end());
        if (streamLength) stream.resize(*streamLength);
        std::vector<std::vector<uint8_t>> blocks;
        for (size_t at = 0; at < stream.size(); at += DATA) {
            std::vector<uint8_t> block(DATA, 0x1A);
            std::copy(stream.begin() + static_cast<std::ptrdiff_t>(at),
                      stream.begin() + static_cast<std::ptrdiff_t>(std::min(at + DATA, stream.size())), block.begin());
            blocks.push_back(std::move(block));
        }
        return blocks;
    }

    quorsel::RangeHeader GoodHeader() {
        const std::string path = dir_.File("stored.bin");
        EXPECT_TRUE(qt::WriteBytes(path, stored_));
        std::optional<quorsel::FileStream> file = quorsel::FileStream::Open(path);
        quorsel::RangeHeader header;
        header.start = RANGE_START;
        header.length = RANGE_LENGTH;
        header.checksum = quorsel::RawRangeChecksum(*file, 0, RANGE_START, RANGE_LENGTH);
        header.passwordDigest = quorsel::PasswordDigest(PASSWORD);
        return header;
    }

    // Sends every block (each must be confirmed) and the end mark; the letters that follow.
    std::string Upload(const std::vector<std::vector<uint8_t>>& blocks) {
        for (size_t k = 0; k < blocks.size(); ++k) {
            EXPECT_EQ(Send(Frame(static_cast<uint8_t>(k + 1), blocks[k])), ACK) << "block " << k + 1;
        }
        EXPECT_EQ(Send({EOT}), ACK);
        return Letters();
    }

    // The loader's letters up to the one that ends the range (or silence).
    std::string Letters() {
        std::string letters;
        while (std::optional<uint8_t> letter = Answer()) {
            letters += static_cast<char>(*letter);
            if (std::string("FBIN").find(static_cast<char>(*letter)) != std::string::npos) break;
        }
        return letters;
    }

    std::vector<uint8_t> Flash(uint32_t start, uint32_t length) {
        std::vector<uint8_t> flash = ReadFileBytes(dir_.File("flash.bin"));
        EXPECT_EQ(flash.size(), FLASH_2MIB);
        if (flash.size() < start + length) return {};
        return std::vector<uint8_t>(flash.begin() + start, flash.begin() + start + length);
    }

    qt::TempDir dir_;
    qt::ApSimProcess apsim_;
    std::unique_ptr<quorsel::SerialLine> line_;
    std::vector<uint8_t> plain_;
    std::vector<uint8_t> stored_;
};

TEST_F(ApSimSerialTest, BootCodeAnswersAfterTheGivenWakeUpsAndNoiseComesFirst) {
    Start({"--wake-after", "4", "--boot-noise", "ROM"});
    for (int i = 0; i < 3; ++i) line_->WriteByte('X');
    EXPECT_EQ(Answer(QUIET_WAIT), std::nullopt) << "no answer before the fourth \"X\"";
    line_->WriteByte('X');
    EXPECT_EQ(Answer(), 'R');
    EXPECT_EQ(Answer(), 'O');
    EXPECT_EQ(Answer(), 'M');
    EXPECT_EQ(Answer(), '*');
    EXPECT_EQ(Answer(), 'C');
}

TEST_F(ApSimSerialTest, IntactUploadIsDescrambledIntoTheFlash) {
    Start();
    ASSERT_TRUE(Wake());
    EXPECT_EQ(Upload(Blocks(GoodHeader())), "EPF") << apsim_.Log();
    EXPECT_EQ(Flash(RANGE_START, RANGE_LENGTH), plain_);
    EXPECT_EQ(Flash(0, RANGE_START), std::vector<uint8_t>(RANGE_START, 0xFF));
}

TEST_F(ApSimSerialTest, BrokenAndMisnumberedBlocksAreRefusedAndARepeatIsConfirmedOnce) {
    Start();
    ASSERT_TRUE(Wake());
    const auto blocks = Blocks(GoodHeader());

    std::vector<uint8_t> badCrc = Frame(1, blocks[0]);
    badCrc.back() ^= 0x01;
    EXPECT_EQ(Send(badCrc), NAK);
    std::vector<uint8_t> badComplement = Frame(1, blocks[0]);
    badComplement[2] = 0x00;
    EXPECT_EQ(Send(badComplement), NAK);
    EXPECT_EQ(Send(Frame(2, blocks[1])), NAK) << "block 2 before block 1";
    // Stray bytes between blocks are passed over.
    line_->WriteBytes(reinterpret_cast<const uint8_t*>("XX"), 2);
    EXPECT_EQ(Send(Frame(1, blocks[0])), ACK);
    EXPECT_EQ(Send(Frame(1, blocks[0])), ACK) << "a repeat of the block before is confirmed again";
    for (size_t k = 1; k < blocks.size(); ++k) EXPECT_EQ(Send(Frame(static_cast<uint8_t>(k + 1), blocks[k])), ACK);
    EXPECT_EQ(Send({EOT}), ACK);
    EXPECT_EQ(Letters(), "EPF") << apsim_.Log();
    // The repeated block was not taken twice: the range is intact.
    EXPECT_EQ(Flash(RANGE_START, RANGE_LENGTH), plain_);
}

TEST_F(ApSimSerialTest, LoaderVerdictsOnBadUploads) {
    struct Case {
        const char* name;
        quorsel::RangeHeader header;
        std::optional<size_t> streamLength;
        const char* letters;
    };
    quorsel::RangeHeader good = GoodHeader();
    quorsel::RangeHeader badSum = good;
    badSum.checksum = static_cast<uint16_t>(good.checksum + 1);
    quorsel::RangeHeader badPassword = good;
    badPassword.passwordDigest = quorsel::PasswordDigest("other");
    quorsel::RangeHeader pastFlash = good;
    pastFlash.start = FLASH_2MIB - 0x1000;
    pastFlash.length = 0x2000;
    const Case cases[] = {
        {"checksum mismatch", badSum, std::nullopt, "I"},
        {"wrong password", badPassword, std::nullopt, "B"},
        {"range past the flash", pastFlash, std::nullopt, "I"},
        {"stream ends inside the range", good, LOADER_LENGTH + 20 + 100, "I"},
        {"end mark before any block", good, 0, "I"},
    };
    Start();
    for (const Case& c : cases) {
        // Each upload on its own opening of the line, as the updater does it.
        ASSERT_TRUE(Wake()) << c.name;
        EXPECT_EQ(Upload(Blocks(c.header, c.streamLength)), c.letters) << c.name << "\n" << apsim_.Log();
        Reopen();
    }
    EXPECT_EQ(Flash(0, FLASH_2MIB), std::vector<uint8_t>(FLASH_2MIB, 0xFF)) << "nothing may be written";
}

TEST_F(ApSimSerialTest, LineClosedMidUploadStartsAFreshSession) {
    Start({"--exit-after-ranges", "1"});
    ASSERT_TRUE(Wake());
    const auto blocks = Blocks(GoodHeader());
    EXPECT_EQ(Send(Frame(1, blocks[0])), ACK);
    Reopen();  // the updater gave up, and a new one opens the line
    ASSERT_TRUE(Wake());
    EXPECT_EQ(Upload(blocks), "EPF") << apsim_.Log();
    line_->Release();
    EXPECT_EQ(apsim_.WaitExit(EXIT_WAIT), 0) << "one range stored, and the line closed: the simulator ends";
    EXPECT_NE(apsim_.Log().find("the updater closed the line"), std::string::npos) << apsim_.Log();
}

TEST_F(ApSimSerialTest, PacedLineTakesTheTimeOfItsBaudRate) {
    Start({"--baud", "9600"});
    ASSERT_TRUE(Wake());
    const auto block = Blocks(GoodHeader())[0];
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(Frame(1, block)), ACK);
    const auto took = std::chrono::steady_clock::now() - before;
    // The 1029 bytes of the frame and the ACK at 10 bits a byte take 1073 ms at 9600
    // baud; the simulator may not be faster than that. The upper bound only tells
    // pacing at the rate from pacing at a small fraction of it, with the slack of an
    // answer's wait for a loaded machine.
    const auto paced = std::chrono::milliseconds((1029 + 1) * 10 * 1000 / 9600);
    EXPECT_GE(took, paced - 50ms) << "the line is not paced";
    EXPECT_LT(took, 4 * paced + ANSWER_WAIT) << "the line is paced far below its rate";
}

TEST_F(ApSimSerialTest, StopSignalEndsItAndRemovesTheLink) {
    const std::string link = dir_.File("com1");
    Start({"--link", link});
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), apsim_.device());
    EXPECT_EQ(apsim_.Stop(EXIT_WAIT), 0);
    EXPECT_NE(::access(link.c_str(), F_OK), 0) << "the link is removed on exit";
}

TEST(ApSimSerialOptionsTest, SerialAndLanOptionsDoNotMix) {
    const std::string apsim = qt::ShellQuote(qt::ApSimBinary());
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"--serial", "--serial needs --loader-length"},
        {"--serial --loader-length 10 --port 0", "--port is an option of the LAN service"},
        {"--serial --loader-length 10 --close-at flsh", "--close-at is an option of the LAN service"},
        {"--nak-blocks 2", "--nak-blocks needs --serial"},
        {"--serial --loader-length 4097", "bad value for --loader-length"},
        {"--serial --loader-length 1 --silent-at final", "bad value for --silent-at"},
        {"--serial --loader-length 1 --report F", "bad value for --report"},
        {"--serial --loader-length 1 --nak-blocks 2,", "bad value for --nak-blocks"},
        {"--serial --loader-length 1 --baud 0", "bad value for --baud"},
        {"--serial --loader-length 1 --baud 300", "bad value for --baud"},
    };
    for (const Case& c : cases) {
        qt::CommandResult result = qt::RunShell(apsim + " " + c.args);
        EXPECT_EQ(result.exitStatus, 2) << c.args;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << ": " << result.err;
        EXPECT_TRUE(result.out.empty()) << c.args;
    }
    qt::CommandResult help = qt::RunShell(apsim + " --help");
    EXPECT_NE(help.out.find("--loader-length L"), std::string::npos);
}

}  // namespace
