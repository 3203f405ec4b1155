// quorsel-screenshots: renders every dialog of the desktop front-end to PNG files
// (settings, version box, progress while running, busy and finished, completion
// box, password, power-on prompt). Runs on the offscreen platform unless another
// one is chosen.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/power_on_wait.h"
#include "engine/status_code.h"
#include "ui/qt/password_dialog.h"
#include "ui/qt/power_on_dialog.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/settings_dialog.h"
#include "ui/qt/template_dialog.h"

namespace {

using namespace quorsel;

constexpr const char* APP_TITLE = "quorsel";
constexpr uint32_t SAMPLE_TOTAL = 0x1F5000;  // one 2 MiB image's regions 4 and 5

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
