#include "engine/lan_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quorsel {

namespace {

constexpr uint8_t INQUIRY_WORD[] = {'I', 'N', 'Q', 'R'};
constexpr uint8_t FLASH_WORD[] = {'F', 'L', 'S', 'H'};
constexpr size_t GENERATION_BYTE = 6;
constexpr size_t QUOTED_REPLY_LIMIT = 40;  // bytes of a reply shown in a diagnostic

bool StartsWith(const std::string& line, const char* prefix) {
    return line.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string DescribeDuration(std::chrono::milliseconds wait) {
    const auto ms = wait.count();
    if (ms >= 1000 && ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

std::string DescribeFailure(ReadFailure failure, std::chrono::milliseconds timeout) {
    if (failure == ReadFailure::TimedOut) return "no byte for " + DescribeDuration(timeout);
    return DescribeReadFailure(failure);
}

// A reply as it can be shown on one line: printable ASCII kept, everything else escaped.
std::string Quote(const std::string& line) {
    std::string out = "\"";
    const size_t shown = std::min(line.size(), QUOTED_REPLY_LIMIT);
    for (size_t i = 0; i < shown; ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if (byte == '\\' || byte == '"') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else if (byte == '\r') {
            out += "\\r";
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    out += '"';
    if (line.size() > shown) out += "...";
    return out;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string DescribePeer(const PeerAddress& peer) {
    const unsigned port = (unsigned{peer.port[0]} << 8) | peer.port[1];
    return std::to_string(peer.address[0]) + "." + std::to_string(peer.address[1]) + "." +
           std::to_string(peer.address[2]) + "." + std::to_string(peer.address[3]) + ":" +
           std::to_string(port);
}

// Reads one line within timeout; on failure raises `code` with a diagnostic naming
// what was awaited.
bool ReadReply(ReplyReader& reader, ByteStream& stream, std::string& line, StatusRaiser& raiser,
               StatusCode code, const std::string& awaited, std::chrono::milliseconds timeout) {
    const ReadFailure failure = reader.ReadLine(stream, line, timeout);
    if (failure == ReadFailure::None) return true;
    raiser.Fail(code, "waiting for " + awaited + ": " + DescribeFailure(failure, timeout));
    return false;
}

bool ReadReply(ReplyReader& reader, ByteStream& stream, std::string& line, StatusRaiser& raiser,
               StatusCode code, const std::string& awaited) {
    return ReadReply(reader, stream, line, raiser, code, awaited, reader.readTimeout());
}

}  // namespace

Generation GenerationOf(const std::string& inquiryLine) {
    if (inquiryLine.size() <= GENERATION_BYTE) return Generation::Old;
    // Taken as signed, so bytes 0x80 to 0xFF count as old.
    const auto digit = static_cast<int8_t>(inquiryLine[GENERATION_BYTE]);
    return digit >= '2' ? Generation::New : Generation::Old;
}

bool RunInquiry(Network& network, const PeerAddress& peer, const PeerTimeouts& timeouts,
                StatusRaiser& raiser, InquiryResult& result) {
    if (peer.address == std::array<uint8_t, 4>{0, 0, 0, 0}) {
        raiser.Fail(STATUS_CONNECT_FAILED, "connecting to " + DescribePeer(peer) +
                                               " for the inquiry: 0.0.0.0 is no access point's address");
        return false;
    }
    SocketLibrarySession library(network);
    if (!library.started()) {
        raiser.Fail(STATUS_CONNECT_FAILED, "starting the sockets library for the inquiry: the library did not start");
        return false;
    }
    // Declared after the library session, so the socket is closed before the release.
    const std::unique_ptr<ByteStream> stream = network.Connect(peer, timeouts.connect);
    if (!stream) {
        raiser.Fail(STATUS_CONNECT_FAILED,
                    "connecting to " + DescribePeer(peer) + " for the inquiry: no socket or the connection failed");
        return false;
    }
    ReplyReader reader(timeouts.lanRead);
    reader.Reset();

    if (!stream->Send(INQUIRY_WORD, sizeof INQUIRY_WORD)) {
        raiser.Fail(STATUS_COMM_ERROR, "sending \"INQR\": the send failed");
        return false;
    }
    std::string line;
    if (!ReadReply(reader, *stream, line, raiser, STATUS_COMM_ERROR, "the reply to \"INQR\"")) return false;

    result.line = line;
    result.generation = GenerationOf(line);
    return true;
}

bool RunRangeExchange(const RangeExchange& exchange, StatusRaiser& raiser) {
    ByteStream& stream = exchange.stream;
    ReplyReader& reader = exchange.reader;
    const FlashRange range = exchange.range;
    const bool newGeneration = exchange.generation == Generation::New;
    std::string line;

    // "FLSH" and its "OK".
    if (!stream.Send(FLASH_WORD, sizeof FLASH_WORD)) {
        raiser.Fail(STATUS_COMM_ERROR, "sending \"FLSH\": the send failed");
        return false;
    }
    if (!ReadReply(reader, stream, line, raiser, STATUS_COMM_ERROR, "the reply to \"FLSH\"")) return false;
    if (!StartsWith(line, "OK")) {
        raiser.Fail(STATUS_COMM_ERROR, "waiting for the reply to \"FLSH\": expected \"OK\", got " + Quote(line));
        return false;
    }

    // The range header: all 20 bytes to a new-generation peer, the first 16 to an old one.
    const auto header = exchange.header.Encode();
    const size_t headerSize = newGeneration ? RANGE_HEADER_SIZE : RANGE_HEADER_SIZE_OLD;
    if (!stream.Send(header.data(), headerSize)) {
        raiser.Fail(STATUS_COMM_ERROR, "sending the range header: the send failed");
        return false;
    }
    if (!ReadReply(reader, stream, line, raiser, STATUS_COMM_ERROR, "the reply to the range header")) return false;
    if (StartsWith(line, "IP")) {
        raiser.Fail(STATUS_BAD_PASSWORD, "waiting for the reply to the range header: the password was rejected (\"IP\")");
        return false;
    }
    if (!StartsWith(line, "OK")) {
        raiser.Fail(STATUS_COMM_ERROR,
                    "waiting for the reply to the range header: expected \"OK\" or \"IP\", got " + Quote(line));
        return false;
    }

    raiser.Raise(STATUS_WRITING);

    // The access point erases before it answers.
    if (!ReadReply(reader, stream, line, raiser, STATUS_COMM_ERROR, "the start line ('S')",
                   exchange.flashWorkTimeout)) {
        return false;
    }
    if (!StartsWith(line, "S")) {
        raiser.Fail(STATUS_COMM_ERROR, "waiting for the start line ('S'): got " + Quote(line));
        return false;
    }

    // The range's bytes, block by block, each answered by a line before the next is read.
    const uint64_t fileOffset = uint64_t{exchange.imageStart} + range.start;
    if (!exchange.file.Seek(fileOffset)) {
        raiser.Fail(STATUS_FILE_ERROR, "positioning the program file at " + Hex(fileOffset) + ": the seek failed");
        return false;
    }
    TransferCounters& counters = raiser.counters();
    counters.done = 0;
    counters.total = range.length;
    exchange.descrambler.Skip(range.start);

    // The file is read LAN_FILE_CHUNK bytes at a time and handed out block by block:
    // the blocks are the ones a read of each block would give, with one file read
    // for many of them.
    std::array<uint8_t, LAN_BLOCK_SIZE> block{};
    std::vector<uint8_t> chunk(std::min<size_t>(LAN_FILE_CHUNK, std::max<size_t>(range.length, 1)));
    size_t chunkFill = 0;
    size_t chunkTaken = 0;
    while (counters.done < counters.total) {
        const size_t wanted = std::min<size_t>(counters.total - counters.done, LAN_BLOCK_SIZE);
        if (chunkTaken == chunkFill) {
            const size_t ahead = std::min<size_t>(counters.total - counters.done, chunk.size());
            chunkFill = exchange.file.Read(chunk.data(), ahead);
            chunkTaken = 0;
        }
        const size_t got = std::min(wanted, chunkFill - chunkTaken);
        if (got == 0) break;
        std::memcpy(block.data(), chunk.data() + chunkTaken, got);
        chunkTaken += got;
        // An old-generation peer takes the descrambled bytes. The whole buffer goes
        // through the descrambler, so the keystream stays aligned to 4096-byte blocks.
        if (!newGeneration) exchange.descrambler.DescrambleBlock(block.data());

        const uint64_t blockOffset = uint64_t{range.start} + counters.done;
        if (!stream.Send(block.data(), got)) {
            raiser.Fail(STATUS_WRITE_ERROR, "sending the data block at image offset " + Hex(blockOffset) + " (" +
                                                std::to_string(got) + " bytes): the send failed");
            return false;
        }
        counters.done += static_cast<uint32_t>(got);
        // The access point answers each block with "C "; any line is taken as the answer.
        if (!ReadReply(reader, stream, line, raiser, STATUS_WRITE_ERROR,
                       "the answer to the data block at image offset " + Hex(blockOffset))) {
            return false;
        }
        raiser.Raise(STATUS_PROGRESS);
        if (got < LAN_BLOCK_SIZE) break;
    }

    // "E " ends the data, "OK" ends the range.
    if (!ReadReply(reader, stream, line, raiser, STATUS_WRITE_ERROR, "\"E \" after the last data block",
                   exchange.flashWorkTimeout)) {
        return false;
    }
    if (!StartsWith(line, "E ")) {
        raiser.Fail(STATUS_WRITE_ERROR, "waiting for \"E \" after the last data block: got " + Quote(line));
        return false;
    }
    raiser.Raise(STATUS_PROGRESS);

    // The access point writes the flash before it answers.
    if (!ReadReply(reader, stream, line, raiser, STATUS_COMM_ERROR, "the final \"OK\" of the range",
                   exchange.flashWorkTimeout)) {
        return false;
    }
    if (!StartsWith(line, "OK")) {
        raiser.Fail(STATUS_WRITE_ERROR, "waiting for the final \"OK\" of the range: got " + Quote(line));
        return false;
    }
    return true;
}

}  // namespace quorsel
