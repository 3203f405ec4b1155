// The firmware files of a fleet update (the first argument and every --firmware):
// each opened and checked as a run would open it, with its model code, size and
// SHA-256. Each model has at most one file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace quorsel {

struct FirmwareFile {
    std::string path;    // as given
    std::string model;   // six characters
    uint64_t size = 0;   // bytes of the whole file
    std::string sha256;  // 64 lower-case hexadecimal digits
};

class FirmwareSet {
public:
    // Opens every file in the order given. The error is one line that names the file
    // and what is wrong with it, or both files of one model.
    static Result<FirmwareSet, std::string> Open(const std::vector<std::string>& paths);

    // The file for this model; nullptr when none is at hand.
    const FirmwareFile* ForModel(const std::string& model) const;
    // The models at hand in the order given: "KRV001, MXD001".
    std::string ModelsText() const;

    const std::vector<FirmwareFile>& files() const { return files_; }

private:
    std::vector<FirmwareFile> files_;
};

}  // namespace quorsel
