// Command-line grammar: program path, option letters, connection, baud rate, limits.
#include "job/command_line.h"

#include "engine/serial_line.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quorsel {
namespace {

using namespace std::string_literals;

constexpr const char* QUOTED_PROGRAM = "\"C:\\tools\\updater.exe\"";
constexpr const char* PROGRAM_PATH = "C:\\tools\\updater.exe";

// What a parse should leave in the job, for results 0 and 1.
struct ExpectedJob {
    uint16_t optionFlags;
    uint32_t transport;
    uint32_t comIndex;
    uint32_t baudRate;
    std::string addressText;
    std::string portName = {};
};

struct Case {
    std::string arguments;  // the text after the quoted program path and one space
    int result;
    std::optional<ExpectedJob> job;  // checked for results 0 and 1
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << "arguments \"";
    for (const char ch : c.arguments) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7F) {
            static const char HEX[] = "0123456789abcdef";
            *os << "\\x" << HEX[byte >> 4] << HEX[byte & 0xF];
        } else {
            *os << ch;
        }
    }
    *os << "\"";
}

ExpectedJob Lan(uint16_t flags, std::string address = DEFAULT_ADDRESS_TEXT) {
    return {flags, TRANSPORT_LAN, 0, DEFAULT_BAUD_RATE, std::move(address)};
}

ExpectedJob Serial(uint16_t flags, uint32_t comIndex = 0, uint32_t baud = DEFAULT_BAUD_RATE) {
    return {flags, TRANSPORT_SERIAL, comIndex, baud, DEFAULT_ADDRESS_TEXT};
}

// A port other than COM1..COM4: the job names it, comIndex keeps its default.
ExpectedJob NamedPort(uint16_t flags, std::string name, uint32_t baud = DEFAULT_BAUD_RATE) {
    return {flags, TRANSPORT_SERIAL, 0, baud, DEFAULT_ADDRESS_TEXT, std::move(name)};
}

Case Valid(std::string arguments, int result, ExpectedJob job) {
    return {std::move(arguments), result, std::move(job)};
}

Case Invalid(std::string arguments) { return {std::move(arguments), COMMAND_LINE_INVALID, std::nullopt}; }

class CommandLineCase : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineCase, GivesResultAndJob) {
    const Case& c = GetParam();
    UpdateJob job;
    std::string programPath;
    const std::string commandLine = std::string(QUOTED_PROGRAM) + " " + c.arguments;
    EXPECT_EQ(ParseCommandLine(commandLine, job, programPath), c.result);
    EXPECT_EQ(programPath, PROGRAM_PATH);
    if (c.job) {
        EXPECT_EQ(job.optionFlags, c.job->optionFlags);
        EXPECT_EQ(job.transport, c.job->transport);
        EXPECT_EQ(job.comIndex, c.job->comIndex);
        EXPECT_EQ(job.baudRate, c.job->baudRate);
        EXPECT_EQ(job.addressText, c.job->addressText);
        EXPECT_EQ(job.portName, c.job->portName);
    }
}

INSTANTIATE_TEST_SUITE_P(NoArguments, CommandLineCase,
                         ::testing::Values(Valid("", COMMAND_LINE_ASK, Lan(0x0030)),
                                           Valid("   \t ", COMMAND_LINE_ASK, Lan(0x0030))));

INSTANTIATE_TEST_SUITE_P(
    OptionLetters, CommandLineCase,
    ::testing::Values(Valid("-e", COMMAND_LINE_ASK, Lan(0x0002)),
                      Valid("-p", COMMAND_LINE_ASK, Lan(0x000C)),
                      Valid("-f", COMMAND_LINE_ASK, Lan(0x0010)),
                      Valid("-z", COMMAND_LINE_ASK, Lan(0x0020)),
                      Valid("-epfz", COMMAND_LINE_ASK, Lan(0x003E)),
                      Valid("-zfpe", COMMAND_LINE_ASK, Lan(0x003E)),
                      Valid("-ff", COMMAND_LINE_ASK, Lan(0x0010)),
                      Valid("-pe", COMMAND_LINE_ASK, Lan(0x000E)),
                      // Skipping the model check alone keeps the default regions...
                      Valid("-i", COMMAND_LINE_ASK, Lan(0x4030)),
                      Valid("-ii", COMMAND_LINE_ASK, Lan(0x4030)),
                      // ...but any region letter replaces them.
                      Valid("-ie", COMMAND_LINE_ASK, Lan(0x4002)),
                      Valid("-zi", COMMAND_LINE_ASK, Lan(0x4020)),
                      Valid("-if", COMMAND_LINE_ASK, Lan(0x4010)),
                      Invalid("-"), Invalid("-x"), Invalid("-B"), Invalid("-E"), Invalid("--"),
                      Invalid("--f"), Invalid("-f-"), Invalid("-ex"), Invalid("-e1"),
                      Invalid("-\x7f"), Invalid("- com1"), Invalid("-x com1"),
                      Invalid("-x 10.0.0.2")));

INSTANTIATE_TEST_SUITE_P(
    RegionZero, CommandLineCase,
    ::testing::Values(Valid("-b", COMMAND_LINE_COMPLETE, Serial(0x0001)),
                      Valid("-bb", COMMAND_LINE_COMPLETE, Serial(0x0001)),
                      Valid("-bi", COMMAND_LINE_COMPLETE, Serial(0x4001)),
                      Valid("-ib", COMMAND_LINE_COMPLETE, Serial(0x4001)),
                      Valid("-b com2 9600", COMMAND_LINE_COMPLETE, Serial(0x0001, 1, 9600)),
                      Valid("-bi com2", COMMAND_LINE_COMPLETE, Serial(0x4001, 1)),
                      Valid("-b COM4", COMMAND_LINE_COMPLETE, Serial(0x0001, 3)),
                      Invalid("-be"), Invalid("-bz"), Invalid("-bp"), Invalid("-bf"), Invalid("-eb"),
                      Invalid("-bie"), Invalid("-be com1"), Invalid("-b 192.168.1.10"),
                      Invalid("-bi 10.0.0.2")));

INSTANTIATE_TEST_SUITE_P(
    SerialConnection, CommandLineCase,
    ::testing::Values(Valid("x com3", COMMAND_LINE_COMPLETE, Serial(0x0030, 2)),
                      Valid("-f com1", COMMAND_LINE_COMPLETE, Serial(0x0010, 0)),
                      Valid("-f com2", COMMAND_LINE_COMPLETE, Serial(0x0010, 1)),
                      Valid("-f com3", COMMAND_LINE_COMPLETE, Serial(0x0010, 2)),
                      Valid("-f com4", COMMAND_LINE_COMPLETE, Serial(0x0010, 3)),
                      Valid("-e COM1", COMMAND_LINE_COMPLETE, Serial(0x0002, 0)),
                      Valid("-e Com2", COMMAND_LINE_COMPLETE, Serial(0x0002, 1)),
                      Valid("-e cOm3", COMMAND_LINE_COMPLETE, Serial(0x0002, 2)),
                      Valid("-e coM4", COMMAND_LINE_COMPLETE, Serial(0x0002, 3)),
                      Valid("-i com1", COMMAND_LINE_COMPLETE, Serial(0x4030, 0)),
                      Valid("-z com4 9600", COMMAND_LINE_COMPLETE, Serial(0x0020, 3, 9600)),
                      Valid("-z com4 19200", COMMAND_LINE_COMPLETE, Serial(0x0020, 3, 19200)),
                      Valid("-z com4 38400", COMMAND_LINE_COMPLETE, Serial(0x0020, 3, 38400)),
                      Valid("-z com4 57600", COMMAND_LINE_COMPLETE, Serial(0x0020, 3, 57600)),
                      Valid("-z com4 115200", COMMAND_LINE_COMPLETE, Serial(0x0020, 3, 115200)),
                      Invalid("-f com0"), Invalid("-f com"),
                      Invalid("-f com1x"), Invalid("-f xcom1"), Invalid("-f com1 4800"),
                      Invalid("-f com1 09600"), Invalid("-f com1 230400"), Invalid("-f com1 115200x"),
                      Invalid("-f com1 9600.0"), Invalid("-f com1 com2")));

// COM5 to COM256 in any case are named ports; the number has no leading zero.
INSTANTIATE_TEST_SUITE_P(
    PortsBeyondCom4, CommandLineCase,
    ::testing::Values(Valid("-f com5", COMMAND_LINE_COMPLETE, NamedPort(0x0010, "COM5")),
                      Valid("-f COM12", COMMAND_LINE_COMPLETE, NamedPort(0x0010, "COM12")),
                      Valid("-b cOm256 9600", COMMAND_LINE_COMPLETE, NamedPort(0x0001, "COM256", 9600)),
                      Valid("x com10", COMMAND_LINE_COMPLETE, NamedPort(0x0030, "COM10")),
                      Invalid("-f com257"), Invalid("-f com1000"), Invalid("-f com05"),
                      Invalid("-f com5 4800"), Invalid("-f com7 9600 x")));

INSTANTIATE_TEST_SUITE_P(
    LanConnection, CommandLineCase,
    ::testing::Values(Valid("-f 10.0.0.2", COMMAND_LINE_COMPLETE, Lan(0x0010, "10.0.0.2")),
                      Valid("x 192.168.0.1", COMMAND_LINE_COMPLETE, Lan(0x0030, "192.168.0.1")),
                      Valid("-i 10.0.0.2", COMMAND_LINE_COMPLETE, Lan(0x4030, "10.0.0.2")),
                      Valid("-p 010.0.0.1", COMMAND_LINE_COMPLETE, Lan(0x000C, "010.0.0.1")),
                      Valid("-f ...", COMMAND_LINE_COMPLETE, Lan(0x0010, "...")),
                      Valid("-f 1.2.3.", COMMAND_LINE_COMPLETE, Lan(0x0010, "1.2.3.")),
                      Valid("-f 1.2.3.4.5", COMMAND_LINE_COMPLETE, Lan(0x0010, "1.2.3.4.5")),
                      // Fifteen characters fit the address text; sixteen do not.
                      Valid("-f 1.2.3.4.5678901", COMMAND_LINE_COMPLETE,
                            Lan(0x0010, "1.2.3.4.5678901")),
                      Valid("-f 255.255.255.255", COMMAND_LINE_COMPLETE,
                            Lan(0x0010, "255.255.255.255")),
                      Invalid("-f 1.2.3.4.56789012"), Invalid("-f 1.2.3.4.567890123"),
                      Invalid("-f 10.0.0.2 9600"), Invalid("-f 10.0.0.2 com1"), Invalid("-f 1.2.3"),
                      Invalid("-f 256.1.1.1"), Invalid("-f 1.2.3.4x"), Invalid("-f localhost")));

// Four or more tokens are always refused, whatever the second token is.
INSTANTIATE_TEST_SUITE_P(
    FourOrMoreTokens, CommandLineCase,
    ::testing::Values(Invalid("x y z w"), Invalid("-f com1 9600 x"), Invalid("-b com1 9600 9600"),
                      Invalid("-b com1 x y"), Invalid("-f 10.0.0.2 a b"), Invalid("-b -b -b -b"),
                      Invalid("-i com2 115200 -i"), Invalid("a b c d e f g h i j"),
                      Invalid("-f com1 9600 4 5 6 7 8 9 10 11"),
                      Invalid("-f com1 9600 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20")));

// Bytes 0x01..0x20 and 0x80..0xFF separate tokens; a byte 0x80..0xFF directly
// after a token (or the path) ends the scan; so does a zero byte.
INSTANTIATE_TEST_SUITE_P(
    Separators, CommandLineCase,
    ::testing::Values(Valid("\t-b\x01" "com2  \x1f" "9600", COMMAND_LINE_COMPLETE, Serial(0x0001, 1, 9600)),
                      Valid("-b \x80" "com2", COMMAND_LINE_COMPLETE, Serial(0x0001, 1)),
                      Valid("-b \x80\xff\x81 com3 \xfe" "57600", COMMAND_LINE_COMPLETE,
                            Serial(0x0001, 2, 57600)),
                      Valid("-b\x80" "com2", COMMAND_LINE_COMPLETE, Serial(0x0001, 0)),
                      Valid("-b com2\xff" "9600", COMMAND_LINE_COMPLETE, Serial(0x0001, 1)),
                      Valid("-f\x80 10.0.0.2", COMMAND_LINE_ASK, Lan(0x0010)),
                      Valid("-b\0 com2"s, COMMAND_LINE_COMPLETE, Serial(0x0001, 0)),
                      Valid("-b com2\0 9600"s, COMMAND_LINE_COMPLETE, Serial(0x0001, 1)),
                      Valid("\0-b"s, COMMAND_LINE_ASK, Lan(0x0030)),
                      // 0x7F belongs to a token: "x\x7f" is an ignored first token.
                      Valid("x\x7f com1", COMMAND_LINE_COMPLETE, Serial(0x0030, 0)),
                      Invalid("-f com1\x7f"), Invalid("-f\x7f")));

// Tokens longer than 19 bytes are refused, wherever they stand.
INSTANTIATE_TEST_SUITE_P(
    TokenLength, CommandLineCase,
    ::testing::Values(Valid("-" + std::string(18, 'f'), COMMAND_LINE_ASK, Lan(0x0010)),
                      Invalid("-" + std::string(19, 'f')),
                      Valid(std::string(19, 'x') + " com1", COMMAND_LINE_COMPLETE, Serial(0x0030)),
                      Invalid(std::string(20, 'x') + " com1"),
                      Invalid("-f com1 " + std::string(20, '9')),
                      Invalid("-f 1.2.3.4.5678901234567")));

// A device path names the port where the platform has them; longer than other
// tokens may be. Elsewhere it is no connection at all.
TEST(CommandLineDevicePath, TakenWhereThePlatformHasDevicePaths) {
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    for (const std::string& path : {std::string("/dev/ttyUSB0"), byId}) {
        UpdateJob job;
        std::string programPath;
        const int result = ParseCommandLine(std::string(QUOTED_PROGRAM) + " -f " + path + " 57600", job, programPath);
        if (!SerialDevicePathsAccepted()) {
            EXPECT_EQ(result, COMMAND_LINE_INVALID) << path;
            continue;
        }
        EXPECT_EQ(result, COMMAND_LINE_COMPLETE) << path;
        EXPECT_EQ(job.transport, TRANSPORT_SERIAL);
        EXPECT_EQ(job.portName, path);
        EXPECT_EQ(job.baudRate, 57600u);
    }
    for (const char* refused : {"/dev/", "/tmp/ttyUSB0", "dev/ttyUSB0"}) {
        UpdateJob job;
        std::string programPath;
        EXPECT_EQ(ParseCommandLine(std::string(QUOTED_PROGRAM) + " -f " + refused, job, programPath),
                  COMMAND_LINE_INVALID)
            << refused;
    }
}

// The line after "引数の指定が間違っています": the token, then what is wrong with it.
TEST(CommandLineProblem, NamesTheTokenAndWhatIsWrong) {
    const std::pair<const char*, std::string> cases[] = {
        {"-f 999.1.1.1", "999.1.1.1: not an IPv4 address"},
        {"-f com257", "com257: " + SerialPortProblem()},
        {"-x", "-x: 'x' is not an option (letters: bepfzi)"},
        {"-be com1", "-be: b (region 0) cannot be combined with other regions"},
        {"-f com7 4800", "4800: not a baud rate (9600, 19200, 38400, 57600, 115200)"},
        {"-f 10.0.0.2 9600", "9600: a LAN update takes no baud rate"},
        {"-b 10.0.0.2", "-b: region 0 (b) is written only over the serial line"},
        {"-f com1 9600 x", "x: too many arguments (port, then baud rate)"},
        {"-f 1.2.3.4.56789012", "1.2.3.4.56789012: longer than 15 characters"},
    };
    for (const auto& [arguments, problem] : cases) {
        UpdateJob job;
        std::string programPath;
        std::string said;
        EXPECT_EQ(ParseCommandLine(std::string(QUOTED_PROGRAM) + " " + arguments, job, programPath, &said),
                  COMMAND_LINE_INVALID)
            << arguments;
        EXPECT_EQ(said, problem) << arguments;
    }
}

// The program path: quoted or not, and the ".exe" rule.
struct PathCase {
    std::string commandLine;
    std::string programPath;
    int result;
};

class ProgramPathCase : public ::testing::TestWithParam<PathCase> {};

TEST_P(ProgramPathCase, GivesPathAndResult) {
    const PathCase& c = GetParam();
    UpdateJob job;
    std::string programPath = "left over";
    EXPECT_EQ(ParseCommandLine(c.commandLine, job, programPath), c.result);
    EXPECT_EQ(programPath, c.programPath);
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, ProgramPathCase,
    ::testing::Values(
        PathCase{"\"C:\\Program Files\\Quorsel\\updater.exe\" -b", "C:\\Program Files\\Quorsel\\updater.exe",
                 COMMAND_LINE_COMPLETE},
        PathCase{"\"C:\\Program Files\\updater\"", "C:\\Program Files\\updater.exe", COMMAND_LINE_ASK},
        // A token may follow the closing quote directly.
        PathCase{"\"prog.exe\"-b", "prog.exe", COMMAND_LINE_COMPLETE},
        // Without a closing quote the path runs to the end: no tokens remain.
        PathCase{"\"C:\\up date -b", "C:\\up date -b.exe", COMMAND_LINE_ASK},
        PathCase{"\"\" -b", ".exe", COMMAND_LINE_COMPLETE},
        PathCase{"", ".exe", COMMAND_LINE_ASK},
        PathCase{"\"", ".exe", COMMAND_LINE_ASK},
        PathCase{"C:\\tools\\updater.exe -b", "C:\\tools\\updater.exe", COMMAND_LINE_COMPLETE},
        PathCase{"C:\\tools\\updater.exe\t-b", "C:\\tools\\updater.exe", COMMAND_LINE_COMPLETE},
        // An unquoted path ends at the first space; the rest is tokens.
        PathCase{"C:\\Program Files\\updater.exe", "C:\\Program.exe", COMMAND_LINE_ASK},
        PathCase{"C:\\Program Files\\updater.exe com1", "C:\\Program.exe", COMMAND_LINE_COMPLETE},
        // Bytes 0x80..0xFF stay in a quoted path...
        PathCase{"\"C:\\\x83\x5c\\up.exe\" -b", "C:\\\x83\x5c\\up.exe", COMMAND_LINE_COMPLETE},
        // ...but end an unquoted one, and the scan with it.
        PathCase{"C:\\\x83up.exe -b", "C:\\.exe", COMMAND_LINE_ASK},
        PathCase{"\"prog.exe\"\x80 -b", "prog.exe", COMMAND_LINE_ASK},
        PathCase{"\"prog.exe\" \x80-b", "prog.exe", COMMAND_LINE_COMPLETE},
        PathCase{"\"prog\0.exe\" -b"s, "prog.exe", COMMAND_LINE_ASK},
        // The path is written even when the arguments are invalid.
        PathCase{"\"C:\\tools\\updater\" -x", "C:\\tools\\updater.exe", COMMAND_LINE_INVALID}));

INSTANTIATE_TEST_SUITE_P(
    ExeExtension, ProgramPathCase,
    ::testing::Values(PathCase{"C:\\tools\\updater", "C:\\tools\\updater.exe", COMMAND_LINE_ASK},
                      PathCase{"updater", "updater.exe", COMMAND_LINE_ASK},
                      PathCase{"a.b\\updater", "a.b\\updater.exe", COMMAND_LINE_ASK},
                      PathCase{"UPDATER.EXE", "UPDATER.EXE", COMMAND_LINE_ASK},
                      PathCase{"updater.Exe", "updater.Exe", COMMAND_LINE_ASK},
                      PathCase{"e.exe", "e.exe", COMMAND_LINE_ASK},
                      PathCase{"x.exe.bak", "x.exe.bak.exe", COMMAND_LINE_ASK},
                      PathCase{"updater.ex", "updater.ex.exe", COMMAND_LINE_ASK},
                      PathCase{"updater.exee", "updater.exee.exe", COMMAND_LINE_ASK},
                      PathCase{"updater.", "updater..exe", COMMAND_LINE_ASK},
                      // The dot must stand after the first character.
                      PathCase{".exe", ".exe.exe", COMMAND_LINE_ASK},
                      PathCase{".EXE", ".EXE.exe", COMMAND_LINE_ASK},
                      PathCase{"\"C:\\a.exe\\b\"", "C:\\a.exe\\b.exe", COMMAND_LINE_ASK}));

// programPath holds at most 1024 bytes with the ".exe" appended.
INSTANTIATE_TEST_SUITE_P(
    PathLength, ProgramPathCase,
    ::testing::Values(
        PathCase{"\"" + std::string(1020, 'p') + "\" -b", std::string(1020, 'p') + ".exe",
                 COMMAND_LINE_COMPLETE},
        PathCase{"\"" + std::string(1021, 'p') + "\" -b", std::string(1021, 'p') + ".exe",
                 COMMAND_LINE_INVALID},
        PathCase{std::string(1020, 'p') + ".exe -b", std::string(1020, 'p') + ".exe",
                 COMMAND_LINE_COMPLETE},
        PathCase{std::string(1021, 'p') + ".exe -b", std::string(1021, 'p') + ".exe",
                 COMMAND_LINE_INVALID},
        PathCase{std::string(100000, 'p'), std::string(100000, 'p') + ".exe", COMMAND_LINE_INVALID}));

// A parse writes only the fields its tokens name; the rest of the job stays as it was.
TEST(ParseCommandLine, LeavesUnnamedFieldsAlone) {
    UpdateJob job;
    job.tcpPort = {0x12, 0x34};
    job.address = {9, 8, 7, 6};
    job.addressText = "10.9.8.7";
    job.comIndex = 2;
    job.baudRate = 19200;
    std::string programPath;
    EXPECT_EQ(ParseCommandLine("prog -f com2", job, programPath), COMMAND_LINE_COMPLETE);
    EXPECT_EQ(job.addressText, "10.9.8.7");
    EXPECT_EQ(job.baudRate, 19200u);
    EXPECT_EQ(job.comIndex, 1u);
    EXPECT_EQ(job.tcpPort, (std::array<uint8_t, 2>{0x12, 0x34}));
    EXPECT_EQ(job.address, (std::array<uint8_t, 4>{9, 8, 7, 6}));

    EXPECT_EQ(ParseCommandLine("prog x 10.0.0.3", job, programPath), COMMAND_LINE_COMPLETE);
    EXPECT_EQ(job.addressText, "10.0.0.3");
    EXPECT_EQ(job.transport, TRANSPORT_LAN);
    EXPECT_EQ(job.optionFlags, 0x0010);  // a first token without '-' keeps the flags as they were
    EXPECT_EQ(job.comIndex, 1u);
    EXPECT_EQ(job.address, (std::array<uint8_t, 4>{9, 8, 7, 6}));  // start-up parses the text later
}

struct AddressCase {
    std::string text;
    std::optional<std::array<uint8_t, 4>> address;  // nullopt: rejected
};

class DottedAddressCase : public ::testing::TestWithParam<AddressCase> {};

TEST_P(DottedAddressCase, ParsesOrRejects) {
    const AddressCase& c = GetParam();
    const std::array<uint8_t, 4> untouched{0xAA, 0xBB, 0xCC, 0xDD};
    std::array<uint8_t, 4> address = untouched;
    const bool ok = ParseDottedAddress(c.text, address);
    ASSERT_EQ(ok, c.address.has_value());
    if (ok) {
        EXPECT_EQ(address, *c.address);
    } else {
        EXPECT_EQ(address, untouched);
    }
}

using A4 = std::array<uint8_t, 4>;

INSTANTIATE_TEST_SUITE_P(
    Accepted, DottedAddressCase,
    ::testing::Values(AddressCase{"192.168.1.254", A4{192, 168, 1, 254}},
                      AddressCase{"010.0.0.1", A4{10, 0, 0, 1}},
                      AddressCase{"000.000.000.000", A4{0, 0, 0, 0}},
                      AddressCase{"255.255.255.255", A4{255, 255, 255, 255}},
                      AddressCase{"1.2.3.4.", A4{1, 2, 3, 4}},
                      AddressCase{"1.2.3.4.5", A4{1, 2, 3, 4}},
                      // Nothing after the '.' that ends the fourth part is examined.
                      AddressCase{"1.2.3.4.x", A4{1, 2, 3, 4}},
                      AddressCase{"1.2.3.4.9999.999", A4{1, 2, 3, 4}},
                      AddressCase{"1.2.3.", A4{1, 2, 3, 0}},
                      AddressCase{"...", A4{0, 0, 0, 0}},
                      AddressCase{"1..3.4", A4{1, 0, 3, 4}},
                      AddressCase{".2.3.4", A4{0, 2, 3, 4}},
                      AddressCase{"1.2.3.4\0garbage"s, A4{1, 2, 3, 4}}));

INSTANTIATE_TEST_SUITE_P(
    Rejected, DottedAddressCase,
    ::testing::Values(AddressCase{"1.2.3", std::nullopt}, AddressCase{"1.2.3.4x", std::nullopt},
                      AddressCase{"1234.1.1.1", std::nullopt}, AddressCase{"256.1.1.1", std::nullopt},
                      AddressCase{"", std::nullopt}, AddressCase{"1.2.3.256", std::nullopt},
                      AddressCase{"1.2.3.999", std::nullopt}, AddressCase{"1.2.3.0255", std::nullopt},
                      AddressCase{"0001.2.3.4", std::nullopt}, AddressCase{"1.2.3.4 ", std::nullopt},
                      AddressCase{" 1.2.3.4", std::nullopt}, AddressCase{"-1.2.3.4", std::nullopt},
                      AddressCase{"+1.2.3.4", std::nullopt}, AddressCase{"a.b.c.d", std::nullopt},
                      AddressCase{"1,2,3,4", std::nullopt}, AddressCase{"..", std::nullopt},
                      AddressCase{"1.2", std::nullopt}, AddressCase{"1.2\0.3.4"s, std::nullopt},
                      AddressCase{"1.2.3.\xb4", std::nullopt}));

}  // namespace
}  // namespace quorsel
