#include "tests/support/temp_dir.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace quorsel::testing {

namespace {

constexpr int NAME_ATTEMPTS = 100;

}  // namespace

TempDir::TempDir() {
    // create_directory reports whether this call made the directory, so a name that
    // another process took in between is never shared: try another one.
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        const std::filesystem::path candidate = base / ("quorsel-test-" + std::to_string(random() % 1000000000000ULL));
        if (std::filesystem::create_directory(candidate, error) && !error) {
            path_ = candidate.generic_string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace quorsel::testing
