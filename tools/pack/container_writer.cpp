// Assembly of a program file with the firmware container appended.
#include "tools/pack/container_writer.h"

#include <limits>

#include "common/le_bytes.h"
#include "image/model_tables.h"
#include "tools/pack/printable.h"
#include "tools/pack/scrambler.h"

namespace quorsel::pack {
namespace {

// The signature "@Wln$ap@" as two little-endian halves. The second is read through a
// volatile so the two never end up side by side as one constant in this program.
constexpr uint32_t SIGNATURE_LOW = 0x6E6C5740;    // "@Wln"
volatile uint32_t signatureHigh = 0x40706124;     // "$ap@"
constexpr size_t SIGNATURE_SIZE = 8;

constexpr uint32_t TRAILER_BLOCK_SIZE = 4096;

std::string Hex(uint64_t value) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), HEX[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + digits;
}

std::string KnownModels() {
    std::string list;
    for (int i = 0; i < MODEL_COUNT; ++i) {
        if (i > 0) list += ", ";
        list += MODEL_CODES[i];
    }
    return list;
}

}  // namespace

std::optional<size_t> FindSignature(const std::vector<uint8_t>& bytes) {
    const uint32_t high = signatureHigh;
    for (size_t i = 0; i + SIGNATURE_SIZE <= bytes.size(); ++i) {
        if (LoadLe32(bytes.data() + i) == SIGNATURE_LOW && LoadLe32(bytes.data() + i + 4) == high) {
            return i;
        }
    }
    return std::nullopt;
}

std::array<uint8_t, CONTAINER_HEADER_SIZE> BuildContainerHeader(const std::vector<uint8_t>& loader,
                                                                 const std::vector<uint8_t>& storedImage) {
    uint32_t sum = 0;
    for (const uint8_t b : loader) sum += b;
    for (const uint8_t b : storedImage) sum += b;

    std::array<uint8_t, CONTAINER_HEADER_SIZE> header{};
    StoreLe32(header.data() + 0, SIGNATURE_LOW);
    StoreLe32(header.data() + 4, signatureHigh);
    StoreLe32(header.data() + 8, static_cast<uint32_t>(loader.size()));
    StoreLe32(header.data() + 12, static_cast<uint32_t>(storedImage.size()));
    StoreLe32(header.data() + 16, sum);
    return header;
}

std::optional<std::string> CheckImageSize(uint64_t size) {
    if (size == IMAGE_SIZE_2MIB || size == IMAGE_SIZE_4MIB) return std::nullopt;
    return "image is " + std::to_string(size) + " bytes; it must be exactly " +
           std::to_string(IMAGE_SIZE_2MIB) + " (2 MiB) or " + std::to_string(IMAGE_SIZE_4MIB) + " (4 MiB)";
}

std::optional<std::string> LayoutMismatch(const std::vector<uint8_t>& plainImage) {
    if (CheckImageSize(plainImage.size())) return std::nullopt;
    const int model = FindModel(plainImage.data() + plainImage.size() - TRAILER_BLOCK_SIZE + TRAILER_MODEL_OFFSET);
    if (model < 0) return std::nullopt;
    const Region& last = RegionTableOf(model).back();
    const uint64_t layoutSize = uint64_t{last.start} + last.length;
    if (layoutSize == plainImage.size()) return std::nullopt;
    return std::string("model ") + MODEL_CODES[model] + " uses a " + std::to_string(layoutSize >> 20) +
           " MiB flash layout but the image is " + std::to_string(plainImage.size() >> 20) + " MiB";
}

Result<std::vector<uint8_t>, std::string> PackContainer(const std::vector<uint8_t>& updater,
                                                         const std::vector<uint8_t>& loader,
                                                         const std::vector<uint8_t>& plainImage) {
    if (auto sizeError = CheckImageSize(plainImage.size())) return Fail(std::move(*sizeError));

    const size_t codeOffset = plainImage.size() - TRAILER_BLOCK_SIZE + TRAILER_MODEL_OFFSET;
    const uint8_t* code = plainImage.data() + codeOffset;
    if (FindModel(code) < 0) {
        return Fail("image model code \"" + PrintableBytes(code, MODEL_CODE_LENGTH) + "\" at image offset " +
                    Hex(codeOffset) + " is not a known model (" + KnownModels() + ")");
    }

    // The updater finds the first signature in the file; one inside the executable
    // would hide the container behind it.
    if (const auto at = FindSignature(updater)) {
        return Fail("updater already holds the container signature at offset " + Hex(*at));
    }

    const uint64_t total = uint64_t{updater.size()} + CONTAINER_HEADER_SIZE + loader.size() + plainImage.size();
    if (total > std::numeric_limits<uint32_t>::max()) {
        return Fail("the program file would be " + std::to_string(total) + " bytes; it must stay below 4 GiB");
    }

    const std::vector<uint8_t> stored = ScrambleImage(plainImage);
    const auto header = BuildContainerHeader(loader, stored);

    std::vector<uint8_t> file;
    file.reserve(static_cast<size_t>(total));
    file.insert(file.end(), updater.begin(), updater.end());
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), loader.begin(), loader.end());
    file.insert(file.end(), stored.begin(), stored.end());
    return file;
}

}  // namespace quorsel::pack
