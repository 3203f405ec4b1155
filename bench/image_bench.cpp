// Opening the container and descrambling the image, beside the straightforward way
// (a seek and a 4-byte read per scanned offset, one read call per summed byte, one
// generator step per skipped byte, a per-byte generator in every block) and a memcpy.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "image/container.h"
#include "image/descrambler.h"
#include "image/file_stream.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

constexpr size_t PREFIX_SIZE = 3 * 1024 * 1024;
constexpr uint32_t IMAGE_SIZE = IMAGE_SIZE_4MIB;

// A program file: 3 MiB of executable-like bytes, then a container with a 4 MiB image.
struct Fixture {
    testing::TempDir dir;
    std::string path;
    std::vector<uint8_t> storedImage;

    Fixture() {
        testing::ContainerParts parts = testing::MakeContainerParts(
            testing::MakePlainImage(IMAGE_SIZE, "ZLT010", 7), testing::PseudoRandomBytes(2048, 8),
            testing::ExecutableLikeBytes(PREFIX_SIZE, 9));
        storedImage = parts.storedImage;
        path = dir.File("program.exe");
        testing::WriteContainerFile(path, parts);
    }
};

Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

// The generator stepped one multiplication and division at a time.
class SteppingGenerator {
public:
    uint32_t Next() {
        x_ = (x_ * Descrambler::MUL + Descrambler::INC) % Descrambler::MOD;
        return x_;
    }
    void Skip(uint32_t count) {
        x_ = Descrambler::SEED;
        for (uint32_t i = 0; i < count; ++i) Next();
    }
    void DescrambleBlock(uint8_t* block) {
        std::unique_ptr<uint8_t[]> scratch(new uint8_t[BLOCK_SIZE]);
        for (size_t r = 0; r < 16; ++r) {
            for (size_t j = 0; j < 256; ++j) scratch[256 * r + j] = block[256 * ROW[r] + PERM[j]];
        }
        std::memcpy(block, scratch.get(), BLOCK_SIZE);
        for (size_t p = 0; p < BLOCK_SIZE; ++p) block[p] = static_cast<uint8_t>(block[p] - (Next() & 0xFF));
    }

private:
    uint32_t x_ = Descrambler::SEED;
};

struct NaiveResult {
    bool ok = false;
    uint32_t imageStart = 0;
    int modelIndex = -1;
};

// The opening sequence with one small read per offset and per byte.
NaiveResult OpenContainerNaive(const std::string& path, SteppingGenerator& generator) {
    NaiveResult result;
    const std::optional<uint64_t> size = FileSizeOf(path);
    std::optional<FileStream> stream = FileStream::Open(path);
    if (!size || !stream) return result;
    const volatile uint32_t firstHalf = 0x6E6C5740;
    int64_t found = -1;
    uint8_t word[4];
    for (uint64_t pos = 0; stream->Seek(pos) && stream->Read(word, 4) == 4; ++pos) {
        if (LoadLe32(word) == firstHalf) {
            if (stream->Read(word, 4) < 4) break;
            if (LoadLe32(word) == 0x40706124) {
                found = static_cast<int64_t>(pos);
                break;
            }
        }
    }
    if (found < 0) return result;
    uint8_t header[CONTAINER_HEADER_SIZE];
    stream->Seek(static_cast<uint64_t>(found));
    if (stream->Read(header, sizeof header) < sizeof header) return result;
    const uint32_t count = LoadLe32(header + 8) + LoadLe32(header + 12);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t byte;
        if (stream->Read(&byte, 1) != 1) return result;
        sum += byte;
    }
    if (sum != LoadLe32(header + 16)) return result;
    const uint32_t imageStart = static_cast<uint32_t>(found) + CONTAINER_HEADER_SIZE + LoadLe32(header + 8);
    const uint32_t imageSize = static_cast<uint32_t>(*size) - imageStart;
    std::array<uint8_t, BLOCK_SIZE> trailer{};
    stream->Seek(*size - BLOCK_SIZE);
    stream->Read(trailer.data(), trailer.size());
    generator.Skip(imageSize - static_cast<uint32_t>(BLOCK_SIZE));
    generator.DescrambleBlock(trailer.data());
    result.modelIndex = FindModel(trailer.data() + TRAILER_MODEL_OFFSET);
    result.imageStart = imageStart;
    result.ok = result.modelIndex >= 0;
    return result;
}

void BM_OpenContainer(benchmark::State& state) {
    const Fixture& fixture = TheFixture();
    Descrambler descrambler;
    for (auto _ : state) {
        Result<ContainerInfo, ContainerError> info = OpenContainer(fixture.path, descrambler);
        if (!info.ok()) {
            state.SkipWithError(DescribeContainerError(info.error()));
            break;
        }
        benchmark::DoNotOptimize(info->modelIndex);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(PREFIX_SIZE + IMAGE_SIZE));
}
BENCHMARK(BM_OpenContainer)->Unit(benchmark::kMillisecond);

void BM_OpenContainerNaive(benchmark::State& state) {
    const Fixture& fixture = TheFixture();
    SteppingGenerator generator;
    for (auto _ : state) {
        const NaiveResult result = OpenContainerNaive(fixture.path, generator);
        if (!result.ok) {
            state.SkipWithError("the naive opening failed");
            break;
        }
        benchmark::DoNotOptimize(result.modelIndex);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(PREFIX_SIZE + IMAGE_SIZE));
}
BENCHMARK(BM_OpenContainerNaive)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DescrambleImage(benchmark::State& state) {
    std::vector<uint8_t> image = TheFixture().storedImage;
    Descrambler descrambler;
    for (auto _ : state) {
        descrambler.Skip(0);
        for (size_t offset = 0; offset < image.size(); offset += BLOCK_SIZE) {
            descrambler.DescrambleBlock(image.data() + offset);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_DescrambleImage)->Unit(benchmark::kMillisecond);

void BM_DescrambleImageNaive(benchmark::State& state) {
    std::vector<uint8_t> image = TheFixture().storedImage;
    SteppingGenerator generator;
    for (auto _ : state) {
        generator.Skip(0);
        for (size_t offset = 0; offset < image.size(); offset += BLOCK_SIZE) {
            generator.DescrambleBlock(image.data() + offset);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_DescrambleImageNaive)->Unit(benchmark::kMillisecond);

void BM_CopyImage(benchmark::State& state) {
    const std::vector<uint8_t>& source = TheFixture().storedImage;
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_CopyImage)->Unit(benchmark::kMillisecond);

// Both descramblers must agree before their speeds mean anything.
void BM_DescramblersAgree(benchmark::State& state) {
    const std::vector<uint8_t>& stored = TheFixture().storedImage;
    for (auto _ : state) {
        std::vector<uint8_t> fast(stored.begin(), stored.begin() + 16 * BLOCK_SIZE);
        std::vector<uint8_t> slow = fast;
        Descrambler descrambler;
        SteppingGenerator generator;
        descrambler.Skip(IMAGE_SIZE - 16 * BLOCK_SIZE);
        generator.Skip(IMAGE_SIZE - 16 * BLOCK_SIZE);
        for (size_t offset = 0; offset < fast.size(); offset += BLOCK_SIZE) {
            descrambler.DescrambleBlock(fast.data() + offset);
            generator.DescrambleBlock(slow.data() + offset);
        }
        if (fast != slow) {
            state.SkipWithError("descramblers disagree");
            break;
        }
    }
}
BENCHMARK(BM_DescramblersAgree)->Iterations(1);

}  // namespace
}  // namespace quorsel
