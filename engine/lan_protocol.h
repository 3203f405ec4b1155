// The LAN update protocol: the inquiry and the per-range exchange.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/byte_stream.h"
#include "engine/limits.h"
#include "engine/reply_reader.h"
#include "engine/run_interfaces.h"
#include "engine/transfer.h"
#include "image/descrambler.h"
#include "image/file_stream.h"

namespace quorsel {

enum class Generation { Old, New };

// Port and address in network byte order, as in an IPv4 socket address.
struct PeerAddress {
    std::array<uint8_t, 2> port{};
    std::array<uint8_t, 4> address{};
};

// The platform's socket layer (POSIX sockets here; Windows Sockets elsewhere).
class Network {
public:
    virtual ~Network() = default;
    // Starts the sockets library (version 1.1); every successful start is released once.
    virtual bool StartLibrary() = 0;
    virtual void ReleaseLibrary() = 0;
    // A connected TCP stream, or nullptr when no socket can be made or the connect fails.
    virtual std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) = 0;
};

// Holds one start of the sockets library and releases it exactly once.
class SocketLibrarySession {
public:
    explicit SocketLibrarySession(Network& network) : network_(network), started_(network.StartLibrary()) {}
    ~SocketLibrarySession() { if (started_) network_.ReleaseLibrary(); }
    SocketLibrarySession(const SocketLibrarySession&) = delete;
    SocketLibrarySession& operator=(const SocketLibrarySession&) = delete;
    bool started() const { return started_; }

private:
    Network& network_;
    bool started_;
};

struct InquiryResult {
    std::string line;  // bytes 0..5 name the model
    Generation generation = Generation::Old;
};

// Generation from the inquiry reply: new when byte 6 (signed) is '2' or greater;
// a reply shorter than seven bytes counts as old.
Generation GenerationOf(const std::string& inquiryLine);

// Opens its own connection (with its own library start), sends "INQR" and reads the
// reply line. On failure it has raised STATUS_CONNECT_FAILED or STATUS_COMM_ERROR.
// The address 0.0.0.0 names no access point (a connect to it reaches this computer
// on some systems): it is a connect failure before any socket is opened.
bool RunInquiry(Network& network, const PeerAddress& peer, const PeerTimeouts& timeouts,
                StatusRaiser& raiser, InquiryResult& result);

struct RangeExchange {
    ByteStream& stream;           // connected, reply reader just emptied
    ReplyReader& reader;
    const RangeHeader& header;    // filled for this range and generation
    FileStream& file;
    uint32_t imageStart;
    FlashRange range;
    Generation generation;
    Descrambler& descrambler;
    // The bound on the replies that wait on the flash work ('S', "E ", the final "OK");
    // the other replies have the reader's own bound.
    std::chrono::milliseconds flashWorkTimeout = FLASH_WORK_TIMEOUT;
};

// "FLSH", header, 'S', the data blocks, "E ", "OK". On failure it has raised its code:
// STATUS_COMM_ERROR, STATUS_BAD_PASSWORD or STATUS_WRITE_ERROR by step, and
// STATUS_FILE_ERROR when the program file cannot be positioned at the range.
// The answer line to each block only has to arrive; its content is not examined.
bool RunRangeExchange(const RangeExchange& exchange, StatusRaiser& raiser);

}  // namespace quorsel
