// The simulated access point, driven as a process over loopback TCP by a small
// client that speaks the LAN update protocol byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/le_bytes.h"
#include "image/checksums.h"
#include "tests/support/apsim_process.h"
#include "tests/support/container_builder.h"
#include "tests/support/loopback_client.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace {

namespace qt = quorsel::testing;
using namespace std::chrono_literals;
using Client = qt::LoopbackClient;

// A reply that is expected comes well within this; only a broken simulator waits it out.
constexpr std::chrono::milliseconds REPLY_WAIT = 5000ms;
// Long enough to show that a simulator told to stay silent really sends nothing.
constexpr std::chrono::milliseconds QUIET_WAIT = 300ms;
constexpr std::chrono::milliseconds EXIT_WAIT = 5000ms;

constexpr uint32_t BLOCK = 4096;
constexpr uint32_t FLASH_2MIB = 0x200000;
constexpr uint32_t FLASH_4MIB = 0x400000;

// Known answers, worked out independently from the firmware build's tables.
constexpr uint32_t DIGEST_OF_EMPTY = 0x5d1b;
constexpr uint32_t DIGEST_OF_PASSWORD_KATAKANA = 0xa6ec;  // "パスワード" in code page 932
constexpr char PASSWORD_KATAKANA_UTF8[] = "\xe3\x83\x91\xe3\x82\xb9\xe3\x83\xaf\xe3\x83\xbc\xe3\x83\x89";

std::vector<uint8_t> HeaderBytes(uint16_t checksum, uint32_t start, uint32_t length,
                                 std::optional<uint32_t> digest) {
    std::vector<uint8_t> header(digest ? 20 : 16);
    const char tag[] = "_Flash";
    std::copy(tag, tag + 6, header.begin());
    quorsel::StoreLe16(header.data() + 6, checksum);
    quorsel::StoreLe32(header.data() + 8, start);
    quorsel::StoreLe32(header.data() + 12, length);
    if (digest) quorsel::StoreLe32(header.data() + 16, *digest);
    return header;
}

// The range checksum as the updater puts it into the header: the bytes of start and
// length plus every byte sent, modulo 65535.
uint16_t SentBytesChecksum(const std::vector<uint8_t>& sent, uint32_t start) {
    uint32_t sum = quorsel::ByteSum32(start) + quorsel::ByteSum32(static_cast<uint32_t>(sent.size()));
    for (uint8_t b : sent) sum += b;
    return static_cast<uint16_t>(sum % 65535);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool AllErased(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end), [](uint8_t b) { return b == 0xFF; });
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t begin, size_t length) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                                bytes.begin() + static_cast<std::ptrdiff_t>(begin + length));
}

std::vector<uint8_t> BlockSlice(const std::vector<uint8_t>& data, size_t offset) {
    return Slice(data, offset, std::min<size_t>(BLOCK, data.size() - offset));
}

// The stored block of the known-answer vectors: b[i] = (7 i + 3) mod 256.
std::vector<uint8_t> PatternBlock() {
    std::vector<uint8_t> block(BLOCK);
    for (uint32_t i = 0; i < BLOCK; ++i) block[i] = static_cast<uint8_t>((7 * i + 3) % 256);
    return block;
}

std::string Printable(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        if (c == '\n') text += "\\n";
        else if (c == '\r') text += "\\r";
        else if (c == '\0') text += "\\0";
        else text += c;
    }
    return text;
}

class ApSimTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (sim.Running()) {
            EXPECT_EQ(sim.Stop(EXIT_WAIT), 0) << "the simulator did not end cleanly on SIGTERM";
        }
        if (HasFailure()) std::cerr << "--- simulator log ---\n" << sim.Log() << "---\n";
    }

    void StartSim(std::vector<std::string> args) {
        ASSERT_TRUE(sim.Start(args, dir.File("apsim.log"))) << "simulator did not start:\n" << sim.Log();
    }

    void Connect(Client& client) { ASSERT_TRUE(client.Connect(sim.port())); }

    std::string Line(Client& client, char end = '\n') { return client.ReceiveLine(REPLY_WAIT, end); }

    // Sends "FLSH" and the header, expects "OK", "OK" and "S".
    void OpenRange(Client& client, const std::vector<uint8_t>& header) {
        Connect(client);
        ASSERT_TRUE(client.Send("FLSH"));
        ASSERT_EQ(Line(client), "OK\n");
        ASSERT_TRUE(client.Send(header));
        ASSERT_EQ(Line(client), "OK\n");
        ASSERT_EQ(Line(client), "S\n");
    }

    // Sends the data in blocks of 4096 (the last shorter), reading one line after each.
    std::vector<std::string> SendBlocks(Client& client, const std::vector<uint8_t>& data) {
        std::vector<std::string> answers;
        for (size_t offset = 0; offset < data.size(); offset += BLOCK) {
            if (!client.Send(BlockSlice(data, offset))) break;
            answers.push_back(Line(client));
        }
        return answers;
    }

    // The whole exchange for one range; every reply line in order.
    std::vector<std::string> WriteRange(const std::vector<uint8_t>& header, const std::vector<uint8_t>& data) {
        Client client;
        EXPECT_TRUE(client.Connect(sim.port()));
        std::vector<std::string> lines;
        EXPECT_TRUE(client.Send("FLSH"));
        lines.push_back(Line(client));
        EXPECT_TRUE(client.Send(header));
        lines.push_back(Line(client));
        if (lines.back() != "OK\n") return lines;
        lines.push_back(Line(client));
        for (const std::string& answer : SendBlocks(client, data)) lines.push_back(answer);
        lines.push_back(Line(client));
        lines.push_back(Line(client));
        return lines;
    }

    static std::vector<std::string> ExpectedLines(size_t blocks) {
        std::vector<std::string> lines = {"OK\n", "OK\n", "S\n"};
        lines.insert(lines.end(), blocks, "C \n");
        lines.push_back("E \n");
        lines.push_back("OK\n");
        return lines;
    }

    std::string Inquiry() {
        Client client;
        if (!client.Connect(sim.port()) || !client.Send("INQR")) return {};
        return Line(client);
    }

    std::string FlashPath() const { return dir.File("flash.bin"); }
    std::vector<uint8_t> Flash() const { return ReadFile(FlashPath()); }

    qt::TempDir dir;
    qt::ApSimProcess sim;
};

// --- Inquiry ---

TEST_F(ApSimTest, InquiryReportsModelAndGenerationThenCloses) {
    StartSim({});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("INQR"));
    EXPECT_EQ(Line(client), "KRV0012\n");
    EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
}

TEST_F(ApSimTest, InquiryReportsConfiguredModelAndOldGeneration) {
    StartSim({"--model", "ZLT011", "--generation", "1"});
    EXPECT_EQ(Inquiry(), "ZLT0111\n");
    // Connections are served one after the other, any number of them.
    EXPECT_EQ(Inquiry(), "ZLT0111\n");
}

// --- New generation: 20-byte header, password digest, stored bytes ---

TEST_F(ApSimTest, NewGenerationDescramblesKnownAnswerBlocksIntoFlash) {
    StartSim({"--password", PASSWORD_KATAKANA_UTF8, "--flash", FlashPath()});
    std::vector<uint8_t> stored = PatternBlock();
    const std::vector<uint8_t> second = PatternBlock();
    stored.insert(stored.end(), second.begin(), second.end());

    EXPECT_EQ(WriteRange(HeaderBytes(0xf02f, 0, 0x2000, DIGEST_OF_PASSWORD_KATAKANA), stored), ExpectedLines(2));

    const std::vector<uint8_t> flash = Flash();
    ASSERT_EQ(flash.size(), FLASH_2MIB);
    const std::vector<uint8_t> first32 = {0xeb, 0x0d, 0xfc, 0x83, 0x56, 0x6e, 0x08, 0x19, 0x31, 0x20, 0x14,
                                          0x46, 0x5c, 0x32, 0x73, 0x28, 0x1a, 0x00, 0xe8, 0xe7, 0x32, 0xde,
                                          0x33, 0x8d, 0x2d, 0x9e, 0x9d, 0x88, 0xad, 0xd4, 0xcd, 0xe5};
    EXPECT_EQ(Slice(flash, 0, 32), first32);
    EXPECT_EQ(quorsel::Crc16Xmodem(flash.data(), BLOCK), 0xd500);
    EXPECT_EQ(quorsel::Crc16Xmodem(flash.data() + BLOCK, BLOCK), 0x99ac);
    EXPECT_TRUE(AllErased(flash, 0x2000, flash.size()));
}

TEST_F(ApSimTest, NewGenerationStoresScrambledRangeAtItsOffset) {
    StartSim({"--model", "KRV010", "--flash", FlashPath()});
    const uint32_t start = 0x10000;
    const std::vector<uint8_t> plain = qt::PseudoRandomBytes(0xE000, 7);
    const std::vector<uint8_t> stored = qt::ScrambleImage(plain, start);
    const auto header = HeaderBytes(SentBytesChecksum(stored, start), start, 0xE000, DIGEST_OF_EMPTY);

    EXPECT_EQ(WriteRange(header, stored), ExpectedLines(14));

    const std::vector<uint8_t> flash = Flash();
    ASSERT_EQ(flash.size(), FLASH_4MIB);
    EXPECT_TRUE(Slice(flash, start, plain.size()) == plain);
    EXPECT_TRUE(AllErased(flash, 0, start));
    EXPECT_TRUE(AllErased(flash, start + plain.size(), flash.size()));
}

TEST_F(ApSimTest, RangesAccumulateInTheFlashAndOverwriteEarlierOnes) {
    StartSim({"--flash", FlashPath()});
    const std::vector<uint8_t> plainA = qt::PseudoRandomBytes(0x3000, 1);
    const std::vector<uint8_t> plainB = qt::PseudoRandomBytes(0x2000, 2);
    const auto storedA = qt::ScrambleImage(plainA, 0x1000);
    const auto storedB = qt::ScrambleImage(plainB, 0x3000);
    EXPECT_EQ(WriteRange(HeaderBytes(SentBytesChecksum(storedA, 0x1000), 0x1000, 0x3000, DIGEST_OF_EMPTY), storedA),
              ExpectedLines(3));
    EXPECT_EQ(WriteRange(HeaderBytes(SentBytesChecksum(storedB, 0x3000), 0x3000, 0x2000, DIGEST_OF_EMPTY), storedB),
              ExpectedLines(2));

    const std::vector<uint8_t> flash = Flash();
    EXPECT_TRUE(Slice(flash, 0x1000, 0x2000) == Slice(plainA, 0, 0x2000));
    EXPECT_TRUE(Slice(flash, 0x3000, 0x2000) == plainB);
    EXPECT_TRUE(AllErased(flash, 0x5000, flash.size()));
}

TEST_F(ApSimTest, WrongPasswordDigestIsAnsweredWithIpAndNothingIsWritten) {
    StartSim({"--password", "password", "--flash", FlashPath()});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    ASSERT_EQ(Line(client), "OK\n");
    ASSERT_TRUE(client.Send(HeaderBytes(0, 0xB000, 0xD000, DIGEST_OF_EMPTY)));
    EXPECT_EQ(Line(client), "IP\n");
    EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
}

TEST_F(ApSimTest, ChecksumMismatchIsNotConfirmedAndNothingIsWritten) {
    StartSim({"--flash", FlashPath()});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(0x2000, 3);
    const uint16_t wrong = static_cast<uint16_t>((SentBytesChecksum(stored, 0) + 1) % 65535);
    Client client;
    OpenRange(client, HeaderBytes(wrong, 0, 0x2000, DIGEST_OF_EMPTY));
    EXPECT_EQ(SendBlocks(client, stored), (std::vector<std::string>{"C \n", "C \n"}));
    const std::string end = Line(client);
    EXPECT_FALSE(end.empty());
    EXPECT_NE(end.substr(0, 2), "E ");
    EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
}

TEST_F(ApSimTest, HeadersThatCannotBeServedAreRefused) {
    StartSim({"--flash", FlashPath()});
    std::vector<uint8_t> badTag = HeaderBytes(0, 0, BLOCK, DIGEST_OF_EMPTY);
    badTag[0] = '-';
    const std::vector<std::vector<uint8_t>> headers = {
        badTag,
        HeaderBytes(0, FLASH_2MIB - BLOCK, 2 * BLOCK, DIGEST_OF_EMPTY),  // runs past the 2 MiB flash
        HeaderBytes(0, 0xFFFFF000, 0x2000, DIGEST_OF_EMPTY),              // start + length wraps around
    };
    for (const auto& header : headers) {
        Client client;
        Connect(client);
        ASSERT_TRUE(client.Send("FLSH"));
        ASSERT_EQ(Line(client), "OK\n");
        ASSERT_TRUE(client.Send(header));
        const std::string reply = Line(client);
        EXPECT_FALSE(reply.empty());
        EXPECT_NE(reply.substr(0, 2), "OK");
        EXPECT_NE(reply.substr(0, 2), "IP");
        EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
    }
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
}

TEST_F(ApSimTest, EmptyRangeEndsAtOnce) {
    StartSim({"--flash", FlashPath()});
    // The known checksum of a range of length 0 at 0x18000 is its start sum alone.
    EXPECT_EQ(WriteRange(HeaderBytes(0x0081, 0x18000, 0, DIGEST_OF_EMPTY), {}), ExpectedLines(0));
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
}

// --- Old generation: 16-byte header, no password, plain bytes ---

TEST_F(ApSimTest, OldGenerationStoresPlainBytesIncludingShortLastBlock) {
    StartSim({"--model", "MXD001", "--generation", "1", "--password", "ignored", "--flash", FlashPath()});
    const uint32_t start = 0x3000;
    const std::vector<uint8_t> plain = qt::PseudoRandomBytes(5000, 11);

    EXPECT_EQ(WriteRange(HeaderBytes(SentBytesChecksum(plain, start), start, 5000, std::nullopt), plain),
              ExpectedLines(2));

    const std::vector<uint8_t> flash = Flash();
    ASSERT_EQ(flash.size(), FLASH_2MIB);
    EXPECT_TRUE(Slice(flash, start, plain.size()) == plain);
    EXPECT_TRUE(AllErased(flash, 0, start));
    EXPECT_TRUE(AllErased(flash, start + plain.size(), flash.size()));
}

// --- Faults ---

TEST_F(ApSimTest, CloseAfterBlocksDropsTheConnectionMidRange) {
    StartSim({"--close-after-blocks", "2", "--flash", FlashPath()});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(4 * BLOCK, 4);
    Client client;
    OpenRange(client, HeaderBytes(SentBytesChecksum(stored, 0), 0, 4 * BLOCK, DIGEST_OF_EMPTY));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(client.Send(BlockSlice(stored, static_cast<size_t>(i) * BLOCK)));
        EXPECT_EQ(Line(client), "C \n");
    }
    client.Send(BlockSlice(stored, 2 * BLOCK));  // may or may not get through
    EXPECT_NE(client.WaitForClose(REPLY_WAIT), Client::Status::TimedOut);
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
    EXPECT_EQ(Inquiry(), "KRV0012\n");
}

TEST_F(ApSimTest, SilentAtHeaderHoldsTheConnectionWithoutAnswer) {
    StartSim({"--silent-at", "header"});
    {
        Client client;
        Connect(client);
        ASSERT_TRUE(client.Send("FLSH"));
        ASSERT_EQ(Line(client), "OK\n");
        ASSERT_TRUE(client.Send(HeaderBytes(0, 0, BLOCK, DIGEST_OF_EMPTY)));
        EXPECT_EQ(client.ReceiveChunk(QUIET_WAIT).status, Client::Status::TimedOut);
    }
    // Once the client gives up, the simulator serves the next connection.
    EXPECT_EQ(Inquiry(), "KRV0012\n");
}

TEST_F(ApSimTest, SilentAtInquiryAndAtABlockSendNothing) {
    StartSim({"--silent-at", "inquiry"});
    {
        Client client;
        Connect(client);
        ASSERT_TRUE(client.Send("INQR"));
        EXPECT_EQ(client.ReceiveChunk(QUIET_WAIT).status, Client::Status::TimedOut);
    }
    ASSERT_EQ(sim.Stop(EXIT_WAIT), 0);

    qt::ApSimProcess second;
    ASSERT_TRUE(second.Start({"--silent-at", "block:2"}, dir.File("second.log")));
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(3 * BLOCK, 5);
    Client client;
    ASSERT_TRUE(client.Connect(second.port()));
    ASSERT_TRUE(client.Send("FLSH"));
    ASSERT_EQ(Line(client), "OK\n");
    ASSERT_TRUE(client.Send(HeaderBytes(SentBytesChecksum(stored, 0), 0, 3 * BLOCK, DIGEST_OF_EMPTY)));
    ASSERT_EQ(Line(client), "OK\n");
    ASSERT_EQ(Line(client), "S\n");
    ASSERT_TRUE(client.Send(BlockSlice(stored, 0)));
    EXPECT_EQ(Line(client), "C \n");
    ASSERT_TRUE(client.Send(BlockSlice(stored, BLOCK)));
    EXPECT_EQ(client.ReceiveChunk(QUIET_WAIT).status, Client::Status::TimedOut);
    client.Close();
    EXPECT_EQ(second.Stop(EXIT_WAIT), 0) << second.Log();
}

TEST_F(ApSimTest, SilentConnectionIsGivenUpAfterTheHoldTime) {
    StartSim({"--silent-at", "flsh", "--silent-hold", "200"});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
}

TEST_F(ApSimTest, CloseAtAStepEndsTheConnectionInsteadOfTheReply) {
    StartSim({"--close-at", "flsh"});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).status, Client::Status::Closed);
}

TEST_F(ApSimTest, CloseAtEndLeavesTheFlashUntouched) {
    StartSim({"--close-at", "end", "--flash", FlashPath()});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(2 * BLOCK, 6);
    Client client;
    OpenRange(client, HeaderBytes(SentBytesChecksum(stored, 0), 0, 2 * BLOCK, DIGEST_OF_EMPTY));
    EXPECT_EQ(SendBlocks(client, stored), (std::vector<std::string>{"C \n", "C \n"}));
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).status, Client::Status::Closed);
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
}

TEST_F(ApSimTest, CloseAtFinalHasStoredTheConfirmedRange) {
    StartSim({"--close-at", "final", "--flash", FlashPath()});
    const std::vector<uint8_t> plain = qt::PseudoRandomBytes(BLOCK, 8);
    const std::vector<uint8_t> stored = qt::ScrambleImage(plain, 0x2000);
    Client client;
    OpenRange(client, HeaderBytes(SentBytesChecksum(stored, 0x2000), 0x2000, BLOCK, DIGEST_OF_EMPTY));
    EXPECT_EQ(SendBlocks(client, stored), std::vector<std::string>{"C \n"});
    EXPECT_EQ(Line(client), "E \n");
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).status, Client::Status::Closed);
    EXPECT_TRUE(Slice(Flash(), 0x2000, BLOCK) == plain);
}

TEST_F(ApSimTest, GarbageReplacesOneReplyAndTheExchangeGoesOn) {
    StartSim({"--garbage-at", "start", "--flash", FlashPath()});
    const std::vector<uint8_t> plain = qt::PseudoRandomBytes(BLOCK, 9);
    const std::vector<uint8_t> stored = qt::ScrambleImage(plain, 0);
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    ASSERT_EQ(Line(client), "OK\n");
    ASSERT_TRUE(client.Send(HeaderBytes(SentBytesChecksum(stored, 0), 0, BLOCK, DIGEST_OF_EMPTY)));
    ASSERT_EQ(Line(client), "OK\n");
    const std::string garbage = Line(client);
    ASSERT_GE(garbage.size(), 3u);
    for (const char* reply : {"S", "OK", "IP", "C ", "E "}) {
        EXPECT_NE(garbage.rfind(reply, 0), 0u) << "garbage line begins with " << reply;
    }
    EXPECT_EQ(SendBlocks(client, stored), std::vector<std::string>{"C \n"});
    EXPECT_EQ(Line(client), "E \n");
    EXPECT_EQ(Line(client), "OK\n");
    EXPECT_TRUE(Slice(Flash(), 0, BLOCK) == plain);
}

TEST_F(ApSimTest, GarbageAtInquiryNamesNoModel) {
    StartSim({"--garbage-at", "inquiry"});
    const std::string reply = Inquiry();
    ASSERT_FALSE(reply.empty());
    EXPECT_NE(reply.substr(0, 6), "KRV001");
}

TEST_F(ApSimTest, AnswerIpRejectsEvenTheRightPassword) {
    StartSim({"--answer-ip", "--password", "password"});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    ASSERT_EQ(Line(client), "OK\n");
    ASSERT_TRUE(client.Send(HeaderBytes(0, 0, BLOCK, 0x825f)));  // digest of "password"
    EXPECT_EQ(Line(client), "IP\n");
}

TEST_F(ApSimTest, SplitRepliesArriveByteByByte) {
    StartSim({"--split-replies"});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(3 * BLOCK, 10);
    {
        Client client;
        Connect(client);
        ASSERT_TRUE(client.Send("INQR"));
        EXPECT_EQ(Line(client), "KRV0012\n");
        // Eight bytes sent one at a time with pauses between them.
        EXPECT_GE(client.receivedSegments(), 2u);
    }
    const std::vector<std::string> lines =
        WriteRange(HeaderBytes(SentBytesChecksum(stored, 0), 0, 3 * BLOCK, DIGEST_OF_EMPTY), stored);
    EXPECT_EQ(lines, ExpectedLines(3));
}

TEST_F(ApSimTest, MergeRepliesPutsTwoLinesIntoOneSegment) {
    StartSim({"--merge-replies", "--flash", FlashPath()});
    const std::vector<uint8_t> plain = qt::PseudoRandomBytes(2 * BLOCK, 12);
    const std::vector<uint8_t> stored = qt::ScrambleImage(plain, 0);
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).bytes, "OK\n");
    ASSERT_TRUE(client.Send(HeaderBytes(SentBytesChecksum(stored, 0), 0, 2 * BLOCK, DIGEST_OF_EMPTY)));
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).bytes, "OK\nS\n");
    ASSERT_TRUE(client.Send(BlockSlice(stored, 0)));
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).bytes, "C \n");
    ASSERT_TRUE(client.Send(BlockSlice(stored, BLOCK)));
    EXPECT_EQ(client.ReceiveChunk(REPLY_WAIT).bytes, "C \nE \n");
    EXPECT_EQ(Line(client), "OK\n");
    EXPECT_TRUE(Slice(Flash(), 0, 2 * BLOCK) == plain);
}

struct LineEndCase {
    const char* option;
    std::string end;
};

class ApSimLineEndTest : public ApSimTest, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(ApSimLineEndTest, EveryReplyLineEndsAsConfigured) {
    const LineEndCase& param = GetParam();
    StartSim({"--line-end", param.option});
    const char last = param.end.back();
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(BLOCK, 13);
    {
        Client client;
        Connect(client);
        ASSERT_TRUE(client.Send("INQR"));
        EXPECT_EQ(Printable(Line(client, last)), Printable("KRV0012" + param.end));
    }
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    EXPECT_EQ(Printable(Line(client, last)), Printable("OK" + param.end));
    ASSERT_TRUE(client.Send(HeaderBytes(SentBytesChecksum(stored, 0), 0, BLOCK, DIGEST_OF_EMPTY)));
    EXPECT_EQ(Printable(Line(client, last)), Printable("OK" + param.end));
    EXPECT_EQ(Printable(Line(client, last)), Printable("S" + param.end));
    ASSERT_TRUE(client.Send(stored));
    EXPECT_EQ(Printable(Line(client, last)), Printable("C " + param.end));
    EXPECT_EQ(Printable(Line(client, last)), Printable("E " + param.end));
    EXPECT_EQ(Printable(Line(client, last)), Printable("OK" + param.end));
}

INSTANTIATE_TEST_SUITE_P(LineEnds, ApSimLineEndTest,
                         ::testing::Values(LineEndCase{"lf", "\n"}, LineEndCase{"crlf", "\r\n"},
                                           LineEndCase{"nul", std::string(1, '\0')}),
                         [](const ::testing::TestParamInfo<LineEndCase>& paramInfo) { return paramInfo.param.option; });

// --- Robustness ---

TEST_F(ApSimTest, ClientVanishingMidBlockLeavesTheSimulatorServing) {
    StartSim({"--flash", FlashPath()});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(2 * BLOCK, 14);
    {
        Client client;
        OpenRange(client, HeaderBytes(SentBytesChecksum(stored, 0), 0, 2 * BLOCK, DIGEST_OF_EMPTY));
        ASSERT_TRUE(client.Send(Slice(stored, 0, 1000)));
    }
    EXPECT_EQ(Inquiry(), "KRV0012\n");
    EXPECT_TRUE(AllErased(Flash(), 0, FLASH_2MIB));
    EXPECT_TRUE(sim.Running());
}

TEST_F(ApSimTest, SilentClientIsDroppedAfterTheIdleTimeout) {
    StartSim({"--idle-timeout", "200"});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FL"));  // an incomplete command, then nothing
    EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
    EXPECT_EQ(Inquiry(), "KRV0012\n");
}

TEST_F(ApSimTest, UnknownCommandIsRefused) {
    StartSim({});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("HELO"));
    const std::string reply = Line(client);
    EXPECT_FALSE(reply.empty());
    EXPECT_NE(reply.substr(0, 2), "OK");
    EXPECT_EQ(client.WaitForClose(REPLY_WAIT), Client::Status::Closed);
}

TEST_F(ApSimTest, StopSignalEndsTheSimulatorEvenWhileItHoldsASilentConnection) {
    StartSim({"--silent-at", "flsh"});
    Client client;
    Connect(client);
    ASSERT_TRUE(client.Send("FLSH"));
    EXPECT_EQ(client.ReceiveChunk(QUIET_WAIT).status, Client::Status::TimedOut);
    EXPECT_EQ(sim.Stop(EXIT_WAIT), 0);
}

// --- Ending and setting up ---

TEST_F(ApSimTest, ExitAfterRangesEndsOnItsOwn) {
    StartSim({"--exit-after-ranges", "1"});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(BLOCK, 15);
    EXPECT_EQ(Inquiry(), "KRV0012\n");
    EXPECT_TRUE(sim.Running());
    EXPECT_EQ(WriteRange(HeaderBytes(SentBytesChecksum(stored, 0), 0, BLOCK, DIGEST_OF_EMPTY), stored),
              ExpectedLines(1));
    EXPECT_EQ(sim.WaitExit(EXIT_WAIT), std::optional<int>(0));
}

TEST_F(ApSimTest, MaxConnectionsEndsOnItsOwn) {
    StartSim({"--max-connections", "2"});
    EXPECT_EQ(Inquiry(), "KRV0012\n");
    EXPECT_EQ(Inquiry(), "KRV0012\n");
    EXPECT_EQ(sim.WaitExit(EXIT_WAIT), std::optional<int>(0));
}

// --restart-ms: the access point that is power-cycled after its update.
TEST_F(ApSimTest, RestartMsStopsListeningAfterTheUpdateThenAnswersAsTheSameModel) {
    constexpr auto PAUSE = 1500ms;
    constexpr auto SETTLE = 1000ms;  // the simulator's wait for the update's next range
    constexpr auto POLL = 50ms;
    StartSim({"--model", "MXD001", "--restart-ms", "1500"});
    const std::vector<uint8_t> stored = qt::PseudoRandomBytes(BLOCK, 16);
    const std::vector<uint8_t> header = HeaderBytes(SentBytesChecksum(stored, 0), 0, BLOCK, DIGEST_OF_EMPTY);
    // Ranges that follow each other are one update, and inquiries meanwhile are answered.
    EXPECT_EQ(WriteRange(header, stored), ExpectedLines(1));
    EXPECT_EQ(Inquiry(), "MXD0012\n");
    EXPECT_EQ(WriteRange(header, stored), ExpectedLines(1));

    using Clock = std::chrono::steady_clock;
    auto pollUntil = [&](Clock::time_point deadline, bool wantAnswer) {
        for (;;) {
            const std::string answer = Inquiry();
            if (answer.empty() != wantAnswer || Clock::now() >= deadline) return answer;
            std::this_thread::sleep_for(POLL);
        }
    };
    // Polling does not hold the restart off: it comes once the update has settled.
    EXPECT_EQ(pollUntil(Clock::now() + SETTLE + REPLY_WAIT, false), "") << "the simulator never went quiet";
    const auto quietFrom = Clock::now();
    EXPECT_EQ(pollUntil(quietFrom + PAUSE + REPLY_WAIT, true), "MXD0012\n") << "it did not come back";
    // It came back no sooner than its pause allows (with room for the polling).
    EXPECT_GE(Clock::now() - quietFrom, PAUSE / 2);
    EXPECT_NE(sim.Log().find("restarting"), std::string::npos);
    // Once back, nothing restarts it again without another update.
    std::this_thread::sleep_for(SETTLE + 2 * POLL);
    EXPECT_EQ(Inquiry(), "MXD0012\n");
}

TEST_F(ApSimTest, ExistingFlashFileIsExtendedWithErasedBytesAndKeepsItsContent) {
    {
        std::ofstream out(FlashPath(), std::ios::binary);
        out << std::string(BLOCK, '\0');
    }
    StartSim({"--flash", FlashPath()});
    const std::vector<uint8_t> flash = Flash();
    ASSERT_EQ(flash.size(), FLASH_2MIB);
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + BLOCK, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(AllErased(flash, BLOCK, flash.size()));
}

TEST(ApSimCommandLineTest, RejectsBadOptionsWithUsageStatus) {
    const std::vector<std::string> badLines = {
        "--bogus",
        "--port",
        "--port 70000",
        "--model KRV01",
        "--generation 12",
        "--silent-at block:0",
        "--close-at middle",
        "--line-end cr",
        "--idle-timeout 0",
        "--password '\xf0\x9f\x98\x80'",          // a character code page 932 lacks
        "--password 0123456789abcdef",           // 16 bytes, one more than can be entered
        "--listen not-an-address --port 0",
    };
    for (const std::string& line : badLines) {
        const qt::CommandResult result = qt::RunShell(qt::ShellQuote(qt::ApSimBinary()) + " " + line);
        const int expected = line.find("--listen") != std::string::npos ? 1 : 2;
        EXPECT_EQ(result.exitStatus, expected) << line << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << line;
    }
}

TEST(ApSimCommandLineTest, HelpListsEveryOption) {
    const qt::CommandResult result = qt::RunShell(qt::ShellQuote(qt::ApSimBinary()) + " --help");
    EXPECT_EQ(result.exitStatus, 0);
    for (const char* option :
         {"--model", "--generation", "--password", "--flash", "--listen", "--port", "--exit-after-ranges",
          "--max-connections", "--idle-timeout", "--silent-hold", "--silent-at", "--close-at", "--garbage-at",
          "--close-after-blocks", "--answer-ip", "--split-replies", "--merge-replies", "--line-end",
          "--restart-ms"}) {
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

}  // namespace
