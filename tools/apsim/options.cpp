#include "tools/apsim/options.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace quorsel::apsim {

namespace {

constexpr size_t MODEL_CODE_SIZE = 6;

bool ParseCount(std::string_view text, uint32_t max, uint32_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && value <= max;
}

bool IsPrintableAscii(std::string_view text) {
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

constexpr std::string_view VALUED_OPTIONS[] = {
    "--model",           "--generation",      "--password",     "--flash",       "--listen",
    "--port",            "--exit-after-ranges", "--max-connections", "--idle-timeout", "--silent-hold",
    "--silent-at",       "--close-at",        "--garbage-at",   "--close-after-blocks", "--line-end",
    "--loader-length",   "--wake-after",      "--boot-noise",   "--nak-blocks",  "--report",
    "--baud",            "--link",            "--erase-ms",     "--block-ms",
    "--restart-ms",
};

// Options that only the LAN service, or only the serial line, understands.
constexpr std::string_view LAN_ONLY_OPTIONS[] = {
    "--generation",  "--listen",      "--port",         "--max-connections", "--close-at",
    "--garbage-at",  "--close-after-blocks", "--answer-ip", "--split-replies", "--merge-replies",
    "--line-end",    "--erase-ms",    "--block-ms",    "--restart-ms",
};
constexpr std::string_view SERIAL_ONLY_OPTIONS[] = {
    "--loader-length", "--wake-after", "--boot-noise", "--nak-blocks", "--report", "--baud", "--link",
};

template <size_t N>
std::optional<std::string> FirstGiven(const std::vector<std::string>& given, const std::string_view (&names)[N]) {
    for (const std::string& name : given) {
        if (std::find(std::begin(names), std::end(names), name) != std::end(names)) return name;
    }
    return std::nullopt;
}

bool TakesValue(std::string_view name) {
    for (std::string_view option : VALUED_OPTIONS) {
        if (option == name) return true;
    }
    return false;
}

// Walks argv, handing out option names and their values.
class ArgCursor {
public:
    ArgCursor(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}
    bool AtEnd() const { return index_ >= argc_; }
    std::string_view Next() { return argv_[index_++]; }
    bool NextValue(std::string_view& value) {
        if (AtEnd()) return false;
        value = Next();
        return true;
    }

private:
    int argc_;
    const char* const* argv_;
    int index_ = 1;
};

}  // namespace

std::string UsageText() {
    return R"(Usage: quorsel-apsim [options]

A simulated wireless-LAN access point: serves the LAN update protocol on TCP,
one connection after the other, and writes every accepted range into a flash
image file (with --serial: plays its boot code and loader on a serial line).
It runs until SIGINT or SIGTERM, or until an exit option is met. On start it
prints the port it listens on (the serial device) as the first line on stdout;
every event is logged as one line on stderr.

Access point:
  --model CODE            model code reported to "INQR", six ASCII characters
                          (default KRV001)
  --generation DIGIT      protocol generation digit 0-9 (default 2); 2 and above
                          take a password digest and the stored (scrambled) bytes,
                          below 2 a 16-byte header and plain bytes
  --password TEXT         password the range header's digest must match, UTF-8,
                          at most 15 bytes in code page 932 (default empty)
  --flash FILE            flash image file, created or extended to the model's
                          flash size (2 MiB for KRV001 and MXD001, 4 MiB for the
                          others) and filled with 0xFF; without it ranges are
                          checked but not stored

Listening:
  --listen ADDRESS        IPv4 address to listen on (default 127.0.0.1)
  --port PORT             TCP port (default 9002); 0 picks a free port

Ending:
  --exit-after-ranges K   exit once K ranges have been stored
  --max-connections K     exit once K connections have been served
  --idle-timeout MS       give a connection up when the client sends nothing for
                          MS milliseconds (default 30000)
  --silent-hold MS        keep a connection that fell silent open at most MS
                          milliseconds, or until the client closes (default 600000)

Pace (as an access point's flash takes its time):
  --erase-ms MS           wait MS milliseconds before the "S" line of a range, as
                          an access point erasing its flash (default 0)
  --block-ms MS           wait MS milliseconds before answering each data block
                          (default 0)

Restart (as an access point that is power-cycled after its update):
  --restart-ms MS         once an update is complete (1 s after the last range
                          was stored, with no other range stored meanwhile), stop
                          listening for MS milliseconds (connects are refused),
                          then answer again as the same model

Faults (each usable alone; STEP is one of inquiry, flsh, header, start,
block:K (the answer to data block K, from 1), end, final):
  --silent-at STEP        send nothing at STEP and keep the connection open
  --close-at STEP         close the connection at STEP instead of answering
  --garbage-at STEP       answer a meaningless line at STEP, then carry on
  --close-after-blocks K  close the connection once K data blocks are answered
                          (0: right after "S")
  --answer-ip             reject every range header with "IP"
  --split-replies         send every reply byte in its own TCP segment
  --merge-replies         send the header's "OK" together with "S", and the last
                          block's "C " together with "E ", in one segment
  --line-end lf|crlf|nul  end reply lines with LF (default), CR LF or NUL

Serial line:
  --serial                play the access point's boot code and loader on a
                          pseudo-terminal instead of serving the LAN: the first
                          line on stdout is then the device to open (for
                          QUORSEL_COM1..4). Per range the updater opens the
                          device, sends "X" until "*" comes, uploads after "C"
                          in 1024-byte blocks and closes the device after the
                          loader's report ("E", "P", then "F"). Uses --model,
                          --password, --flash, --exit-after-ranges,
                          --idle-timeout, --silent-hold and --silent-at.
  --loader-length L       required with --serial: bytes of loader that come
                          before the range header in the upload (0 to 4096,
                          the loader packed with the updater)
  --wake-after N          answer "*" after the N-th "X" (default 3)
  --boot-noise TEXT       send TEXT before the "*" (at most 256 bytes)
  --baud RATE             take the time a line at RATE baud (1200 to 4000000)
                          would, 10 bits a byte, for every byte sent and
                          received (default: no pacing)
  --link PATH             also make PATH a symbolic link to the device; removed
                          on exit
  Faults:
  --silent-at STEP        STEP is one of wake (no "*"), c (no "C"), block:K (no
                          answer to block K, from 1), eot (no ACK of the end
                          mark), report (no letters); the line is held silent
                          until the updater closes it or --silent-hold passes
  --nak-blocks K,K...     answer NAK to the first transmission of these blocks
  --report B|I|N          end every range with this letter instead of the
                          verdict (B: password rejected, I: bad data, N: flash
                          write failed, after "E" and "P"); nothing is written
  The loader's own verdict: "B" for a password digest that does not match
  --password, "I" for a bad range header, an incomplete range or a checksum
  mismatch, "N" when the flash file cannot be written.

  --help                  show this text

Exit status: 0 after a stop signal or an exit option, 1 when the listening
socket, the pseudo-terminal or the flash file cannot be set up, 2 for a bad
command line.
)";
}

Result<Options, std::string> ParseOptions(int argc, const char* const* argv) {
    Options options;
    ArgCursor args(argc, argv);
    std::vector<std::string> given;      // every option name, for the checks after the loop
    std::optional<std::string> silentAt;  // parsed once the mode is known
    while (!args.AtEnd()) {
        const std::string name(args.Next());
        given.push_back(name);
        if (name == "--serial") {
            options.serial = true;
            continue;
        }
        if (name == "--help" || name == "-h") {
            options.showHelp = true;
            continue;
        }
        if (name == "--answer-ip") {
            options.faults.answerIp = true;
            continue;
        }
        if (name == "--split-replies") {
            options.faults.splitReplies = true;
            continue;
        }
        if (name == "--merge-replies") {
            options.faults.mergeReplies = true;
            continue;
        }

        if (!TakesValue(name)) return Fail("unknown option " + name + " (see --help)");
        std::string_view value;
        if (!args.NextValue(value)) return Fail("option " + name + " needs a value (see --help)");
        const std::string bad = "bad value for " + name + ": '" + std::string(value) + "'";
        uint32_t count = 0;

        if (name == "--model") {
            if (value.size() != MODEL_CODE_SIZE || !IsPrintableAscii(value)) {
                return Fail(bad + " (six ASCII characters)");
            }
            options.model = std::string(value);
        } else if (name == "--generation") {
            if (value.size() != 1 || value[0] < '0' || value[0] > '9') return Fail(bad + " (one digit)");
            options.generation = value[0];
        } else if (name == "--password") {
            options.password = std::string(value);
        } else if (name == "--flash") {
            if (value.empty()) return Fail(bad);
            options.flashPath = std::string(value);
        } else if (name == "--listen") {
            if (value.empty()) return Fail(bad);
            options.listenAddress = std::string(value);
        } else if (name == "--port") {
            if (!ParseCount(value, UINT16_MAX, count)) return Fail(bad + " (0 to 65535)");
            options.port = static_cast<uint16_t>(count);
        } else if (name == "--exit-after-ranges") {
            if (!ParseCount(value, COUNT_OPTION_MAX, count) || count == 0) return Fail(bad);
            options.exitAfterRanges = count;
        } else if (name == "--max-connections") {
            if (!ParseCount(value, COUNT_OPTION_MAX, count) || count == 0) return Fail(bad);
            options.maxConnections = count;
        } else if (name == "--idle-timeout") {
            if (!ParseCount(value, MILLISECONDS_OPTION_MAX, count) || count == 0) return Fail(bad);
            options.idleTimeout = std::chrono::milliseconds(count);
        } else if (name == "--silent-hold") {
            if (!ParseCount(value, MILLISECONDS_OPTION_MAX, count)) return Fail(bad);
            options.silentHold = std::chrono::milliseconds(count);
        } else if (name == "--erase-ms" || name == "--block-ms") {
            if (!ParseCount(value, MILLISECONDS_OPTION_MAX, count)) return Fail(bad);
            (name == "--erase-ms" ? options.erasePause : options.blockPause) = std::chrono::milliseconds(count);
        } else if (name == "--restart-ms") {
            if (!ParseCount(value, MILLISECONDS_OPTION_MAX, count) || count == 0) return Fail(bad);
            options.restartPause = std::chrono::milliseconds(count);
        } else if (name == "--silent-at") {
            silentAt = std::string(value);
        } else if (name == "--close-at" || name == "--garbage-at") {
            std::optional<StepPoint> step = ParseStep(value);
            if (!step) return Fail(bad + " (inquiry, flsh, header, start, block:K, end or final)");
            if (name == "--close-at") options.faults.closeAt = step;
            else options.faults.garbageAt = step;
        } else if (name == "--close-after-blocks") {
            if (!ParseCount(value, COUNT_OPTION_MAX, count)) return Fail(bad);
            options.faults.closeAfterBlocks = count;
        } else if (name == "--line-end") {
            std::optional<LineEnd> lineEnd = ParseLineEnd(value);
            if (!lineEnd) return Fail(bad + " (lf, crlf or nul)");
            options.lineEnd = *lineEnd;
        } else if (name == "--loader-length") {
            if (!ParseCount(value, LOADER_LENGTH_MAX, count)) return Fail(bad + " (0 to 4096)");
            options.serialOptions.loaderLength = count;
        } else if (name == "--wake-after") {
            if (!ParseCount(value, COUNT_OPTION_MAX, count) || count == 0) return Fail(bad);
            options.serialOptions.wakeAfter = count;
        } else if (name == "--boot-noise") {
            if (value.size() > BOOT_NOISE_MAX) return Fail(bad + " (at most 256 bytes)");
            options.serialOptions.bootNoise = std::string(value);
        } else if (name == "--nak-blocks") {
            std::optional<std::vector<uint32_t>> blocks = ParseBlockList(value);
            if (!blocks) return Fail(bad + " (block numbers from 1, separated by commas)");
            options.serialOptions.faults.nakBlocks = std::move(*blocks);
        } else if (name == "--report") {
            if (value.size() != 1 || REPORT_LETTERS.find(value[0]) == std::string_view::npos) {
                return Fail(bad + " (B, I or N)");
            }
            options.serialOptions.faults.report = value[0];
        } else if (name == "--baud") {
            if (!ParseCount(value, BAUD_MAX, count) || count < BAUD_MIN) return Fail(bad + " (1200 to 4000000)");
            options.serialOptions.baudRate = count;
        } else if (name == "--link") {
            if (value.empty()) return Fail(bad);
            options.serialOptions.linkPath = std::string(value);
        } else {
            return Fail("unknown option " + name + " (see --help)");
        }
    }

    if (options.serial) {
        if (std::optional<std::string> lanOnly = FirstGiven(given, LAN_ONLY_OPTIONS)) {
            return Fail(*lanOnly + " is an option of the LAN service, not of --serial");
        }
        if (std::find(given.begin(), given.end(), "--loader-length") == given.end()) {
            return Fail(std::string("--serial needs --loader-length (the length of the loader packed with the updater)"));
        }
    } else if (std::optional<std::string> serialOnly = FirstGiven(given, SERIAL_ONLY_OPTIONS)) {
        return Fail(*serialOnly + " needs --serial");
    }
    if (silentAt) {
        const std::string bad = "bad value for --silent-at: '" + *silentAt + "'";
        if (options.serial) {
            options.serialOptions.faults.silentAt = ParseSerialStep(*silentAt);
            if (!options.serialOptions.faults.silentAt) return Fail(bad + " (wake, c, block:K, eot or report)");
        } else {
            options.faults.silentAt = ParseStep(*silentAt);
            if (!options.faults.silentAt) return Fail(bad + " (inquiry, flsh, header, start, block:K, end or final)");
        }
    }
    return options;
}

}  // namespace quorsel::apsim
