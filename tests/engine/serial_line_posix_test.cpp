// The termios serial line against pseudo-terminals: the test holds the master
// side and plays the access point; the line opens the slave side as a COM port.
#include "engine/serial_line_posix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A pseudo-terminal pair; the slave's path is published as COM2.
class PtyTest : public ::testing::Test {
protected:
    static constexpr uint32_t PORT = 1;  // COM2

    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        char name[128];
        ASSERT_EQ(::ptsname_r(master_, name, sizeof name), 0);
        slavePath_ = name;
        env_.emplace("QUORSEL_COM2", slavePath_);
    }

    void TearDown() override { CloseMaster(); }

    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    std::unique_ptr<SerialLine> OpenLine(uint32_t baud = 115200) {
        auto opened = ports_.Open(PORT, baud);
        if (!opened) {
            ADD_FAILURE() << "open failed: " << static_cast<int>(opened.error());
            return nullptr;
        }
        return std::move(opened.value());
    }

    void MasterWrite(const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
            ASSERT_GT(n, 0);
            sent += static_cast<size_t>(n);
        }
    }

    // Reads up to n bytes from the master, waiting at most limit for each.
    std::vector<uint8_t> MasterRead(size_t n, std::chrono::milliseconds limit = 2000ms) {
        std::vector<uint8_t> bytes;
        while (bytes.size() < n) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(limit.count())) <= 0) break;
            uint8_t buffer[4096];
            ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, n - bytes.size()));
            if (got <= 0) break;
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    termios SlaveSettings() {
        termios settings{};
        EXPECT_EQ(::tcgetattr(master_, &settings), 0);  // the master reports the slave's settings
        return settings;
    }

    int master_ = -1;
    std::string slavePath_;
    std::optional<ScopedEnv> env_;
    PosixSerialPorts ports_;
};

std::vector<uint8_t> AllByteValues() {
    std::vector<uint8_t> bytes;
    for (int v = 0; v < 256; ++v) bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

TEST_F(PtyTest, OpensInRaw8N1WithoutFlowControlAtTheGivenSpeed) {
    auto line = OpenLine(9600);
    ASSERT_NE(line, nullptr);
    termios settings = SlaveSettings();
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(settings.c_cflag & CLOCAL, 0u);
    EXPECT_NE(settings.c_cflag & CREAD, 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&settings), static_cast<speed_t>(B9600));
}

TEST_F(PtyTest, EveryByteValuePassesUnchangedInBothDirections) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    const std::vector<uint8_t> all = AllByteValues();  // NUL, XON 0x11, XOFF 0x13, CR, DEL, 0x80..0xFF ...

    // Line to access point: one write of everything, then single bytes.
    ASSERT_TRUE(line->WriteBytes(all.data(), all.size()));
    for (uint8_t b : {uint8_t{0x11}, uint8_t{0x13}, uint8_t{0x00}, uint8_t{0xFF}}) ASSERT_TRUE(line->WriteByte(b));
    std::vector<uint8_t> expected = all;
    expected.insert(expected.end(), {0x11, 0x13, 0x00, 0xFF});
    EXPECT_EQ(MasterRead(expected.size()), expected);

    // Access point to line.
    MasterWrite(all);
    std::vector<uint8_t> received;
    for (size_t i = 0; i < all.size(); ++i) {
        SerialReadResult r = line->ReadByte(2000ms);
        ASSERT_EQ(r.status, SerialRead::Byte) << "byte " << i;
        received.push_back(r.byte);
    }
    EXPECT_EQ(received, all);
    // Nothing was echoed back and nothing was added.
    EXPECT_TRUE(MasterRead(1, 50ms).empty());
    EXPECT_EQ(line->ReadByte(20ms).status, SerialRead::Silence);
}

TEST_F(PtyTest, LargeWritesArriveWholeAndInOrder) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    std::vector<uint8_t> big(200000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    std::vector<uint8_t> got;
    std::thread reader([&] { got = MasterRead(big.size()); });
    // More than the terminal buffers: the write has to wait for room several times.
    EXPECT_TRUE(line->WriteBytes(big.data(), big.size()));
    reader.join();
    EXPECT_EQ(got, big);
}

TEST_F(PtyTest, ASecondOpenOfTheSamePortFailsUntilTheFirstIsReleased) {
    auto first = OpenLine();
    ASSERT_NE(first, nullptr);
    auto second = ports_.Open(PORT, 115200);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error(), SerialOpenError::OpenFailed);

    first->Release();
    auto third = ports_.Open(PORT, 115200);
    EXPECT_TRUE(third.ok());
}

TEST_F(PtyTest, PollByteNeverWaitsAndTakesOnlyTheFirstOfSeveralBytes) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->PollByte(), std::nullopt);

    MasterWrite({'a', 'b', 'c'});
    std::optional<uint8_t> first;
    const auto deadline = Clock::now() + 2s;
    while (!first && Clock::now() < deadline) {
        first = line->PollByte();
        if (!first) std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(first, uint8_t{'a'});
    SerialReadResult next = line->ReadByte(1000ms);
    EXPECT_EQ(next.status, SerialRead::Byte);
    EXPECT_EQ(next.byte, 'b');
    EXPECT_EQ(line->PollByte(), uint8_t{'c'});
    EXPECT_EQ(line->PollByte(), std::nullopt);
}

TEST_F(PtyTest, ReadByteWaitsForItsTimeoutOnASilentLine) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    const auto before = Clock::now();
    SerialReadResult r = line->ReadByte(60ms);
    EXPECT_EQ(r.status, SerialRead::Silence);
    EXPECT_GE(Clock::now() - before, 60ms);
}

TEST_F(PtyTest, ReadByteReturnsAByteThatArrivesDuringTheWait) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    std::thread peer([&] {
        std::this_thread::sleep_for(30ms);
        MasterWrite({'C'});
    });
    SerialReadResult r = line->ReadByte(5000ms);
    peer.join();
    EXPECT_EQ(r.status, SerialRead::Byte);
    EXPECT_EQ(r.byte, 'C');
}

TEST_F(PtyTest, ClosingThePeerSideMakesTheLineGone) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    CloseMaster();
    EXPECT_EQ(line->ReadByte(5000ms).status, SerialRead::Gone);
    EXPECT_EQ(line->PollByte(), std::nullopt);
    EXPECT_FALSE(line->WriteByte('X'));
}

TEST_F(PtyTest, AReleasedLineDoesNothingAndCanBeReleasedAgain) {
    auto line = OpenLine();
    ASSERT_NE(line, nullptr);
    line->Release();
    line->Release();
    EXPECT_FALSE(line->WriteByte('X'));
    EXPECT_EQ(line->PollByte(), std::nullopt);
    EXPECT_EQ(line->ReadByte(10ms).status, SerialRead::Gone);
    // The master sees the slave closed: reads end at once.
    EXPECT_TRUE(MasterRead(1, 100ms).empty());
}

TEST_F(PtyTest, ASpeedTheDeviceCannotTakeIsASetupFailureThatLeavesThePortFree) {
    auto refused = ports_.Open(PORT, 12345);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), SerialOpenError::SetupFailed);
    // Nothing of the failed open is left holding the port.
    auto line = OpenLine();
    EXPECT_NE(line, nullptr);
}

TEST(SerialPortsTest, AMissingDeviceCannotBeOpened) {
    testing::TempDir dir;
    ScopedEnv env("QUORSEL_COM3", dir.File("no-such-port"));
    PosixSerialPorts ports;
    auto opened = ports.Open(2, 115200);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), SerialOpenError::OpenFailed);
}

TEST(SerialPortsTest, AFileThatIsNoTerminalFailsInSetup) {
    testing::TempDir dir;
    const std::string path = dir.File("plain-file");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ScopedEnv env("QUORSEL_COM4", path);
    PosixSerialPorts ports;
    auto opened = ports.Open(3, 115200);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), SerialOpenError::SetupFailed);
}

// A driver may take tcsetattr and quietly keep another speed or framing; the
// settings read back are compared with the request.
TEST(SerialPortsTest, SettingsReadBackMustHoldTheSpeedAndFraming) {
    termios wanted{};
    ASSERT_EQ(::cfsetispeed(&wanted, B115200), 0);
    ASSERT_EQ(::cfsetospeed(&wanted, B115200), 0);
    wanted.c_cflag |= CS8 | CLOCAL | CREAD;
    EXPECT_TRUE(SettingsTookEffect(wanted, wanted));

    termios otherSpeed = wanted;
    ASSERT_EQ(::cfsetispeed(&otherSpeed, B9600), 0);
    ASSERT_EQ(::cfsetospeed(&otherSpeed, B9600), 0);
    EXPECT_FALSE(SettingsTookEffect(wanted, otherSpeed));
    termios otherOutputSpeed = wanted;
    ASSERT_EQ(::cfsetospeed(&otherOutputSpeed, B57600), 0);
    EXPECT_FALSE(SettingsTookEffect(wanted, otherOutputSpeed));

    for (tcflag_t flip : {tcflag_t{CSIZE}, tcflag_t{PARENB}, tcflag_t{CSTOPB}, tcflag_t{CRTSCTS}}) {
        termios otherFraming = wanted;
        otherFraming.c_cflag ^= flip;
        EXPECT_FALSE(SettingsTookEffect(wanted, otherFraming)) << "flag 0x" << std::hex << flip;
    }
    termios otherModemFlags = wanted;
    otherModemFlags.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);  // not part of the comparison
    EXPECT_TRUE(SettingsTookEffect(wanted, otherModemFlags));
}

TEST(SerialPortsTest, PortIndexesMapToTheirVariablesOrTheStandardDevices) {
    ScopedEnv com1("QUORSEL_COM1", "");
    ScopedEnv com4("QUORSEL_COM4", "/dev/custom-port");
    EXPECT_EQ(SerialDevicePath(0), std::string("/dev/ttyS0"));  // empty counts as unset
    EXPECT_EQ(SerialDevicePath(3), std::string("/dev/custom-port"));
    EXPECT_EQ(SerialDevicePath(4), std::nullopt);

    PosixSerialPorts ports;
    auto opened = ports.Open(4, 115200);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), SerialOpenError::OpenFailed);
}

}  // namespace
}  // namespace quorsel
