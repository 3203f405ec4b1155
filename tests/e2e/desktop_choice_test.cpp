// How the updater chooses its front-end: quorsel links no Qt; it completes a LAN
// update through the terminal on a machine without Qt, with a display variable that
// names no server, and without its desktop module; on the offscreen platform it
// loads the module.
#include <gtest/gtest.h>

#include "res/texts.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace quorsel::testing {
namespace {

// The terminal's lines after the invalid-arguments line for "-x".
const std::string INVALID_X_LINES = std::string("-x: 'x' is not an option (letters: bepfzi)\n") + TEXT_USAGE + "\n";

constexpr uint32_t MIB2 = 0x200000;
constexpr uint32_t REGION_4_START = 0xB000;  // 2 MiB layout
constexpr uint32_t REGION_4_LENGTH = 0xD000;
constexpr const char* MODULE = "quorsel-desktop.so";
constexpr const char* TERMINAL_SUFFIX = ": using the terminal";

#ifdef QUORSEL_HAVE_DESKTOP_MODULE
constexpr bool HAVE_DESKTOP_MODULE = true;
#else
constexpr bool HAVE_DESKTOP_MODULE = false;
#endif
#define SKIP_WITHOUT_DESKTOP_MODULE() \
    if (!HAVE_DESKTOP_MODULE) GTEST_SKIP() << "built without Qt: no desktop module"

std::string Script(const std::string& name) { return ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/" + name); }

// The private mount namespace: X sockets' folder and the installed library folder
// emptied, and with hideQt every Qt library.
std::string PrivateMounts(bool hideQt) {
    return Script("run_private_mounts.sh") + (hideQt ? " --hide-qt" : "") + " --hide-dir " +
           ShellQuote(QUORSEL_LIBDIR) + " -- ";
}

class DesktopChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = SampleImage(MIB2, "KRV001");
        updater_ = PackUpdater(dir_, std::vector<uint8_t>(300, 0x5A), image_, "quorsel-KRV001");
        ASSERT_FALSE(updater_.empty()) << "quorsel-pack failed";
    }

    // An old-generation access point (no password) takes region 4 over the LAN.
    UpdateOutcome Update(bool hideQt, const std::string& env) {
        std::remove(dir_.File("flash.bin").c_str());
        std::string script = PrivateMounts(hideQt) + Script("run_in_netns.sh") + " " + ShellQuote(dir_.path()) + " " +
                             ShellQuote(BuildPath("quorsel-apsim")) + " --flash " +
                             ShellQuote(dir_.File("flash.bin")) + " --model KRV001 --generation 1 -- env " + env +
                             " " + ShellQuote(updater_) + " -f 192.168.1.254";
        CommandResult result = RunShell(script);
        UpdateOutcome outcome;
        outcome.out = result.out;
        outcome.err = result.err;
        std::vector<uint8_t> rc = ReadFile(dir_.File("updater.rc"));
        outcome.exitStatus = rc.empty() ? -1 : std::stoi(std::string(rc.begin(), rc.end()));
        std::remove(dir_.File("updater.rc").c_str());
        return outcome;
    }

    // A desktop session's runtime folder, private to the user as a session manager
    // makes it (a login shell, su or cron has none, and Qt would say so on stderr).
    std::string DesktopSession() {
        const std::filesystem::path runtime = dir_.File("runtime");
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        return "XDG_RUNTIME_DIR=" + ShellQuote(runtime.string());
    }

    void ExpectRegion4Written() {
        std::vector<uint8_t> flash = ReadFile(dir_.File("flash.bin"));
        ASSERT_EQ(flash.size(), MIB2);
        EXPECT_TRUE(std::equal(image_.begin() + REGION_4_START, image_.begin() + REGION_4_START + REGION_4_LENGTH,
                               flash.begin() + REGION_4_START));
    }

    TempDir dir_;
    std::vector<uint8_t> image_;
    std::string updater_;
};

TEST(UpdaterBinaryTest, LinksNoQtLibrary) {
    CommandResult dynamic = RunShell("readelf -d " + ShellQuote(BuildPath("quorsel")));
    ASSERT_EQ(dynamic.exitStatus, 0) << dynamic.err;
    EXPECT_NE(dynamic.out.find("(NEEDED)"), std::string::npos) << dynamic.out;
    EXPECT_EQ(dynamic.out.find("Qt"), std::string::npos) << dynamic.out;
}

TEST_F(DesktopChoiceTest, WithoutQtTheTerminalCompletesTheUpdate) {
    SKIP_WITHOUT_DESKTOP_MODULE();
    // The hiding works: a program that links Qt cannot start in there.
    CommandResult qtProgram = RunShell(PrivateMounts(true) + ShellQuote(BuildPath("quorsel-screenshots")) + " " +
                                       ShellQuote(dir_.File("shots")));
    EXPECT_EQ(qtProgram.exitStatus, 127) << qtProgram.err;

    UpdateOutcome plain = Update(true, "-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM");
    EXPECT_EQ(plain.exitStatus, 0) << plain.out << plain.err;
    EXPECT_EQ(plain.err, "") << "a session without a display needs no explanation";
    ExpectRegion4Written();

    // With a display, the module beside the firmware file is tried and cannot load
    // its Qt libraries: the terminal takes over and says why.
    ASSERT_EQ(RunShell("cp " + ShellQuote(BuildPath(MODULE)) + " " + ShellQuote(dir_.path())).exitStatus, 0);
    UpdateOutcome withDisplay = Update(true, "-u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(withDisplay.exitStatus, 0) << withDisplay.out << withDisplay.err;
    const std::string line = "quorsel: desktop module " + dir_.File(MODULE) + " cannot be loaded (";
    EXPECT_EQ(withDisplay.err.rfind(line, 0), 0u) << withDisplay.err;
    EXPECT_NE(withDisplay.err.find(std::string(")") + TERMINAL_SUFFIX + "\n"), std::string::npos) << withDisplay.err;
    ExpectRegion4Written();
}

TEST_F(DesktopChoiceTest, DisplaysWithoutServerFallBackToTheTerminalWithTheReason) {
    // Even with a module beside the firmware file, the display decides first.
    if (HAVE_DESKTOP_MODULE) {
        ASSERT_EQ(RunShell("cp " + ShellQuote(BuildPath(MODULE)) + " " + ShellQuote(dir_.path())).exitStatus, 0);
    }
    UpdateOutcome x = Update(false, "-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:99");
    EXPECT_EQ(x.exitStatus, 0) << x.out << x.err;
    EXPECT_EQ(x.err, "quorsel: no usable display (DISPLAY=:99): using the terminal\n");
    ExpectRegion4Written();

    // A Wayland socket that is not there, and an X platform asked for by name.
    UpdateOutcome both = Update(false, "XDG_RUNTIME_DIR=" + ShellQuote(dir_.path()) +
                                           " DISPLAY=:99 WAYLAND_DISPLAY=wayland-9 QT_QPA_PLATFORM=xcb");
    EXPECT_EQ(both.exitStatus, 0) << both.out << both.err;
    EXPECT_EQ(both.err,
              "quorsel: no usable display (DISPLAY=:99, WAYLAND_DISPLAY=wayland-9, QT_QPA_PLATFORM=xcb): "
              "using the terminal\n");
}

// A shell script that starts the bare updater of the build tree with no arguments and
// the environment given: on the desktop it opens the settings dialog and waits. It
// prints "loaded" once the process maps the module and Qt (60 s at most), then ends it.
std::string WatchForTheModule(const std::string& env, const std::string& errFile) {
    return "env " + env + " setsid " + ShellQuote(BuildPath("quorsel")) + " </dev/null >/dev/null 2>" +
           ShellQuote(errFile) + " & pid=$!\n"
           "for _ in $(seq 1200); do\n"
           "  if grep -q '/" + MODULE + "$' /proc/$pid/maps && grep -q libQt6Widgets /proc/$pid/maps; then\n"
           "    echo loaded; break\n"
           "  fi\n"
           "  kill -0 $pid 2>/dev/null || break\n"
           "  sleep 0.05\n"
           "done\n"
           "kill $pid 2>/dev/null; wait $pid 2>/dev/null; exit 0\n";
}

TEST_F(DesktopChoiceTest, OffscreenLoadsTheModuleAndWithoutItTheTerminalIsUsed) {
    SKIP_WITHOUT_DESKTOP_MODULE();
    const std::string watch =
        WatchForTheModule("-u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen " + DesktopSession(),
                          dir_.File("desktop.err"));
    CommandResult desktop = RunShell(PrivateMounts(false) + "bash -c " + ShellQuote(watch));
    EXPECT_EQ(desktop.out, "loaded\n") << desktop.err;
    std::vector<uint8_t> err = ReadFile(dir_.File("desktop.err"));
    EXPECT_EQ(std::string(err.begin(), err.end()).find(TERMINAL_SUFFIX), std::string::npos);

    // The firmware file alone (no module beside it, none installed): the terminal
    // front-end answers the invalid arguments.
    CommandResult alone = RunShell(PrivateMounts(false) + "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen " +
                                   ShellQuote(updater_) + " -x </dev/null");
    EXPECT_EQ(alone.exitStatus, 2) << alone.out << alone.err;
    EXPECT_EQ(alone.err, std::string("quorsel: desktop module ") + MODULE + " not found in " + dir_.path() + " or " +
                             QUORSEL_LIBDIR + TERMINAL_SUFFIX + "\n引数の指定が間違っています\n" + INVALID_X_LINES);
}

// Modules quorsel must not run: one of another interface version (without the
// entry, or refusing the services), and one that other users could have changed.
TEST_F(DesktopChoiceTest, ForeignOrUnsafeModulesAreRefusedForTheTerminal) {
    SKIP_WITHOUT_DESKTOP_MODULE();
    const std::string updater = dir_.File("quorsel");
    const std::string module = dir_.File(MODULE);
    ASSERT_EQ(RunShell("cp " + ShellQuote(BuildPath("quorsel")) + " " + ShellQuote(updater)).exitStatus, 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {BuildPath("foreign-modules/later/") + MODULE,
         "has no entry quorsel_desktop_run_v2 (built for another version of quorsel)"},
        {BuildPath("foreign-modules/refusing/") + MODULE, "does not take this updater's services (interface 3)"},
        {BuildPath(MODULE), "may be written by other users"},
    };
    for (const auto& [source, reason] : cases) {
        SCOPED_TRACE(source);
        std::string copy = "cp " + ShellQuote(source) + " " + ShellQuote(module) + " && chmod 0644 " + ShellQuote(module);
        if (source == BuildPath(MODULE)) copy += " && chmod g+w " + ShellQuote(module);
        ASSERT_EQ(RunShell(copy).exitStatus, 0);
        CommandResult run = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen " +
                                     ShellQuote(updater) + " -x </dev/null");
        EXPECT_EQ(run.exitStatus, 2) << run.err;
        EXPECT_EQ(run.err, "quorsel: desktop module " + module + " " + reason + TERMINAL_SUFFIX +
                               "\n引数の指定が間違っています\n" + INVALID_X_LINES);
    }
}

// A real X server (Xvfb in a network namespace of its own, listening only on its
// abstract socket there, no lock file) is found through DISPLAY alone.
TEST_F(DesktopChoiceTest, AnXServerThatAnswersGetsTheDesktop) {
    SKIP_WITHOUT_DESKTOP_MODULE();
    const std::string script =
        "Xvfb :7 -nolisten tcp -nolisten unix -nolock -screen 0 800x600x24 2>/dev/null & server=$!\n"
        "for _ in $(seq 200); do grep -q '@/tmp/.X11-unix/X7$' /proc/net/unix && break; sleep 0.05; done\n" +
        WatchForTheModule("-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:7 " + DesktopSession(),
                          dir_.File("desktop.err"));
    // The watcher's exit ends the script: the server is stopped by the trap.
    CommandResult desktop = RunShell(PrivateMounts(false) + "unshare --net bash -c " +
                                     ShellQuote("trap 'kill $server 2>/dev/null' EXIT\n" + script));
    EXPECT_EQ(desktop.out, "loaded\n") << desktop.err;
    std::vector<uint8_t> err = ReadFile(dir_.File("desktop.err"));
    EXPECT_EQ(std::string(err.begin(), err.end()), "");
}

}  // namespace
}  // namespace quorsel::testing
