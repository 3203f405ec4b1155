#include "engine/reply_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scripted_stream.h"

namespace quorsel {
namespace {

using testing::ScriptedStream;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds READ_WAIT = 40ms;

class ReplyReaderTest : public ::testing::Test {
protected:
    // Reads one line and expects it to succeed.
    std::string Line() {
        std::string line;
        const ReadFailure failure = reader.ReadLine(peer, line);
        EXPECT_EQ(failure, ReadFailure::None) << DescribeReadFailure(failure);
        return line;
    }
    ReadFailure Failure() {
        std::string line;
        return reader.ReadLine(peer, line);
    }

    ScriptedStream peer;
    ReplyReader reader{READ_WAIT};
};

TEST_F(ReplyReaderTest, LineSplitByteByByteIsJoined) {
    peer.DeliverBytewise("OK\n");
    EXPECT_EQ(Line(), "OK");
    EXPECT_EQ(reader.buffered(), 0u);
}

TEST_F(ReplyReaderTest, PeeksIntoTheFreePartOfTheBufferOnly) {
    peer.DeliverBytewise("abc\n");
    EXPECT_EQ(Line(), "abc");
    // Each wait peeks, then receives, into what is left of the 1024 bytes.
    ASSERT_EQ(peer.receives().size(), 8u);
    for (size_t i = 0; i < 4; ++i) {
        const auto& peek = peer.receives()[2 * i];
        const auto& receive = peer.receives()[2 * i + 1];
        EXPECT_TRUE(peek.peek);
        EXPECT_FALSE(receive.peek);
        EXPECT_EQ(peek.size, REPLY_BUFFER_SIZE - i);
        EXPECT_EQ(receive.size, REPLY_BUFFER_SIZE - i);
        EXPECT_EQ(peek.timeout, READ_WAIT);
    }
}

TEST_F(ReplyReaderTest, LinesSplitAtOddPointsComeOutWhole) {
    peer.DeliverSplit("OK\r\nS 1234\nC \nE \n", {1, 3, 5, 11, 12});
    EXPECT_EQ(Line(), "OK\r");
    EXPECT_EQ(Line(), "S 1234");
    EXPECT_EQ(Line(), "C ");
    EXPECT_EQ(Line(), "E ");
}

TEST_F(ReplyReaderTest, TwoLinesInOneSegmentAreHandedOutOnePerRead) {
    peer.Deliver("OK\nS\n");
    EXPECT_EQ(Line(), "OK");
    const size_t callsAfterFirst = peer.receives().size();
    EXPECT_EQ(reader.buffered(), 2u);  // "S\n" waits for the next read
    EXPECT_EQ(Line(), "S");
    EXPECT_EQ(peer.receives().size(), callsAfterFirst);  // served from the buffer
}

TEST_F(ReplyReaderTest, CarriageReturnStaysPartOfTheLine) {
    peer.Deliver("OK\r\n");
    EXPECT_EQ(Line(), "OK\r");
}

TEST_F(ReplyReaderTest, NulEndsALineLikeLineFeed) {
    peer.Deliver(std::string("OK\0S\nE \0", 8));
    EXPECT_EQ(Line(), "OK");
    EXPECT_EQ(Line(), "S");
    EXPECT_EQ(Line(), "E ");
}

TEST_F(ReplyReaderTest, EmptyLineIsALine) {
    peer.Deliver("\nX\n");
    EXPECT_EQ(Line(), "");
    EXPECT_EQ(Line(), "X");
}

TEST_F(ReplyReaderTest, BufferedBytesBecomeTheLineWhenThePeerCloses) {
    peer.Deliver("OK").Close();
    EXPECT_EQ(Line(), "OK");
    // The data counts as ended after the limit of empty peeks in a row.
    size_t emptyPeeks = 0;
    for (const auto& call : peer.receives()) {
        if (call.peek && call.status == IoStatus::Closed) ++emptyPeeks;
    }
    EXPECT_EQ(emptyPeeks, EMPTY_PEEK_LIMIT);
    // Nothing is left for a further read.
    EXPECT_EQ(Failure(), ReadFailure::Closed);
}

TEST_F(ReplyReaderTest, CloseWithNothingBufferedFails) {
    peer.Close();
    EXPECT_EQ(Failure(), ReadFailure::Closed);
}

TEST_F(ReplyReaderTest, EmptyPeeksAreCountedOnlyInARow) {
    // 2999 empty peeks, a byte, 2999 more, a byte: never 3000 in a row.
    peer.Deliver("O").EmptyReads(EMPTY_PEEK_LIMIT - 1).Deliver("K").EmptyReads(EMPTY_PEEK_LIMIT - 1).Deliver("\n");
    EXPECT_EQ(Line(), "OK");
}

TEST_F(ReplyReaderTest, ThreeThousandEmptyPeeksEndTheData) {
    peer.Deliver("O").EmptyReads(EMPTY_PEEK_LIMIT).Deliver("K\n");
    EXPECT_EQ(Line(), "O");
    EXPECT_EQ(Line(), "K");
}

TEST_F(ReplyReaderTest, SilentPeerTimesOut) {
    peer.FallSilent();
    EXPECT_EQ(Failure(), ReadFailure::TimedOut);
    ASSERT_FALSE(peer.receives().empty());
    EXPECT_EQ(peer.receives().back().timeout, READ_WAIT);
}

TEST_F(ReplyReaderTest, PartLineThenSilenceTimesOut) {
    peer.Deliver("OK").FallSilent();
    EXPECT_EQ(Failure(), ReadFailure::TimedOut);
}

TEST_F(ReplyReaderTest, BrokenConnectionIsAnError) {
    peer.Deliver("O").Break();
    EXPECT_EQ(Failure(), ReadFailure::Error);
}

TEST_F(ReplyReaderTest, ReceiveFindingNothingAfterAPeekIsAnError) {
    peer.PhantomByte(IoStatus::Closed);
    EXPECT_EQ(Failure(), ReadFailure::Error);
}

TEST_F(ReplyReaderTest, ReceiveErrorAfterAPeekIsAnError) {
    peer.Deliver("OK").PhantomByte(IoStatus::Failed);
    EXPECT_EQ(Failure(), ReadFailure::Error);
}

TEST_F(ReplyReaderTest, LineLongerThanTheBufferFails) {
    peer.Deliver(std::string(REPLY_BUFFER_SIZE + 1, 'x'));
    EXPECT_EQ(Failure(), ReadFailure::TooLong);
}

TEST_F(ReplyReaderTest, LineLongerThanTheBufferFailsAlsoWhenItsEndFollows) {
    peer.DeliverSplit(std::string(REPLY_BUFFER_SIZE + 1, 'x') + "\n", {600});
    EXPECT_EQ(Failure(), ReadFailure::TooLong);
}

TEST_F(ReplyReaderTest, LineFillingTheBufferExactlyIsHandedOutWhole) {
    const std::string full(REPLY_BUFFER_SIZE, 'y');
    peer.DeliverSplit(full + "\nOK\n", {1000});
    EXPECT_EQ(Line(), full);
    // The end byte was taken off the stream: the next line is the next reply.
    EXPECT_EQ(Line(), "OK");
}

TEST_F(ReplyReaderTest, LineFillingTheBufferExactlyMayEndWithNulOrClose) {
    const std::string full(REPLY_BUFFER_SIZE, 'z');
    peer.Deliver(full).Deliver(std::string("\0", 1)).Deliver(full).Close();
    EXPECT_EQ(Line(), full);
    EXPECT_EQ(Line(), full);
}

TEST_F(ReplyReaderTest, ResetDropsWhatTheLastConnectionLeft) {
    peer.Deliver("OK\nleft over\n");
    EXPECT_EQ(Line(), "OK");
    reader.Reset();
    EXPECT_EQ(reader.buffered(), 0u);
    ScriptedStream next;
    next.Deliver("fresh\n");
    std::string line;
    EXPECT_EQ(reader.ReadLine(next, line), ReadFailure::None);
    EXPECT_EQ(line, "fresh");
}

TEST(DescribeReadFailureTest, EveryFailureHasItsOwnText) {
    const ReadFailure failures[] = {ReadFailure::Closed, ReadFailure::TimedOut, ReadFailure::Error,
                                    ReadFailure::TooLong};
    for (ReadFailure a : failures) {
        EXPECT_NE(std::string(DescribeReadFailure(a)), "");
        for (ReadFailure b : failures) {
            if (a != b) {
                EXPECT_STRNE(DescribeReadFailure(a), DescribeReadFailure(b));
            }
        }
    }
}

}  // namespace
}  // namespace quorsel
