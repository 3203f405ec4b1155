// The command-line grammar: program path, option token, connection and baud rate.
#include "job/command_line.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/serial_line.h"

namespace quorsel {
namespace {

// The option letters and, in the same order, the flag value each one ORs in.
constexpr std::string_view OPTION_LETTERS = "bepfzi";
constexpr uint16_t OPTION_VALUES[] = {0x0001, 0x0002, 0x000C, 0x0010, 0x0020, 0x4000};
static_assert(std::size(OPTION_VALUES) == OPTION_LETTERS.size());

constexpr uint16_t OPTION_REGION_0 = 0x0001;
constexpr uint16_t OPTION_REGIONS_1_TO_5 = 0x003E;

constexpr std::string_view EXE_EXTENSION = ".exe";
constexpr std::string_view BAUD_RATES[] = {"9600", "19200", "38400", "57600", "115200"};
constexpr uint32_t BAUD_RATE_VALUES[] = {9600, 19200, 38400, 57600, 115200};
static_assert(std::size(BAUD_RATES) == std::size(BAUD_RATE_VALUES));

constexpr size_t ADDRESS_PARTS = 4;
constexpr size_t ADDRESS_PART_DIGITS_MAX = 3;
constexpr unsigned ADDRESS_PART_VALUE_MAX = 255;

// Reads the text byte by byte; a position past the end reads as the terminator,
// and so does an embedded zero byte.
class ByteCursor {
public:
    explicit ByteCursor(std::string_view text) : text_(text) {}

    uint8_t Peek() const { return pos_ < text_.size() ? static_cast<uint8_t>(text_[pos_]) : 0; }
    void Advance() { ++pos_; }
    size_t Position() const { return pos_; }
    std::string_view Slice(size_t from, size_t to) const { return text_.substr(from, to - from); }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

bool IsTokenByte(uint8_t c) { return c >= 0x21 && c <= 0x7F; }
bool IsHighByte(uint8_t c) { return c >= 0x80; }

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// The program path at the start of the command line. Leaves the cursor where the
// token scan begins.
std::string_view TakeProgramPath(ByteCursor& cursor) {
    if (cursor.Peek() == '"') {
        cursor.Advance();
        const size_t start = cursor.Position();
        while (cursor.Peek() != 0 && cursor.Peek() != '"') cursor.Advance();
        const size_t end = cursor.Position();
        if (cursor.Peek() == '"') cursor.Advance();  // scanning goes on after the closing quote
        return cursor.Slice(start, end);
    }
    const size_t start = cursor.Position();
    while (cursor.Peek() > 0x20 && !IsHighByte(cursor.Peek())) cursor.Advance();
    return cursor.Slice(start, cursor.Position());
}

// The path the container is read from: a path that does not end in ".exe" (any
// case, with the dot after the first character) gets ".exe" appended.
std::string WithExeExtension(std::string_view path) {
    std::string result(path);
    const size_t dot = path.rfind('.');
    const bool keep = dot != std::string_view::npos && dot > 0 &&
                      EqualsIgnoringCase(path.substr(dot), EXE_EXTENSION);
    if (!keep) result += EXE_EXTENSION;
    return result;
}

enum class TokenScan { Ok, TooMany, TooLong };

bool IsDevicePath(std::string_view token) {
    return SerialDevicePathsAccepted() && token.substr(0, std::string_view(DEVICE_PATH_PREFIX).size()) == DEVICE_PATH_PREFIX;
}

// Splits the rest of the command line into tokens: maximal runs of 0x21..0x7F.
// Bytes 0x01..0x20 and 0x80..0xFF separate them; the scan ends at the terminator
// or at a byte 0x80..0xFF that follows the path or a token directly. On TooMany or
// TooLong, offending is the token that broke the limit.
TokenScan ScanTokens(ByteCursor& cursor, std::vector<std::string_view>& tokens, std::string_view& offending) {
    bool directlyAfter = true;  // the path (or the last token) ended right here
    for (;;) {
        const uint8_t c = cursor.Peek();
        if (c == 0) return TokenScan::Ok;
        if (IsHighByte(c) && directlyAfter) return TokenScan::Ok;
        if (!IsTokenByte(c)) {
            cursor.Advance();
            directlyAfter = false;
            continue;
        }
        const size_t start = cursor.Position();
        while (IsTokenByte(cursor.Peek())) cursor.Advance();
        const std::string_view token = cursor.Slice(start, cursor.Position());
        offending = token;
        if (tokens.size() == TOKEN_COUNT_MAX) return TokenScan::TooMany;
        const size_t limit = IsDevicePath(token) ? DEVICE_PATH_TOKEN_MAX : TOKEN_LENGTH_MAX;
        if (token.size() > limit) return TokenScan::TooLong;
        tokens.push_back(token);
        directlyAfter = true;
    }
}

}  // namespace

bool ApplyOptionToken(std::string_view token, uint16_t& optionFlags) {
    if (token.size() == 1) return false;  // a lone '-'
    uint16_t flags = 0;
    for (const char letter : token.substr(1)) {
        const size_t index = OPTION_LETTERS.find(letter);
        if (index == std::string_view::npos) return false;
        flags = static_cast<uint16_t>(flags | OPTION_VALUES[index]);
    }
    // Region 0 goes only over the serial line and only on its own.
    if ((flags & OPTION_REGION_0) != 0 && (flags & OPTION_REGIONS_1_TO_5) != 0) return false;
    // Skipping the model check alone keeps the default regions.
    if ((flags & OPTION_SKIP_MODEL_CHECK) != 0 && (flags & OPTION_REGION_MASK) == 0) {
        flags = static_cast<uint16_t>(flags | OPTION_DEFAULT_REGIONS);
    }
    optionFlags = flags;
    return true;
}

bool ApplySerialPortToken(std::string_view token, UpdateJob& job) {
    const std::string text(token);
    if (std::optional<uint32_t> number = ComPortNumber(text)) {
        if (*number <= COM_RADIO_COUNT) {
            job.comIndex = *number - 1;
            job.portName.clear();
        } else {
            job.portName = "COM" + std::to_string(*number);
        }
        return true;
    }
    if (IsDevicePath(token) && token.size() > std::string_view(DEVICE_PATH_PREFIX).size()) {
        job.portName = text;
        return true;
    }
    return false;
}

namespace {

// Sets problem, when asked for, to "<token>: <what>"; always COMMAND_LINE_INVALID.
int Invalid(std::string* problem, std::string_view token, std::string_view what) {
    if (problem != nullptr) *problem = std::string(token) + ": " + std::string(what);
    return COMMAND_LINE_INVALID;
}

// What is wrong with an option token that ApplyOptionToken refused.
std::string OptionProblem(std::string_view token) {
    if (token.size() == 1) return "no option letters after '-'";
    for (const char letter : token.substr(1)) {
        if (OPTION_LETTERS.find(letter) == std::string_view::npos) {
            return std::string("'") + letter + "' is not an option (letters: " + std::string(OPTION_LETTERS) + ")";
        }
    }
    return "b (region 0) cannot be combined with other regions";
}

// What is wrong with a connection token that is neither a port nor an address.
std::string ConnectionProblem(std::string_view token) {
    const bool portLike = (token.size() >= 3 && EqualsIgnoringCase(token.substr(0, 3), "com")) ||
                          (!token.empty() && token.front() == '/');
    return portLike ? SerialPortProblem() : "not an IPv4 address";
}

}  // namespace

std::string SerialPortProblem() {
    return SerialDevicePathsAccepted() ? "not a serial port (COM1 to COM256, or a device path beginning with /dev/)"
                                       : "not a serial port (COM1 to COM256)";
}

int ParseCommandLine(std::string_view commandLine, UpdateJob& job, std::string& programPath, std::string* problem) {
    ByteCursor cursor(commandLine);
    programPath = WithExeExtension(TakeProgramPath(cursor));
    if (programPath.size() > PROGRAM_PATH_MAX) {
        return Invalid(problem, "program path", "longer than " + std::to_string(PROGRAM_PATH_MAX) + " bytes");
    }

    std::vector<std::string_view> tokens;
    tokens.reserve(TOKEN_COUNT_MAX);
    std::string_view offending;
    switch (ScanTokens(cursor, tokens, offending)) {
        case TokenScan::Ok:
            break;
        case TokenScan::TooMany:
            return Invalid(problem, offending, "too many arguments");
        case TokenScan::TooLong:
            return Invalid(problem, offending, "longer than " + std::to_string(TOKEN_LENGTH_MAX) + " characters");
    }
    if (tokens.empty()) return COMMAND_LINE_ASK;

    // A first token without '-' is ignored but still counts.
    if (tokens[0].front() == '-' && !ApplyOptionToken(tokens[0], job.optionFlags)) {
        return Invalid(problem, tokens[0], OptionProblem(tokens[0]));
    }
    const bool regionZero = (job.optionFlags & OPTION_REGION_0) != 0;

    if (tokens.size() == 1) {
        if (!regionZero) return COMMAND_LINE_ASK;
        job.transport = TRANSPORT_SERIAL;
        return COMMAND_LINE_COMPLETE;
    }

    // The second token is the connection.
    const std::string_view connection = tokens[1];
    if (ApplySerialPortToken(connection, job)) {
        job.transport = TRANSPORT_SERIAL;
        if (tokens.size() > 3) return Invalid(problem, tokens[3], "too many arguments (port, then baud rate)");
        if (tokens.size() == 2) return COMMAND_LINE_COMPLETE;
        for (size_t i = 0; i < std::size(BAUD_RATES); ++i) {
            if (tokens[2] == BAUD_RATES[i]) {
                job.baudRate = BAUD_RATE_VALUES[i];
                return COMMAND_LINE_COMPLETE;
            }
        }
        std::string rates;
        for (const std::string_view rate : BAUD_RATES) rates += (rates.empty() ? "" : ", ") + std::string(rate);
        return Invalid(problem, tokens[2], "not a baud rate (" + rates + ")");
    }

    std::array<uint8_t, 4> address{};
    if (!ParseDottedAddress(connection, address)) return Invalid(problem, connection, ConnectionProblem(connection));
    // Text after a '.' that ends the fourth part can make an accepted address too
    // long for addressText; such a command line is refused rather than cut.
    if (connection.size() > ADDRESS_TEXT_MAX) {
        return Invalid(problem, connection, "longer than " + std::to_string(ADDRESS_TEXT_MAX) + " characters");
    }
    job.addressText = std::string(connection);
    job.transport = TRANSPORT_LAN;
    if (tokens.size() > 2) return Invalid(problem, tokens[2], "a LAN update takes no baud rate");
    if (regionZero) return Invalid(problem, tokens[0], "region 0 (b) is written only over the serial line");
    return COMMAND_LINE_COMPLETE;
}

bool ParseDottedAddress(std::string_view text, std::array<uint8_t, 4>& address) {
    ByteCursor cursor(text);
    std::array<uint8_t, 4> parts{};
    for (size_t part = 0; part < ADDRESS_PARTS; ++part) {
        unsigned value = 0;
        size_t digits = 0;
        for (;;) {
            const uint8_t c = cursor.Peek();
            if (c == '.') {
                cursor.Advance();
                break;
            }
            if (c == 0) {
                if (part + 1 < ADDRESS_PARTS) return false;  // fewer than four parts
                break;
            }
            if (c < '0' || c > '9') return false;
            if (++digits > ADDRESS_PART_DIGITS_MAX) return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
            cursor.Advance();
        }
        if (value > ADDRESS_PART_VALUE_MAX) return false;
        parts[part] = static_cast<uint8_t>(value);  // an empty part counts as 0
    }
    address = parts;
    return true;
}

}  // namespace quorsel
