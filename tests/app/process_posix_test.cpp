// The POSIX process helpers: the command-line text from main's arguments, and the
// running executable's own path.
#include "app/process_posix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "job/command_line.h"

namespace quorsel {
namespace {

TEST(CommandLineFromArguments, QuotesTheProgramAndJoinsTheArguments) {
    const char* const full[] = {"/usr/bin/updater", "-b", "com2", "9600", nullptr};
    EXPECT_EQ(CommandLineFromArguments(4, full), "\"/usr/bin/updater\" -b com2 9600");

    const char* const programOnly[] = {"./updater", nullptr};
    EXPECT_EQ(CommandLineFromArguments(1, programOnly), "\"./updater\"");

    const char* const emptyArgument[] = {"u", "", "-f", nullptr};
    EXPECT_EQ(CommandLineFromArguments(3, emptyArgument), "\"u\"  -f");
}

TEST(CommandLineFromArguments, WithoutArgumentsGivesAnEmptyQuotedPath) {
    const char* const none[] = {nullptr};
    EXPECT_EQ(CommandLineFromArguments(0, none), "\"\"");
    EXPECT_EQ(CommandLineFromArguments(0, nullptr), "\"\"");
}

// A program name with a double quote: the parser still finds the arguments, and
// the path comes back whole wherever the command-line form can hold it.
TEST(CommandLineFromArguments, ProgramNamesWithADoubleQuoteKeepTheArguments) {
    struct Case {
        const char* program;
        const char* path;  // as the parser gives it back
    };
    for (const Case& c : {Case{"/tmp/fw\"KRV001", "/tmp/fw\"KRV001.exe"}, Case{"fw\"x\".exe", "fw\"x\".exe"},
                          Case{"/tmp/my fw\"KRV001", "/tmp/my fwKRV001.exe"}, Case{"\"fw", "fw.exe"}}) {
        SCOPED_TRACE(c.program);
        const char* const argv[] = {c.program, "-f", "10.0.0.2", nullptr};
        UpdateJob job;
        std::string programPath;
        EXPECT_EQ(ParseCommandLine(CommandLineFromArguments(3, argv), job, programPath), COMMAND_LINE_COMPLETE);
        EXPECT_EQ(programPath, c.path);
        EXPECT_EQ(job.optionFlags, 0x0010);
        EXPECT_EQ(job.transport, TRANSPORT_LAN);
        EXPECT_EQ(job.addressText, "10.0.0.2");
    }
}

// A program path with spaces survives the trip through the parser as one path.
TEST(CommandLineFromArguments, ParsesBackIntoPathAndTokens) {
    const char* const argv[] = {"/opt/ap tools/updater.exe", "-z", "COM3", "38400", nullptr};
    UpdateJob job;
    std::string programPath;
    EXPECT_EQ(ParseCommandLine(CommandLineFromArguments(4, argv), job, programPath), COMMAND_LINE_COMPLETE);
    EXPECT_EQ(programPath, "/opt/ap tools/updater.exe");
    EXPECT_EQ(job.optionFlags, 0x0020);
    EXPECT_EQ(job.transport, TRANSPORT_SERIAL);
    EXPECT_EQ(job.comIndex, 2u);
    EXPECT_EQ(job.baudRate, 38400u);
}

TEST(RunningExecutablePath, NamesThisTestProgram) {
    const auto path = RunningExecutablePath();
    ASSERT_TRUE(path.has_value());
    EXPECT_TRUE(std::filesystem::path(*path).is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(*path, QUORSEL_BUILD_DIR "/app_tests"));
}

}  // namespace
}  // namespace quorsel
