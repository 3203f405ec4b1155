// What the simulated access point is: its model, protocol generation, password and
// flash size, settled once from the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "tools/apsim/options.h"
#include "tools/apsim/range_receiver.h"

namespace quorsel::apsim {

// The password dialog takes at most this many bytes of code page 932.
constexpr size_t PASSWORD_MAX_BYTES = 15;

struct AccessPoint {
    std::string model;         // six characters
    char generation = '2';
    uint32_t passwordDigest = 0;
    uint32_t flashSize = 0;

    // New-generation access points check a password digest and take the stored bytes.
    bool NewGeneration() const { return generation >= '2'; }
    size_t HeaderSize() const { return NewGeneration() ? HEADER_SIZE_NEW : HEADER_SIZE_OLD; }
    DataForm ReceivedForm() const { return NewGeneration() ? DataForm::Stored : DataForm::Plain; }
    std::optional<uint32_t> ExpectedDigest() const {
        return NewGeneration() ? std::optional<uint32_t>(passwordDigest) : std::nullopt;
    }
};

// Converts the password to code page 932 and takes its digest; the error is a message
// for the user (a character code page 932 lacks, or a password that is too long).
Result<AccessPoint, std::string> MakeAccessPoint(const Options& options);

}  // namespace quorsel::apsim
