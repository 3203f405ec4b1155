// quorsel-screenshots: renders every dialog of the desktop front-end to PNG files
// (settings, version box, progress while running, busy and finished, completion
// box, password, power-on prompt). Runs on the offscreen platform unless another
// one is chosen.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTreeWidget>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/power_on_wait.h"
#include "engine/status_code.h"
#include "res/resource_ids.h"
#include "ui/qt/password_dialog.h"
#include "ui/qt/power_on_dialog.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/search_dialog.h"
#include "ui/qt/settings_dialog.h"
#include "ui/qt/template_dialog.h"

namespace {

using namespace quorsel;

constexpr const char* APP_TITLE = "quorsel";
constexpr uint32_t SAMPLE_TOTAL = 0x1F5000;  // one 2 MiB image's regions 4 and 5
constexpr size_t SAMPLE_SEARCH_SIZE = 254;   // a /24 and the factory address
constexpr qint64 SEARCH_WAIT_MS = 5000;

// A line on which the access point never answers, for the power-on prompt.
class SilentLine : public SerialLine {
public:
    bool WriteByte(uint8_t) override { return true; }
    bool WriteBytes(const uint8_t*, size_t) override { return true; }
    std::optional<uint8_t> PollByte() override { return std::nullopt; }
    SerialReadResult ReadByte(std::chrono::milliseconds) override { return {SerialRead::Silence, 0}; }
    void Release() override {}
};

class SilentPorts : public SerialPorts {
public:
    Result<std::unique_ptr<SerialLine>, SerialOpenError> Open(uint32_t, uint32_t) override {
        return std::unique_ptr<SerialLine>(std::make_unique<SilentLine>());
    }
};

class Shooter {
public:
    explicit Shooter(QString directory) : directory_(std::move(directory)) {}

    void Save(QWidget& widget, const char* name) {
        QCoreApplication::processEvents();
        QString path = directory_ + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
        if (!widget.grab().save(path)) {
            std::fprintf(stderr, "quorsel-screenshots: cannot write %s\n", path.toLocal8Bit().constData());
            failed_ = true;
            return;
        }
        std::printf("%s\n", path.toLocal8Bit().constData());
    }
    bool failed() const { return failed_; }

private:
    QString directory_;
    bool failed_ = false;
};

// A search that finds these peers at once (in subnets, with leftOut left out).
SearchRunner::Search FoundAtOnce(std::vector<FoundPeer> peers, std::vector<std::string> subnets = {},
                                 std::vector<std::string> leftOut = {}) {
    return [peers = std::move(peers), subnets = std::move(subnets), leftOut = std::move(leftOut)](
               SearchListener& listener, const SearchStop&) {
        size_t probed = 0;
        for (const FoundPeer& peer : peers) {
            listener.OnFound(peer);
            listener.OnProgress(++probed, SAMPLE_SEARCH_SIZE);
        }
        listener.OnProgress(SAMPLE_SEARCH_SIZE, SAMPLE_SEARCH_SIZE);
        SearchOutcome outcome;
        outcome.probed = SAMPLE_SEARCH_SIZE;
        outcome.subnets = subnets;
        outcome.leftOut = leftOut;
        return outcome;
    };
}

FoundPeer SamplePeer(Ipv4Address address, const char* model, char digit, bool fits) {
    FoundPeer peer;
    peer.address = address;
    peer.modelCode = model;
    peer.generationDigit = digit;
    peer.generation = digit >= '2' ? Generation::New : Generation::Old;
    peer.fitsFirmware = fits;
    return peer;
}

// The search dialog once its search has ended, the given row selected (-1: none).
void ShootSearch(Shooter& shooter, SearchRunner::Search search, int selectedRow, const char* name) {
    SearchDialog dialog(std::move(search));
    dialog.show();
    QElapsedTimer clock;
    clock.start();
    while (dialog.model().phase() != SearchModel::Phase::Ended && clock.elapsed() < SEARCH_WAIT_MS) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (selectedRow >= 0) {
        auto* list = dialog.controlAs<QTreeWidget>(CTL_SEARCH_LIST);
        list->setCurrentItem(list->topLevelItem(selectedRow));
        list->setFocus();
    }
    shooter.Save(dialog, name);
    dialog.hide();
}

// Once the message box is up: its picture, then OK.
void ShootNextMessageBox(Shooter& shooter, const char* name) {
    QTimer::singleShot(50, [&shooter, name] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        shooter.Save(*box, name);
        box->accept();
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorsel-screenshots DIRECTORY\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    RegisterTemplateFont();
    QApplication::setWindowIcon(ApplicationIcon());
    QString directory = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(directory)) {
        std::fprintf(stderr, "quorsel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    Shooter shooter(directory);

    {
        SettingsDialog settings;
        settings.show();
        shooter.Save(settings, "settings-lan");
        settings.controlAs<QAbstractButton>(ID_SERIAL_RADIO)->click();
        shooter.Save(settings, "settings-serial");
        AboutDialog about;
        about.show();
        shooter.Save(about, "about");
    }
    {
        ProgressDialog progress({192, 168, 1, 254}, QString::fromLatin1(APP_TITLE));
        progress.show();
        shooter.Save(progress, "progress-preparing");
        progress.ShowStatus(STATUS_CONNECTING, {});
        shooter.Save(progress, "progress-connecting");
        progress.ShowStatus(STATUS_WRITING, {});
        progress.ShowStatus(STATUS_PROGRESS, {SAMPLE_TOTAL, SAMPLE_TOTAL / 2});
        shooter.Save(progress, "progress-writing");
        ShootNextMessageBox(shooter, "completion-box");
        progress.ShowStatus(STATUS_COMPLETE, {SAMPLE_TOTAL, SAMPLE_TOTAL});
        shooter.Save(progress, "progress-complete");
        progress.hide();
    }
    {
        ShootSearch(shooter,
                    FoundAtOnce({SamplePeer({192, 168, 10, 30}, "ZLT010", '1', false),
                                 SamplePeer({192, 168, 10, 7}, "KRV001", '2', true),
                                 SamplePeer({192, 168, 10, 9}, "MXD001", '1', false)}),
                    0, "search");
        ShootSearch(shooter, FoundAtOnce({}), -1, "search-none");
        // More default targets than a search takes: the subnets searched are named.
        ShootSearch(shooter,
                    FoundAtOnce({SamplePeer({192, 168, 10, 7}, "KRV001", '2', true)},
                                {"192.168.10.0/24", "172.17.0.0/22", "172.18.0.0/22", "172.19.0.0/22"},
                                {"172.20.0.0/22", "172.21.0.0/22"}),
                    -1, "search-left-out");
    }
    {
        PasswordDialog password{QString::fromLatin1(APP_TITLE)};
        password.show();
        password.controlAs<QLineEdit>(ID_PASSWORD_EDIT)->setText(QStringLiteral("secret"));
        shooter.Save(password, "password");
    }
    {
        SilentPorts ports;
        PowerOnWait wait(ports, 0, 115200);
        PowerOnDialog powerOn(wait, QString::fromLatin1(APP_TITLE));
        powerOn.show();
        shooter.Save(powerOn, "power-on");
        powerOn.hide();
        wait.Stop();
    }
    return shooter.failed() ? 1 : 0;
}
