// A whole serial run through the desktop front-end against quorsel-apsim --serial
// on a pseudo-terminal: password dialog, one power-on prompt per range that ends by
// itself when the boot code answers, completion box.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "job/startup.h"
#include "engine/serial_line_posix.h"
#include "tests/support/apsim_process.h"
#include "tests/support/container_builder.h"
#include "tests/support/fake_network.h"
#include "tests/support/temp_dir.h"
#include "tests/ui_qt/gui_driver.h"
#include "ui/qt/desktop_frontend.h"
#include "ui/qt/password_dialog.h"
#include "ui/qt/power_on_dialog.h"
#include "ui/qt/progress_dialog.h"

namespace quorsel::testing {
namespace {

using std::chrono::milliseconds;

constexpr uint32_t MIB2 = 0x200000;
constexpr size_t LOADER_LENGTH = 300;
constexpr milliseconds SHORT_PAUSE{5};
constexpr int WATCH_INTERVAL_MS = 5;

struct Span {
    uint32_t start;
    uint32_t length;
};
// Regions 1 and 4 of the 2 MiB layout: two ranges, so two power-on prompts.
constexpr Span REGION_1{0x1000, 0x1000};
constexpr Span REGION_4{0xB000, 0xD000};

// Every port index opens the simulator's pseudo-terminal.
class DevicePorts : public SerialPorts {
public:
    explicit DevicePorts(std::string device) : device_(std::move(device)) {}
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t comIndex, uint32_t baudRate) override {
        opened_.push_back(comIndex);
        return PosixSerialLine::Open(device_, baudRate);
    }
    const std::vector<uint32_t>& opened() const { return opened_; }

private:
    std::string device_;
    std::vector<uint32_t> opened_;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DesktopSerialRunTest, PasswordThenOnePowerOnPromptPerRangeThenCompletion) {
    TempDir dir;
    std::vector<uint8_t> image = MakePlainImage(MIB2, "KRV001");
    std::string updater = dir.File("updater");
    ASSERT_TRUE(WriteContainerFile(updater, MakeContainerParts(image, std::vector<uint8_t>(LOADER_LENGTH, 0xA5),
                                                               ExecutableLikeBytes(8192, 5))));
    ApSimProcess apsim;
    ASSERT_TRUE(apsim.StartSerial({"--model", "KRV001", "--loader-length", std::to_string(LOADER_LENGTH),
                                   "--password", "secret", "--flash", dir.File("flash.bin")},
                                  dir.File("apsim.log")))
        << apsim.Log();
    FakeNetwork network;
    DevicePorts ports(apsim.device());
    PeerTimeouts timeouts;
    timeouts.serialAnswer = milliseconds(5000);
    DesktopFrontend frontend("updater", network, ports,
                             [](milliseconds pause) { std::this_thread::sleep_for(std::min(pause, SHORT_PAUSE)); });

    // Counts the power-on prompts as they come and go, and what they were over.
    int prompts = 0;
    bool promptShown = false;
    bool cancelGreyedUnderPrompt = true;
    QTimer watcher;
    watcher.setInterval(WATCH_INTERVAL_MS);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        PowerOnDialog* prompt = FindVisible<PowerOnDialog>();
        if (prompt != nullptr && !promptShown) {
            ++prompts;
            ProgressDialog* progress = FindVisible<ProgressDialog>();
            // From the second range on the run is busy: Cancel stays greyed.
            if (prompts > 1 && progress != nullptr && progress->control(ID_CANCEL_BUTTON)->isEnabled()) {
                cancelGreyedUnderPrompt = false;
            }
        }
        promptShown = prompt != nullptr;
    });
    watcher.start();

    WhenVisible<PasswordDialog>(
        [](PasswordDialog& password) {
            EXPECT_EQ(FindVisible<PowerOnDialog>(), nullptr) << "the password comes first";
            QTest::keyClicks(password.control(ID_PASSWORD_EDIT), "secret");
            ClickButton(password, ID_OK_BUTTON);
        },
        "the password dialog");
    BoxContents completion{};
    WhenVisible<QMessageBox>(
        [&completion](QMessageBox& box) {
            completion = ContentsOf(box);
            box.accept();
        },
        "the completion box", milliseconds(30000));
    QString finalStatus;
    When(
        [] {
            ProgressDialog* progress = FindVisible<ProgressDialog>();
            return progress != nullptr && progress->control(ID_OK_BUTTON)->isVisible();
        },
        [&finalStatus] {
            ProgressDialog& progress = *FindVisible<ProgressDialog>();
            finalStatus = TextOf(progress.control(ID_STATUS_LINE));
            ClickButton(progress, ID_OK_BUTTON);
        },
        "the end of the run", milliseconds(30000));

    int status = RunStartup(frontend, network, "\"" + updater + "\" -ef com2", updater, timeouts);
    watcher.stop();
    EXPECT_EQ(status, EXIT_COMPLETED) << apsim.Log();
    EXPECT_EQ(finalStatus, QString::fromUtf8("正常終了"));
    EXPECT_EQ(completion.icon, QMessageBox::Information);
    EXPECT_EQ(prompts, 2);
    EXPECT_TRUE(cancelGreyedUnderPrompt);
    EXPECT_EQ(ports.opened(), (std::vector<uint32_t>{1, 1})) << "COM2, opened once per range";
    EXPECT_TRUE(network.connects().empty());

    std::vector<uint8_t> flash = ReadAll(dir.File("flash.bin"));
    ASSERT_EQ(flash.size(), MIB2);
    for (Span span : {REGION_1, REGION_4}) {
        EXPECT_TRUE(std::equal(image.begin() + span.start, image.begin() + span.start + span.length,
                               flash.begin() + span.start))
            << "flash differs from the image at 0x" << std::hex << span.start;
    }
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + REGION_1.start, [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace quorsel::testing
