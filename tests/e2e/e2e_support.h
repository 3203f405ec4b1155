// Shared pieces of the end-to-end tests: sample firmware, packing, and one
// update run inside a private network namespace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace quorsel::testing {

std::string BuildPath(const std::string& name);

// A plain image of the given size with pseudo-random content and the model code
// at trailer offset 0xFF0.
std::vector<uint8_t> SampleImage(uint32_t size, const std::string& modelCode, uint32_t seed = 1);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// Packs build/quorsel with the loader and image into dir/name; the packed updater's path.
std::string PackUpdater(const TempDir& dir, const std::vector<uint8_t>& loader, const std::vector<uint8_t>& image,
                        const std::string& name = "updater");

struct UpdateOutcome {
    int exitStatus = -1;
    std::string out;
    std::string err;
    std::string apsimLog;
};

// Runs `updater args` against quorsel-apsim (started with apsimArgs and a flash file
// at dir/flash.bin unless apsimArgs is "none") on 192.168.1.254:9002 in a fresh
// network namespace. env is prepended to the updater's command (e.g. "VAR=1").
UpdateOutcome RunLanUpdate(const TempDir& dir, const std::string& updater, const std::string& args,
                           const std::string& apsimArgs, const std::string& input = "",
                           const std::string& env = "");

// Lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace quorsel::testing
