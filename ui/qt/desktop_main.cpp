#include "ui/qt/desktop_main.h"

#include <QApplication>

#include <vector>

#include "job/startup.h"
#include "ui/qt/desktop_frontend.h"
#include "ui/qt/template_dialog.h"
#include "engine/serial_port_list.h"
#include "ui/default_search.h"

namespace quorsel {

namespace {

constexpr const char* DEFAULT_PROGRAM_NAME = "quorsel";

}  // namespace

int RunDesktop(int argc, char** argv, Network& network, SerialPorts& serialPorts, PeerTimeouts timeouts,
               const std::string& commandLine, const std::string& executablePath, ProbeNetwork& probeNetwork,
               const std::string& firmwareModel, RunLog* log) {
    std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : DEFAULT_PROGRAM_NAME;
    std::vector<char> programBuffer(program.begin(), program.end());
    programBuffer.push_back('\0');
    int qtArgc = 1;
    char* qtArgv[] = {programBuffer.data(), nullptr};
    QApplication application(qtArgc, qtArgv);
    RegisterTemplateFont();
    QApplication::setWindowIcon(ApplicationIcon());

    DesktopFrontend frontend(ApplicationTitle(program.c_str()), network, serialPorts);
    frontend.SetSearch(DefaultSearch(probeNetwork, firmwareModel));
    frontend.SetPortLister(ListSerialPorts);
    frontend.SetRunLog(log);
    return RunStartup(frontend, network, commandLine, executablePath, timeouts, log);
}

}  // namespace quorsel
