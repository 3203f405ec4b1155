#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace quorsel::testing {

namespace {

// Every updater these tests start keeps its run log in a folder of the test run's
// own ($XDG_STATE_HOME/quorsel), never in the user's.
class RunLogFolder : public ::testing::Environment {
public:
    void SetUp() override {
        char folder[] = "/tmp/quorsel-e2e-state-XXXXXX";
        if (::mkdtemp(folder) == nullptr) return;
        folder_ = folder;
        ::setenv("XDG_STATE_HOME", folder, 1);
    }
    void TearDown() override {
        std::error_code error;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
    }

private:
    std::string folder_;
};

[[maybe_unused]] ::testing::Environment* const RUN_LOG_FOLDER = ::testing::AddGlobalTestEnvironment(new RunLogFolder);

}  // namespace

std::string BuildPath(const std::string& name) { return std::string(QUORSEL_BUILD_DIR) + "/" + name; }

std::vector<uint8_t> SampleImage(uint32_t size, const std::string& modelCode, uint32_t seed) {
    std::vector<uint8_t> image(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (uint8_t& byte : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x >> 24);
    }
    size_t at = size - 4096 + 0xFF0;
    for (size_t i = 0; i < modelCode.size() && i < 6; ++i) image[at + i] = static_cast<uint8_t>(modelCode[i]);
    return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string PackUpdater(const TempDir& dir, const std::vector<uint8_t>& loader, const std::vector<uint8_t>& image,
                        const std::string& name) {
    std::string loaderPath = dir.File(name + ".loader"), imagePath = dir.File(name + ".image");
    std::string out = dir.File(name);
    WriteFile(loaderPath, loader);
    WriteFile(imagePath, image);
    CommandResult packed = RunShell(ShellQuote(BuildPath("quorsel-pack")) + " " + ShellQuote(BuildPath("quorsel")) +
                                    " " + ShellQuote(loaderPath) + " " + ShellQuote(imagePath) + " " + ShellQuote(out));
    if (packed.exitStatus != 0) return "";
    return out;
}

UpdateOutcome RunLanUpdate(const TempDir& dir, const std::string& updater, const std::string& args,
                           const std::string& apsimArgs, const std::string& input, const std::string& env) {
    std::string apsim = apsimArgs == "none"
                            ? std::string("none")
                            : ShellQuote(BuildPath("quorsel-apsim")) + " --flash " + ShellQuote(dir.File("flash.bin")) +
                                  " " + apsimArgs;
    std::string script = ShellQuote(std::string(QUORSEL_E2E_SCRIPT_DIR) + "/run_in_netns.sh") + " " +
                         ShellQuote(dir.path()) + " " + apsim + " -- " + (env.empty() ? "" : "env " + env + " ") +
                         ShellQuote(updater) + " " + args;
    CommandResult result = RunShell(script, input);
    UpdateOutcome outcome;
    outcome.out = result.out;
    outcome.err = result.err;
    std::ifstream rc(dir.File("updater.rc"));
    if (!(rc >> outcome.exitStatus)) outcome.exitStatus = -1;
    std::ifstream log(dir.File("apsim.log"));
    outcome.apsimLog.assign(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    std::remove(dir.File("updater.rc").c_str());
    return outcome;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace quorsel::testing
