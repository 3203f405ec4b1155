// The desktop module, looked for in two fixed folders and loaded with dlopen.
#include "app/desktop_launch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/display_probe.h"
#include "app/shared_library.h"
#include "ui/qt/desktop_module.h"

#ifndef QUORSEL_MODULE_DIR
#error "QUORSEL_MODULE_DIR names the installed library folder"
#endif

namespace quorsel {
namespace {

constexpr const char* INSTALLED_MODULE_DIR = QUORSEL_MODULE_DIR;

void UsingTheTerminal(const std::string& why) {
    std::fprintf(stderr, "quorsel: %s: using the terminal\n", why.c_str());
}

// A module that someone else than its owner or root could have written is not
// loaded: it would run with the user's rights.
std::optional<std::string> UnsafeModule(const std::string& path, const struct stat& info) {
    if (!S_ISREG(info.st_mode)) return "desktop module " + path + " is not a regular file";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (info.st_uid != 0 && info.st_uid != ::geteuid())) {
        return "desktop module " + path + " may be written by other users";
    }
    return std::nullopt;
}

}  // namespace

std::string ModuleBesideExecutable(const std::string& executablePath, const char* fileName) {
    const size_t slash = executablePath.rfind('/');
    if (executablePath.empty() || executablePath[0] != '/' || slash == std::string::npos) return std::string();
    return executablePath.substr(0, slash + 1) + fileName;
}

std::optional<int> RunDesktopModule(int argc, char** argv, Network& network, SerialPorts& serialPorts,
                                    const PeerTimeouts& timeouts, const std::string& commandLine,
                                    const std::string& executablePath, ProbeNetwork& probeNetwork,
                                    const std::string& firmwareModel, RunLog* runLog) {
    const DisplayCheck display = CheckDisplay();
    if (!display.named) return std::nullopt;  // the usual terminal session: nothing to explain
    if (!display.usable) {
        UsingTheTerminal("no usable display (" + display.names + ")");
        return std::nullopt;
    }

    std::vector<std::string> candidates;
    const std::string beside = ModuleBesideExecutable(executablePath, DESKTOP_MODULE_FILE);
    if (!beside.empty()) candidates.push_back(beside);
    const std::string installed = std::string(INSTALLED_MODULE_DIR) + "/" + DESKTOP_MODULE_FILE;
    if (installed != beside) candidates.push_back(installed);

    std::string path;
    for (const std::string& candidate : candidates) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0) continue;
        if (const auto unsafe = UnsafeModule(candidate, info)) {
            UsingTheTerminal(*unsafe);
            return std::nullopt;
        }
        path = candidate;
        break;
    }
    if (path.empty()) {
        std::string places;
        for (const std::string& candidate : candidates) {
            if (!places.empty()) places += " or ";
            places += candidate.substr(0, candidate.rfind('/'));
        }
        UsingTheTerminal(std::string("desktop module ") + DESKTOP_MODULE_FILE + " not found in " + places);
        return std::nullopt;
    }

    // Qt's libraries register handlers that run at exit: the module stays mapped.
    auto module = SharedLibrary::Open(path, true);
    if (!module) {
        UsingTheTerminal("desktop module " + path + " cannot be loaded (" + module.error() + ")");
        return std::nullopt;
    }
    auto run = reinterpret_cast<decltype(&quorsel_desktop_run_v2)>(module->Symbol(DESKTOP_MODULE_ENTRY));
    if (run == nullptr) {
        UsingTheTerminal("desktop module " + path + " has no entry " + DESKTOP_MODULE_ENTRY +
                         " (built for another version of quorsel)");
        return std::nullopt;
    }
    // Only one kind of display answered: Qt is told which, so it does not try the other.
    if (!display.platform.empty()) ::setenv("QT_QPA_PLATFORM", display.platform.c_str(), 1);

    DesktopServices services{};
    services.size = sizeof(DesktopServices);
    services.version = DESKTOP_MODULE_INTERFACE;
    services.argc = argc;
    services.argv = argv;
    services.network = &network;
    services.serialPorts = &serialPorts;
    services.timeouts = &timeouts;
    services.commandLine = commandLine.c_str();
    services.executablePath = executablePath.c_str();
    services.probeNetwork = &probeNetwork;
    services.firmwareModel = firmwareModel.c_str();
    services.runLog = runLog;
    const int status = run(&services);
    if (status == DESKTOP_MODULE_REFUSED) {
        if (!display.platform.empty()) ::unsetenv("QT_QPA_PLATFORM");
        UsingTheTerminal("desktop module " + path + " does not take this updater's services (interface " +
                         std::to_string(DESKTOP_MODULE_INTERFACE) + ")");
        return std::nullopt;
    }
    return status;
}

}  // namespace quorsel
