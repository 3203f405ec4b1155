// Opening the firmware container on arbitrary file contents. The file is held in
// memory and read through the container reader's byte-source interface, with the
// two image sizes scaled down to 8 KiB and 16 KiB so that inputs stay small (the
// unit tests open real files of 2 MiB and 4 MiB). The outcome must equal that of a
// plain step-by-step reading of the container rules (first signature, 20-byte
// header, byte sum over loader and image, image size from the file size, model code
// in the descrambled trailer), and the loader read must hand out exactly the
// loader's bytes.
//
// Input, first byte bit 7 clear: the rest of the input is the file.
// Bit 7 set: a container is built around the input's choices, so that the search
// gets past the byte sum and the size checks:
//   prefix seed, prefix length (16 bits), image size choice, model choice,
//   damage bits, loader length (16 bits), then the damage values in order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "image/container.h"
#include "image/descrambler.h"
#include "image/model_tables.h"
#include "image/scramble_tables.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/container_builder.h"

namespace quorsel::fuzzing {
namespace {

// The two image sizes the reader accepts here, in place of 2 MiB and 4 MiB.
constexpr uint32_t SMALL = 0x2000;
constexpr uint32_t LARGE = 0x4000;
constexpr ImageSizes FUZZ_SIZES{SMALL, LARGE};
constexpr size_t HEADER = 20;
constexpr size_t PREFIX_LIMIT = 6000;
constexpr size_t LOADER_CHOICE_LIMIT = 4200;

// Image sizes the builder can make: the two valid ones and near misses.
constexpr uint32_t IMAGE_SIZES[] = {SMALL, LARGE, SMALL - 4096, SMALL - 1, SMALL + 1, 0x3000, LARGE + 4096, 0};

// The file in memory, read like the program file: a seek past the end succeeds,
// and a read there yields nothing.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Seek(uint64_t offset) override {
        position_ = offset;
        return true;
    }
    size_t Read(uint8_t* buffer, size_t n) override {
        if (position_ >= bytes_.size()) return 0;
        const size_t count = std::min<size_t>(n, bytes_.size() - static_cast<size_t>(position_));
        if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return count;
    }

private:
    const std::vector<uint8_t>& bytes_;
    uint64_t position_ = 0;
};

// The harness's own passes over the file stay out of the coverage
// instrumentation: they tell the fuzzer nothing and would cost most of its time.
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))

struct Scratch {
    std::vector<uint8_t> body = testing::PseudoRandomBytes(LARGE + 4096, 21);
    std::vector<uint8_t> loader = testing::PseudoRandomBytes(LOADER_CHOICE_LIMIT, 22);
    std::vector<uint8_t> signature = testing::SignatureBytes();
};

Scratch& Shared() {
    static Scratch scratch;
    return scratch;
}

// The executable-like prefix for a seed, made once per seed; inputs take its start.
const std::vector<uint8_t>& Prefix(uint8_t seed) {
    static std::map<uint8_t, std::vector<uint8_t>> prefixes;
    std::vector<uint8_t>& prefix = prefixes[seed];
    if (prefix.empty()) prefix = testing::ExecutableLikeBytes(PREFIX_LIMIT, seed + 1u);
    return prefix;
}

// One plain trailer block scrambled for the image offset it has in an image of each
// size, made once per size; a model code is then put in by scrambling its bytes alone.
const std::vector<uint8_t>& StoredTrailer(uint32_t imageSize) {
    static std::map<uint32_t, std::vector<uint8_t>> trailers;
    std::vector<uint8_t>& stored = trailers[imageSize];
    if (stored.empty()) {
        const std::vector<uint8_t> plain = testing::PseudoRandomBytes(4096, 23);
        stored.resize(4096);
        testing::ScrambleBlock(plain.data(), stored.data(), imageSize - 4096);
    }
    return stored;
}

// Stores code at the model-code offset of a stored trailer block (at image offset
// blockOffset), as ScrambleBlock would: plain byte p = 256*r + j, plus g, goes to
// 256*ROW[r] + PERM[j].
HARNESS_ONLY void PutModelCode(uint8_t* stored, uint32_t blockOffset, const std::string& code) {
    for (size_t i = 0; i < code.size(); ++i) {
        const size_t p = TRAILER_MODEL_OFFSET + i;
        const uint8_t key = Descrambler::KeystreamByte(blockOffset + static_cast<uint32_t>(p));
        stored[256 * ROW[p / 256] + PERM[p % 256]] = static_cast<uint8_t>(static_cast<uint8_t>(code[i]) + key);
    }
}


HARNESS_ONLY uint32_t SumOf(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end) {
    uint32_t sum = 0;
    for (uint64_t i = begin; i < end; ++i) sum += bytes[i];
    return sum;
}

HARNESS_ONLY uint64_t FirstSignature(const std::vector<uint8_t>& file, const std::vector<uint8_t>& signature) {
    return static_cast<uint64_t>(std::search(file.begin(), file.end(), signature.begin(), signature.end()) -
                                 file.begin());
}

// What opening the container must give, worked out step by step.
struct Expected {
    std::optional<ContainerError> error;
    uint32_t containerOffset = 0;
    uint32_t imageStart = 0;
    uint32_t imageSize = 0;
    int modelIndex = -1;
};

Expected Reference(const std::vector<uint8_t>& file) {
    const std::vector<uint8_t>& signature = Shared().signature;
    Expected expected;
    const uint64_t offset = FirstSignature(file, signature);
    if (offset == file.size()) {
        expected.error = ContainerError::NoSignature;
        return expected;
    }
    if (offset + HEADER > file.size()) {
        expected.error = ContainerError::BadHeader;
        return expected;
    }
    const uint32_t loaderLength = LoadLe32(&file[offset + 8]);
    const uint32_t imageLength = LoadLe32(&file[offset + 12]);
    const uint32_t byteSum = LoadLe32(&file[offset + 16]);
    const uint64_t summedEnd = offset + HEADER + uint64_t{loaderLength} + imageLength;
    if (summedEnd > file.size()) {
        expected.error = ContainerError::BadHeader;
        return expected;
    }
    if (SumOf(file, offset + HEADER, summedEnd) != byteSum) {
        expected.error = ContainerError::BadHeader;
        return expected;
    }
    const uint64_t imageStart = offset + HEADER + loaderLength;
    const uint64_t imageSize = file.size() - imageStart;
    if (imageSize != SMALL && imageSize != LARGE) {
        expected.error = ContainerError::BadImageSize;
        return expected;
    }
    std::vector<uint8_t> trailer(file.end() - 4096, file.end());
    Descrambler descrambler;
    descrambler.Skip(static_cast<uint32_t>(imageSize) - 4096);
    descrambler.DescrambleBlock(trailer.data());
    int model = -1;
    for (int m = 0; m < MODEL_COUNT && model < 0; ++m) {
        if (std::memcmp(&trailer[TRAILER_MODEL_OFFSET], MODEL_CODES[m], MODEL_CODE_LENGTH) == 0) model = m;
    }
    if (model < 0) {
        expected.error = ContainerError::UnknownModel;
        return expected;
    }
    expected.containerOffset = static_cast<uint32_t>(offset);
    expected.imageStart = static_cast<uint32_t>(imageStart);
    expected.imageSize = static_cast<uint32_t>(imageSize);
    expected.modelIndex = model;
    return expected;
}

// A container shaped by the input's choices.
std::vector<uint8_t> Build(FuzzInput& input) {
    Scratch& scratch = Shared();
    const uint8_t prefixSeed = input.Byte();
    const size_t prefixLength = input.Le16() % (PREFIX_LIMIT + 1);
    const uint32_t imageSize = IMAGE_SIZES[input.Byte() % std::size(IMAGE_SIZES)];
    const uint8_t modelChoice = input.Byte();
    const uint8_t damage = input.Byte();
    const uint32_t loaderLength = input.Le16() % (LOADER_CHOICE_LIMIT + 1);

    const std::vector<uint8_t>& prefix = Prefix(prefixSeed);
    std::vector<uint8_t> file(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(prefixLength));
    file.reserve(prefixLength + HEADER + loaderLength + imageSize + 256);
    const size_t headerAt = file.size();
    file.insert(file.end(), HEADER, 0);
    file.insert(file.end(), scratch.loader.begin(), scratch.loader.begin() + loaderLength);
    // The image: stored bytes, with a trailer whose plain form carries the model code.
    file.insert(file.end(), scratch.body.begin(), scratch.body.begin() + imageSize);
    if (imageSize >= 4096) {
        std::string code = MODEL_CODES[modelChoice % MODEL_COUNT];
        if ((modelChoice & 0x40) != 0) code[modelChoice % MODEL_CODE_LENGTH] ^= 0x20;  // a near miss
        if ((modelChoice & 0x80) != 0) {
            const std::vector<uint8_t> own = input.Bytes(MODEL_CODE_LENGTH);
            code.assign(own.begin(), own.end());
            code.resize(MODEL_CODE_LENGTH, ' ');
        }
        uint8_t* trailer = &file[file.size() - 4096];
        const std::vector<uint8_t>& stored = StoredTrailer(imageSize);
        std::copy(stored.begin(), stored.end(), trailer);
        PutModelCode(trailer, imageSize - 4096, code);
    }
    if ((damage & 0x20) != 0) {
        const std::vector<uint8_t> extra = input.Bytes(input.Byte());
        file.insert(file.end(), extra.begin(), extra.end());
    }

    uint32_t declaredLoader = loaderLength;
    uint32_t declaredImage = static_cast<uint32_t>(file.size() - headerAt - HEADER - loaderLength);
    if ((damage & 0x01) != 0) declaredLoader += static_cast<uint32_t>(static_cast<int8_t>(input.Byte()));
    if ((damage & 0x02) != 0) declaredImage = input.Le32();
    if ((damage & 0x10) != 0) declaredImage -= std::min<uint32_t>(declaredImage, input.Le16());
    // The sum over what the header declares, as far as the file has bytes.
    const uint64_t summedEnd =
        std::min<uint64_t>(headerAt + HEADER + uint64_t{declaredLoader} + declaredImage, file.size());
    uint32_t sum = SumOf(file, headerAt + HEADER, summedEnd);
    if ((damage & 0x04) != 0) sum += input.Le32() | 1;

    std::copy(scratch.signature.begin(), scratch.signature.end(), file.begin() + static_cast<std::ptrdiff_t>(headerAt));
    StoreLe32(&file[headerAt + 8], declaredLoader);
    StoreLe32(&file[headerAt + 12], declaredImage);
    StoreLe32(&file[headerAt + 16], sum);
    if ((damage & 0x08) != 0) file.resize(input.Le32() % (file.size() + 1));  // cut short
    return file;
}

}  // namespace
}  // namespace quorsel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorsel;
    using namespace quorsel::fuzzing;
    FuzzInput input(data, size);
    const uint8_t mode = input.Byte();
    const std::vector<uint8_t> file = (mode & 0x80) != 0 ? Build(input) : input.Rest();

    const Expected expected = Reference(file);
    MemorySource source(file);
    Descrambler descrambler;
    auto opened = LocateContainer(source, file.size(), descrambler, FUZZ_SIZES);
    if (expected.error) {
        FUZZ_CHECK(!opened);
        FUZZ_CHECK(opened.error() == *expected.error);
        return 0;
    }
    FUZZ_CHECK(opened);
    const ContainerLayout& info = opened.value();
    FUZZ_CHECK(info.containerOffset == expected.containerOffset);
    FUZZ_CHECK(info.imageStart == expected.imageStart);
    FUZZ_CHECK(info.imageSize == expected.imageSize);
    FUZZ_CHECK(info.modelIndex == expected.modelIndex);
    FUZZ_CHECK(info.regions == &RegionTableOf(expected.modelIndex));

    std::array<uint8_t, LOADER_MAX> loader{};
    auto loaded = ReadLoader(source, info, loader);
    const uint32_t loaderLength = expected.imageStart - expected.containerOffset - 20;
    if (loaderLength > LOADER_MAX) {
        FUZZ_CHECK(!loaded && loaded.error() == ContainerError::LoaderTooLong);
    } else {
        FUZZ_CHECK(loaded && loaded.value() == loaderLength);
        FUZZ_CHECK(std::equal(loader.begin(), loader.begin() + loaderLength,
                              file.begin() + expected.containerOffset + 20));
    }
    return 0;
}
