#include "tools/apsim/lan_service.h"

#include <array>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/apsim/event_log.h"
#include "tools/apsim/range_receiver.h"
#include "tools/apsim/sim_limits.h"
#include "tools/apsim/stop_signal.h"

namespace quorsel::apsim {

namespace {

constexpr std::string_view COMMAND_INQUIRY = "INQR";
constexpr std::string_view COMMAND_FLASH = "FLSH";

constexpr std::string_view REPLY_OK = "OK";
constexpr std::string_view REPLY_BAD_PASSWORD = "IP";
constexpr std::string_view REPLY_START = "S";
constexpr std::string_view REPLY_BLOCK = "C ";
constexpr std::string_view REPLY_END = "E ";
// Refusal of a header or of a range's data; begins with none of the accepted replies.
constexpr std::string_view REPLY_REFUSED = "NG";

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// The command as text for the log, with bytes that are not printable as escapes.
std::string Printable(const uint8_t* bytes, size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
            text += static_cast<char>(bytes[i]);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", bytes[i]);
            text += escape;
        }
    }
    return text;
}

// One reply the access point owes at a step of the exchange.
struct Reply {
    Step step;
    uint32_t block;
    std::string_view line;  // without its line end
};

// How a session goes on after a reply.
enum class Flow { Continue, End };

// One connection, from its command to its close.
class LanSession {
public:
    LanSession(TcpConnection& connection, const LanServiceConfig& config)
        : connection_(connection), config_(config), faults_(config.faults) {}

    // Serves the connection; true when it stored a range.
    bool Serve();

private:
    void ServeInquiry();
    void ServeFlash();
    // Receives n bytes; logs why when they do not come.
    bool Receive(uint8_t* buffer, size_t n, const std::string& what);
    // Sends the replies in order, applying the faults of their steps. With merging,
    // consecutive replies go out in one segment.
    Flow Answer(std::initializer_list<Reply> replies);
    bool SendBytes(const std::string& bytes);
    void Finish() { connection_.CloseGracefully(CLOSE_DRAIN_LIMIT); }

    TcpConnection& connection_;
    const LanServiceConfig& config_;
    const FaultPlan& faults_;
    bool stored_ = false;
};

bool LanSession::Serve() {
    if (!connection_.SetSendTimeout(config_.idleTimeout)) LogEvent("cannot bound the send time");
    if (faults_.splitReplies && !connection_.SetNoDelay()) LogEvent("cannot set TCP_NODELAY; replies may coalesce");

    std::array<uint8_t, COMMAND_SIZE> command{};
    if (!Receive(command.data(), command.size(), "command")) return false;
    const std::string_view text(reinterpret_cast<const char*>(command.data()), command.size());
    LogEvent("command " + Printable(command.data(), command.size()));

    if (text == COMMAND_INQUIRY) {
        ServeInquiry();
    } else if (text == COMMAND_FLASH) {
        ServeFlash();
    } else {
        LogEvent("unknown command, refused");
        SendBytes(std::string(REPLY_REFUSED) + std::string(LineEndBytes(config_.lineEnd)));
        Finish();
    }
    return stored_;
}

void LanSession::ServeInquiry() {
    const AccessPoint& ap = config_.accessPoint;
    const std::string line = ap.model + ap.generation;
    LogEvent("inquiry reply " + line);
    if (Answer({{Step::Inquiry, 0, line}}) == Flow::End) return;
    Finish();
}

void LanSession::ServeFlash() {
    const AccessPoint& ap = config_.accessPoint;
    if (Answer({{Step::Flsh, 0, REPLY_OK}}) == Flow::End) return;

    std::array<uint8_t, HEADER_SIZE_NEW> headerBytes{};
    const size_t headerSize = ap.HeaderSize();
    if (!Receive(headerBytes.data(), headerSize, std::to_string(headerSize) + "-byte range header")) return;
    const ReceivedHeader header = ParseRangeHeader(headerBytes.data(), headerSize);
    LogEvent("range header: " + DescribeHeader(header));

    HeaderVerdict verdict = CheckRangeHeader(header, ap.ExpectedDigest(), ap.flashSize);
    if (verdict == HeaderVerdict::Accepted && faults_.answerIp) {
        LogEvent("fault: answering IP to the header");
        verdict = HeaderVerdict::BadPassword;
    } else {
        LogEvent(std::string("range header ") + DescribeVerdict(verdict));
    }
    if (verdict != HeaderVerdict::Accepted) {
        const std::string_view refusal = verdict == HeaderVerdict::BadPassword ? REPLY_BAD_PASSWORD : REPLY_REFUSED;
        if (Answer({{Step::Header, 0, refusal}}) == Flow::End) return;
        Finish();
        return;
    }
    if (config_.erasePause.count() == 0) {
        if (Answer({{Step::Header, 0, REPLY_OK}, {Step::Start, 0, REPLY_START}}) == Flow::End) return;
    } else {
        if (Answer({{Step::Header, 0, REPLY_OK}}) == Flow::End) return;
        LogEvent("erasing for " + std::to_string(config_.erasePause.count()) + " ms");
        std::this_thread::sleep_for(config_.erasePause);
        if (Answer({{Step::Start, 0, REPLY_START}}) == Flow::End) return;
    }

    RangeReceiver receiver(header, ap.ReceivedForm());
    uint32_t blocks = 0;
    bool blockAnswerPending = false;  // the last block's "C " waits to share a segment with the end reply
    std::vector<uint8_t> block(DATA_BLOCK_SIZE);
    for (;;) {
        if (faults_.CloseAfter(blocks)) {
            LogEvent("fault: closing after " + std::to_string(blocks) + " blocks");
            connection_.Close();
            return;
        }
        if (receiver.Remaining() == 0) break;
        const size_t size = receiver.NextBlockSize();
        if (!Receive(block.data(), size, "data block " + std::to_string(blocks + 1))) {
            LogEvent("range abandoned after " + std::to_string(blocks) + " blocks");
            return;
        }
        receiver.AddBlock(block.data(), size);
        ++blocks;
        if (config_.blockPause.count() > 0) std::this_thread::sleep_for(config_.blockPause);
        if (receiver.Remaining() == 0 && faults_.mergeReplies && !faults_.CloseAfter(blocks)) {
            blockAnswerPending = true;
            break;
        }
        if (Answer({{Step::Block, blocks, REPLY_BLOCK}}) == Flow::End) return;
    }
    LogEvent("data received: " + std::to_string(blocks) + " blocks, " + std::to_string(header.length) + " bytes");
    if (receiver.PaddedPartialBlock()) {
        LogEvent("note: the last block was short; its missing stored bytes were taken as 0xFF to descramble it");
    }

    const uint16_t computed = receiver.ComputedChecksum();
    const bool intact = receiver.ChecksumMatches();
    LogEvent("checksum header " + Hex(header.checksum) + ", received " + Hex(computed) +
             (intact ? ": match" : ": MISMATCH, range not written"));
    const std::string_view endLine = intact ? REPLY_END : REPLY_REFUSED;
    const Flow flow = blockAnswerPending ? Answer({{Step::Block, blocks, REPLY_BLOCK}, {Step::End, 0, endLine}})
                                         : Answer({{Step::End, 0, endLine}});
    // A range is stored only when it is intact and its end was confirmed to the client.
    if (flow == Flow::End) {
        if (intact) LogEvent("range not written: the end of the range was not confirmed");
        return;
    }
    if (!intact) {
        Finish();
        return;
    }

    std::string_view finalLine = REPLY_OK;
    if (config_.flash != nullptr) {
        Result<bool, std::string> written =
            config_.flash->Write(header.start, receiver.FlashBytes().data(), receiver.FlashBytes().size());
        if (written) {
            stored_ = true;
            LogEvent("range written: start " + Hex(header.start) + ", length " + Hex(header.length) + " to " +
                     config_.flash->path());
        } else {
            LogEvent("flash write failed: " + written.error());
            finalLine = REPLY_REFUSED;
        }
    } else {
        stored_ = true;
        LogEvent("range accepted (no flash file): start " + Hex(header.start) + ", length " + Hex(header.length));
    }
    if (Answer({{Step::Final, 0, finalLine}}) == Flow::End) return;
    Finish();
}

bool LanSession::Receive(uint8_t* buffer, size_t n, const std::string& what) {
    RecvStatus status = connection_.ReceiveExact(buffer, n, config_.idleTimeout);
    if (status == RecvStatus::Done) return true;
    LogEvent("waiting for " + what + ": " + DescribeRecvStatus(status));
    return false;
}

Flow LanSession::Answer(std::initializer_list<Reply> replies) {
    const std::string_view lineEnd = LineEndBytes(config_.lineEnd);
    std::string pending;
    auto flush = [&]() {
        if (pending.empty()) return true;
        bool sent = SendBytes(pending);
        pending.clear();
        return sent;
    };
    for (const Reply& reply : replies) {
        const std::string stepName = StepName(reply.step, reply.block);
        switch (faults_.ActionAt(reply.step, reply.block)) {
            case FaultAction::Answer:
                pending.append(reply.line).append(lineEnd);
                break;
            case FaultAction::Garbage:
                LogEvent("fault: garbage at " + stepName);
                pending.append(GARBAGE_LINE).append(lineEnd);
                break;
            case FaultAction::Close:
                flush();
                LogEvent("fault: closing at " + stepName);
                connection_.Close();
                return Flow::End;
            case FaultAction::Silent: {
                flush();
                LogEvent("fault: silent at " + stepName);
                RecvStatus status = connection_.DiscardUntilClosed(config_.silentHold);
                LogEvent(std::string("silent connection ended: ") +
                         (status == RecvStatus::TimedOut ? "hold time over" : DescribeRecvStatus(status)));
                connection_.Close();
                return Flow::End;
            }
        }
        if (!faults_.mergeReplies && !flush()) return Flow::End;
    }
    return flush() ? Flow::Continue : Flow::End;
}

bool LanSession::SendBytes(const std::string& bytes) {
    bool sent = true;
    if (!faults_.splitReplies) {
        sent = connection_.Send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    } else {
        for (size_t i = 0; i < bytes.size() && sent; ++i) {
            if (i > 0) std::this_thread::sleep_for(SPLIT_REPLY_PAUSE);
            sent = connection_.Send(reinterpret_cast<const uint8_t*>(bytes.data() + i), 1);
        }
    }
    if (!sent) LogEvent("client gone while replying");
    return sent;
}

// The exit status once the listener has given no client: a stop, or a failure.
int ListenerEnded(const TcpListener& listener) {
    if (listener.failed()) {
        LogEvent("accepting connections failed; ending");
        return 1;
    }
    LogEvent("stop requested; ending");
    return 0;
}

// With a restart pause: once the update is complete (a range was stored at
// lastStored and no other range has begun since for RESTART_SETTLE_TIME), the access
// point is "power-cycled". Clients that come meanwhile are served as ever. False when
// the simulator is to end (a stop, or the listener could not come back).
bool RestartIfComplete(TcpListener& listener, const LanServiceConfig& config, bool& restartDue,
                       std::chrono::steady_clock::time_point lastStored) {
    if (!restartDue) return true;
    const auto settled = lastStored + RESTART_SETTLE_TIME;
    const auto now = std::chrono::steady_clock::now();
    if (now < settled) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(settled - now);
        if (listener.WaitForClient(left)) return true;
        if (StopRequested() || listener.failed()) return false;
    }
    restartDue = false;
    LogEvent("update complete: restarting, not listening for " + std::to_string(config.restartPause.count()) + " ms");
    Result<bool, std::string> back = listener.Suspend(config.restartPause);
    if (!back) {
        LogEvent("listening again failed: " + back.error());
        return false;
    }
    if (!back.value()) return false;
    LogEvent("restarted: listening again on port " + std::to_string(listener.port()));
    return true;
}

}  // namespace

int RunLanService(TcpListener& listener, const LanServiceConfig& config) {
    uint32_t connections = 0;
    uint32_t ranges = 0;
    bool restartDue = false;  // with a restart pause: a range was stored since the last restart
    std::chrono::steady_clock::time_point lastStored{};
    for (;;) {
        if (!RestartIfComplete(listener, config, restartDue, lastStored)) return ListenerEnded(listener);
        std::optional<TcpConnection> connection = listener.Accept();
        if (!connection) return ListenerEnded(listener);
        ++connections;
        LogEvent("connection " + std::to_string(connections) + " from " + connection->peer());
        if (LanSession(*connection, config).Serve()) {
            ++ranges;
            restartDue = config.restartPause.count() > 0;
            lastStored = std::chrono::steady_clock::now();
        }
        connection->Close();
        LogEvent("connection " + std::to_string(connections) + " closed");

        if (StopRequested()) {
            LogEvent("stop requested; ending");
            return 0;
        }
        if (config.exitAfterRanges != 0 && ranges >= config.exitAfterRanges) {
            LogEvent(std::to_string(ranges) + " ranges stored; ending");
            return 0;
        }
        if (config.maxConnections != 0 && connections >= config.maxConnections) {
            LogEvent(std::to_string(connections) + " connections served; ending");
            return 0;
        }
    }
}

}  // namespace quorsel::apsim
