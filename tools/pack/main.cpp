// quorsel-pack: appends a firmware container (loader and scrambled image) to the
// updater executable, and reads such a file back.
//
//   quorsel-pack UPDATER LOADER IMAGE OUT   write OUT = UPDATER + container
//   quorsel-pack LOADER IMAGE OUT           the same with the installed updater
//   quorsel-pack --windows LOADER IMAGE OUT  the same with the installed quorsel.exe
//   quorsel-pack --info FILE                 describe FILE's container
//   quorsel-pack --extract FILE OUT          write FILE's image, descrambled, to OUT
//
// Every failure prints one line on stderr and exits with status 1; OUT is then
// neither created nor changed. Containers the updater accepts but that a run may not
// use as intended (a loader over 4096 bytes, a flash layout of another size than the
// image) are written with a warning on stderr.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "image/container.h"
#include "tools/pack/container_report.h"
#include "tools/pack/container_writer.h"
#include "tools/pack/file_io.h"

namespace {

using namespace quorsel;
using namespace quorsel::pack;

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr mode_t PROGRAM_MODE = 0755;
constexpr mode_t IMAGE_MODE = 0644;

// Where the package installs the bare updaters, fixed at build time.
constexpr const char* INSTALLED_UPDATER = QUORSEL_LIBDIR "/quorsel";
constexpr const char* INSTALLED_WINDOWS_UPDATER = QUORSEL_LIBDIR "/quorsel.exe";

constexpr const char* USAGE =
    "usage: quorsel-pack [UPDATER | --windows] LOADER IMAGE OUT | --info FILE | --extract FILE OUT";

int Failed(const std::string& message) {
    std::cerr << "quorsel-pack: " << message << std::endl;
    return EXIT_FAILED;
}

int Pack(const std::string& updaterPath, const std::string& loaderPath, const std::string& imagePath,
         const std::string& outPath) {
    // The image size is checked before anything large is read.
    const auto imageSize = InputFileSize(imagePath);
    if (!imageSize) return Failed("image: " + imageSize.error());
    if (const auto sizeError = CheckImageSize(*imageSize)) return Failed("'" + imagePath + "': " + *sizeError);

    auto updater = ReadInputFile(updaterPath);
    if (!updater) return Failed("updater: " + updater.error());
    auto loader = ReadInputFile(loaderPath);
    if (!loader) return Failed("loader: " + loader.error());
    auto image = ReadInputFile(imagePath);
    if (!image) return Failed("image: " + image.error());

    auto packed = PackContainer(*updater, *loader, *image);
    if (!packed) return Failed(packed.error());
    if (const auto error = ReplaceFile(outPath, *packed, PROGRAM_MODE)) return Failed(*error);

    if (const auto mismatch = LayoutMismatch(*image)) {
        std::cerr << "quorsel-pack: warning: " << *mismatch << std::endl;
    }
    if (loader->size() > LOADER_MAX) {
        std::cerr << "quorsel-pack: warning: the loader is " << loader->size()
                  << " bytes; serial runs accept at most " << LOADER_MAX << std::endl;
    }
    return EXIT_OK;
}

int Info(const std::string& path) {
    if (const auto error = ReportContainer(path, std::cout)) return Failed(*error);
    return EXIT_OK;
}

int Extract(const std::string& path, const std::string& outPath) {
    auto image = ExtractImage(path);
    if (!image) return Failed(image.error());
    if (const auto error = ReplaceFile(outPath, *image, IMAGE_MODE)) return Failed(*error);
    return EXIT_OK;
}

// Parses the arguments and runs the one command they name.
int Run(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "--info") {
        if (args.size() != 2) return Failed(USAGE);
        return Info(args[1]);
    }
    if (!args.empty() && args[0] == "--extract") {
        if (args.size() != 3) return Failed(USAGE);
        return Extract(args[1], args[2]);
    }
    if (!args.empty() && args[0] == "--windows") {
        if (args.size() != 4) return Failed(USAGE);
        return Pack(INSTALLED_WINDOWS_UPDATER, args[1], args[2], args[3]);
    }
    if (!args.empty() && args[0].rfind("--", 0) == 0) return Failed("unknown option '" + args[0] + "'; " + USAGE);
    if (args.size() == 3) return Pack(INSTALLED_UPDATER, args[0], args[1], args[2]);
    if (args.size() != 4) return Failed(USAGE);
    return Pack(args[0], args[1], args[2], args[3]);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    } catch (const std::exception& e) {
        return Failed(e.what());
    }
}
