// The quorsel-pack program as the firmware build runs it: pack, --info, --extract,
// and the refusal of bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/le_bytes.h"
#include "image/container.h"
#include "image/descrambler.h"
#include "image/model_tables.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

using testing::CommandResult;
using testing::RunShell;
using testing::ShellQuote;
using testing::TempDir;

constexpr const char* PACKER = QUORSEL_BUILD_DIR "/quorsel-pack";
constexpr uint32_t SIGNATURE_LOW = 0x6E6C5740;   // "@Wln"
constexpr uint32_t SIGNATURE_HIGH = 0x40706124;  // "$ap@"

CommandResult RunPacker(std::initializer_list<std::string> args) {
    std::string script = ShellQuote(PACKER);
    for (const std::string& arg : args) script += " " + ShellQuote(arg);
    return RunShell(script);
}

std::vector<uint8_t> PseudoRandom(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

std::vector<uint8_t> ImageForModel(uint32_t size, std::string_view model, uint32_t seed) {
    std::vector<uint8_t> image = PseudoRandom(size, seed);
    std::copy(model.begin(), model.end(), image.begin() + (size - BLOCK_SIZE + TRAILER_MODEL_OFFSET));
    return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> Listing(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// What every refusal looks like: status 1 (not a crash), one line on stderr that
// names the program, nothing on stdout.
void ExpectRefused(const CommandResult& result, const std::string& mentions = "") {
    EXPECT_EQ(result.exitStatus, 1) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.err.rfind("quorsel-pack: ", 0), 0u) << result.err;
    EXPECT_FALSE(result.err.empty() || result.err.back() != '\n') << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    if (!mentions.empty()) {
        EXPECT_NE(result.err.find(mentions), std::string::npos) << result.err;
    }
}

uint16_t ExpectedChecksum(uint32_t start, uint32_t length, const uint8_t* bytes) {
    uint32_t sum = ByteSum32(start) + ByteSum32(length);
    for (uint32_t i = 0; i < length; ++i) sum += bytes[i];
    return static_cast<uint16_t>(sum % 65535);
}

std::string Hex(uint64_t value, int width) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(width) << std::setfill('0') << value;
    return text.str();
}

class PackerTest : public ::testing::Test {
protected:
    // Inputs: an updater-like file, a loader, and a packed 2 MiB KRV001 container.
    void SetUp() override {
        updater_ = PseudoRandom(12345, 1);
        loader_ = PseudoRandom(777, 2);
        WriteFile(Path("updater"), updater_);
        WriteFile(Path("loader"), loader_);
    }

    std::string Path(const std::string& name) const { return dir_.File(name); }

    // Writes the image and packs it into "packed"; the image stays in "image".
    void Pack(const std::vector<uint8_t>& image, const std::string& out = "packed") {
        WriteFile(Path("image"), image);
        const CommandResult result = RunPacker({Path("updater"), Path("loader"), Path("image"), Path(out)});
        ASSERT_EQ(result.exitStatus, 0) << result.err;
    }

    TempDir dir_;
    std::vector<uint8_t> updater_;
    std::vector<uint8_t> loader_;
};

// pack, then open as the updater does, then --extract: the image comes back unchanged.
class PackerRoundTrip : public PackerTest, public ::testing::WithParamInterface<std::tuple<uint32_t, int>> {};

TEST_P(PackerRoundTrip, ExtractGivesBackThePackedImage) {
    const auto [size, model] = GetParam();
    const std::vector<uint8_t> image = ImageForModel(size, MODEL_CODES[model], size + static_cast<uint32_t>(model));
    WriteFile(Path("image"), image);
    const CommandResult packed = RunPacker({Path("updater"), Path("loader"), Path("image"), Path("packed")});
    ASSERT_EQ(packed.exitStatus, 0) << packed.err;
    EXPECT_TRUE(packed.out.empty());
    const Region& last = RegionTableOf(model).back();
    const bool layoutFits = last.start + last.length == size;
    // A layout of another size than the image is packed with one warning line.
    EXPECT_EQ(packed.err.empty(), layoutFits) << packed.err;

    const std::vector<uint8_t> file = ReadFile(Path("packed"));
    ASSERT_EQ(file.size(), updater_.size() + CONTAINER_HEADER_SIZE + loader_.size() + size);
    EXPECT_TRUE(std::equal(updater_.begin(), updater_.end(), file.begin()));
    EXPECT_EQ(ModeOf(Path("packed")), 0755u);

    Descrambler descrambler;
    auto info = OpenContainer(Path("packed"), descrambler);
    ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
    EXPECT_EQ(info->containerOffset, updater_.size());
    EXPECT_EQ(info->imageStart, updater_.size() + CONTAINER_HEADER_SIZE + loader_.size());
    EXPECT_EQ(info->imageSize, size);
    EXPECT_EQ(info->modelIndex, model);
    std::array<uint8_t, LOADER_MAX> loader{};
    const auto loaded = ReadLoader(*info, loader);
    ASSERT_TRUE(loaded.ok());
    ASSERT_EQ(*loaded, loader_.size());
    EXPECT_TRUE(std::equal(loader_.begin(), loader_.end(), loader.begin()));

    const CommandResult extracted = RunPacker({"--extract", Path("packed"), Path("back")});
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.err;
    EXPECT_TRUE(extracted.err.empty()) << extracted.err;
    EXPECT_TRUE(ReadFile(Path("back")) == image);
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"updater", "loader", "image", "packed", "back"}));
}

INSTANTIATE_TEST_SUITE_P(AllSizesAndModels, PackerRoundTrip,
                         ::testing::Combine(::testing::Values(IMAGE_SIZE_2MIB, IMAGE_SIZE_4MIB),
                                            ::testing::Range(0, MODEL_COUNT)));

TEST_F(PackerTest, ReplacesAnExistingOutput) {
    WriteFile(Path("packed"), {1, 2, 3});
    ASSERT_EQ(::chmod(Path("packed").c_str(), 0600), 0);
    Pack(ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 9));
    EXPECT_EQ(ReadFile(Path("packed")).size(), updater_.size() + CONTAINER_HEADER_SIZE + loader_.size() + IMAGE_SIZE_2MIB);
    EXPECT_EQ(ModeOf(Path("packed")), 0755u);
}

TEST_F(PackerTest, InfoReportsTheContainerAndItsRegions) {
    const std::vector<uint8_t> image = ImageForModel(IMAGE_SIZE_4MIB, "ZLT011", 21);
    Pack(image);
    const std::vector<uint8_t> file = ReadFile(Path("packed"));
    const uint32_t imageStart = static_cast<uint32_t>(updater_.size() + CONTAINER_HEADER_SIZE + loader_.size());

    const CommandResult result = RunPacker({"--info", Path("packed")});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    const std::string& out = result.out;
    EXPECT_NE(out.find("container offset: 0x3039 (12345)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("loader length: 777\n"), std::string::npos) << out;
    EXPECT_NE(out.find("image start: " + Hex(imageStart, 1) + " (" + std::to_string(imageStart) + ")\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("image size: 0x400000 (4194304)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("model: ZLT011 (index 5)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("signed: no\n"), std::string::npos) << out;
    for (size_t i = 0; i < LAYOUT_4MIB.size(); ++i) {
        const Region& r = LAYOUT_4MIB[i];
        const uint16_t raw = ExpectedChecksum(r.start, r.length, file.data() + imageStart + r.start);
        const uint16_t plain = ExpectedChecksum(r.start, r.length, image.data() + r.start);
        const std::string line = "region " + std::to_string(i) + ": start " + Hex(r.start, 6) + " length " +
                                 Hex(r.length, 6) + " raw " + Hex(raw, 4) + " descrambled " + Hex(plain, 4) + "\n";
        EXPECT_NE(out.find(line), std::string::npos) << "expected " << line << "in\n" << out;
    }
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 12) << out;
}

// A Windows program's first bytes, as far as signing reads them: DOS header, "PE\0\0",
// a file header and a PE32+ optional header with 16 empty data directories.
std::vector<uint8_t> PeUpdater(size_t size) {
    constexpr uint32_t PE_OFFSET = 0x80;
    constexpr uint32_t OPTIONAL_HEADER = PE_OFFSET + 24;
    constexpr uint32_t DIRECTORY_COUNT_AT = OPTIONAL_HEADER + 108;
    constexpr uint32_t DIRECTORIES = 16;
    std::vector<uint8_t> bytes = PseudoRandom(size, 5);
    std::fill(bytes.begin(), bytes.begin() + 0x200, uint8_t{0});
    bytes[0] = 'M';
    bytes[1] = 'Z';
    StoreLe32(&bytes[0x3C], PE_OFFSET);
    std::copy_n("PE\0\0", 4, bytes.begin() + PE_OFFSET);
    StoreLe16(&bytes[PE_OFFSET + 4 + 16], static_cast<uint16_t>(108 + 4 + DIRECTORIES * 8));
    StoreLe16(&bytes[OPTIONAL_HEADER], 0x20B);
    StoreLe32(&bytes[DIRECTORY_COUNT_AT], DIRECTORIES);
    return bytes;
}

// The packed file signed with a throw-away self-signed certificate and the digest
// algorithm given (osslsigncode, as scripts/sign-firmware.sh signs).
CommandResult Sign(const std::string& folder, const std::string& in, const std::string& out,
                   const std::string& digest) {
    const std::string key = ShellQuote(folder + "/key.pem"), cert = ShellQuote(folder + "/cert.pem");
    return RunShell("set -e; [ -s " + cert + " ] || openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                    "'/CN=Quorsel test vendor' -keyout " + key + " -out " + cert + " 2>/dev/null; "
                    "osslsigncode sign -certs " + cert + " -key " + key + " -h " + digest + " -in " +
                    ShellQuote(in) + " -out " + ShellQuote(out) + " >/dev/null");
}

TEST_F(PackerTest, InfoChecksASignedFilesDigestAndRefusesAFileChangedAfterSigning) {
    updater_ = PeUpdater(12345);
    WriteFile(Path("updater"), updater_);
    Pack(ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 31));
    const std::string intact = "signature: the file's bytes match its Authenticode digest\n";
    for (const std::string digest : {"sha256", "sha1"}) {
        SCOPED_TRACE(digest);
        const std::string signedFile = Path("signed-" + digest);
        const CommandResult signing = Sign(Path(""), Path("packed"), signedFile, digest);
        ASSERT_EQ(signing.exitStatus, 0) << signing.err;
        const CommandResult result = RunPacker({"--info", signedFile});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_NE(result.out.find("signed: yes"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(intact), std::string::npos) << result.out;
    }

    // Two image bytes swapped: the container's sum still holds, the digest does not.
    std::vector<uint8_t> file = ReadFile(Path("signed-sha256"));
    const size_t first = updater_.size() + CONTAINER_HEADER_SIZE + loader_.size() + 0x100000;
    size_t second = first + 1;
    while (file[second] == file[first]) ++second;
    std::swap(file[first], file[second]);
    WriteFile(Path("changed"), file);
    const CommandResult changed = RunPacker({"--info", Path("changed")});
    EXPECT_NE(changed.exitStatus, 0);
    const std::string mismatch = DescribeContainerError(ContainerError::SignatureMismatch);
    EXPECT_NE(changed.out.find("signature: " + mismatch + "\n"), std::string::npos) << changed.out;
    EXPECT_NE(changed.out.find("model: KRV001"), std::string::npos) << changed.out;
    EXPECT_NE(changed.err.find(mismatch), std::string::npos) << changed.err;
    Descrambler descrambler;
    const auto opened = OpenContainer(Path("changed"), descrambler);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), ContainerError::SignatureMismatch);

    // The header's checksum field is not covered by the digest.
    file = ReadFile(Path("signed-sha256"));
    file[0x80 + 24 + 64] ^= 0x5A;
    WriteFile(Path("checksum"), file);
    EXPECT_EQ(RunPacker({"--info", Path("checksum")}).exitStatus, 0);

    // A byte of the signature value (the last of the PKCS#7 data) changed: the digest
    // still matches, the signature over the signed attributes does not.
    file = ReadFile(Path("signed-sha256"));
    const uint32_t table = LoadLe32(&file[0x80 + 24 + 112 + 4 * 8]);
    const uint32_t length = LoadLe32(&file[table]);  // WIN_CERTIFICATE's dwLength
    file[table + length - 10] ^= 0x01;
    WriteFile(Path("signature"), file);
    const CommandResult forged = RunPacker({"--info", Path("signature")});
    EXPECT_NE(forged.exitStatus, 0);
    EXPECT_NE(forged.out.find("signature: " + mismatch + "\n"), std::string::npos) << forged.out;
}

TEST_F(PackerTest, InfoMarksRegionsBeyondTheImageAndALongLoader) {
    loader_ = PseudoRandom(LOADER_MAX + 1, 3);
    WriteFile(Path("loader"), loader_);
    WriteFile(Path("image"), ImageForModel(IMAGE_SIZE_2MIB, "KRV010", 4));
    const CommandResult packed = RunPacker({Path("updater"), Path("loader"), Path("image"), Path("packed")});
    ASSERT_EQ(packed.exitStatus, 0) << packed.err;
    EXPECT_EQ(std::count(packed.err.begin(), packed.err.end(), '\n'), 2) << packed.err;  // two warnings

    const CommandResult result = RunPacker({"--info", Path("packed")});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("loader length: 4097 (serial runs refuse it: " +
                              std::string(DescribeContainerError(ContainerError::LoaderTooLong)) + ")\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("model: KRV010 (index 1)\n"), std::string::npos) << result.out;
    // Region 5 of the 4 MiB layout runs past the end of a 2 MiB image.
    EXPECT_NE(result.out.find("region 5: start 0x01e000 length 0x3e2000 raw 0xffff (failed) descrambled 0xffff "
                              "(failed)\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("region 4: start 0x010000 length 0x00e000 raw 0x"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("region 4: start 0x010000 length 0x00e000 raw 0xffff"), std::string::npos)
        << result.out;
}

// ----- refusals -----

TEST_F(PackerTest, WrongArgumentsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {Path("updater")},
        {Path("loader"), Path("image")},
        {"--windows", Path("loader"), Path("image")},
        {"--windows", Path("updater"), Path("loader"), Path("image"), Path("out")},
        {Path("updater"), Path("loader"), Path("image"), Path("out"), Path("more")},
        {"--info"},
        {"--info", Path("packed"), Path("out")},
        {"--extract", Path("packed")},
        {"--extract", Path("packed"), Path("out"), Path("more")},
        {"--pack", Path("updater"), Path("loader"), Path("out")},
    };
    for (const auto& args : cases) {
        std::string script = ShellQuote(PACKER);
        for (const auto& arg : args) script += " " + ShellQuote(arg);
        SCOPED_TRACE(script);
        ExpectRefused(RunShell(script), "usage");
    }
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"updater", "loader"}));
}

// LOADER IMAGE OUT packs the installed updater, --windows the installed quorsel.exe:
// in a private mount namespace whose installed folder is empty, both are missing by
// their built-in paths.
TEST_F(PackerTest, WithoutAnUpdaterTheInstalledOneIsTaken) {
    WriteFile(Path("image"), ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 5));
    const std::string namespaced = ShellQuote(QUORSEL_SOURCE_DIR "/tests/e2e/run_private_mounts.sh") +
                                   " --hide-dir " + ShellQuote(QUORSEL_LIBDIR) + " -- " + ShellQuote(PACKER);
    for (const auto& [option, file] : {std::pair<std::string, std::string>{"", "quorsel"}, {"--windows", "quorsel.exe"}}) {
        SCOPED_TRACE(option);
        ExpectRefused(RunShell(namespaced + " " + option + " " + ShellQuote(Path("loader")) + " " +
                               ShellQuote(Path("image")) + " " + ShellQuote(Path("out"))),
                      "updater: cannot read '" + std::string(QUORSEL_LIBDIR) + "/" + file + "'");
        EXPECT_FALSE(std::filesystem::exists(Path("out")));
    }
}

TEST_F(PackerTest, MissingOrUnreadableInputsAreRefused) {
    WriteFile(Path("image"), ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 5));
    std::filesystem::create_directory(Path("folder"));
    const std::vector<std::array<std::string, 4>> cases = {
        {Path("none"), Path("loader"), Path("image"), Path("out")},
        {Path("updater"), Path("none"), Path("image"), Path("out")},
        {Path("updater"), Path("loader"), Path("none"), Path("out")},
        {Path("folder"), Path("loader"), Path("image"), Path("out")},
        {Path("updater"), Path("folder"), Path("image"), Path("out")},
        {Path("updater"), Path("loader"), Path("folder"), Path("out")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0] + " " + c[1] + " " + c[2]);
        ExpectRefused(RunPacker({c[0], c[1], c[2], c[3]}));
        EXPECT_FALSE(std::filesystem::exists(Path("out")));
    }
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"updater", "loader", "image", "folder"}));
}

TEST_F(PackerTest, ImagesOfOtherSizesAreRefused) {
    for (const uint32_t size : {0u, IMAGE_SIZE_2MIB - 1, IMAGE_SIZE_2MIB + 1, IMAGE_SIZE_2MIB - 4096, 0x300000u,
                                IMAGE_SIZE_4MIB + 1, IMAGE_SIZE_4MIB + 4096}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> image = PseudoRandom(size, size);
        if (size >= BLOCK_SIZE) {
            const std::string_view code = "KRV001";
            std::copy(code.begin(), code.end(), image.begin() + (size - BLOCK_SIZE + TRAILER_MODEL_OFFSET));
        }
        WriteFile(Path("image"), image);
        ExpectRefused(RunPacker({Path("updater"), Path("loader"), Path("image"), Path("out")}),
                      "image is " + std::to_string(size) + " bytes");
        EXPECT_FALSE(std::filesystem::exists(Path("out")));
    }
}

TEST_F(PackerTest, UnknownModelCodesAreRefusedByName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"KRV002", "\"KRV002\""},
        {"krv001", "\"krv001\""},
        {std::string("KRV01\0", 6), "\"KRV01\\x00\""},
        {std::string("MXD\xff\x01\"", 6), "\"MXD\\xff\\x01\\x22\""},
    };
    for (const uint32_t size : {IMAGE_SIZE_2MIB, IMAGE_SIZE_4MIB}) {
        for (const auto& [code, shown] : cases) {
            SCOPED_TRACE(shown);
            const std::vector<uint8_t> image = ImageForModel(size, code, 6);
            WriteFile(Path("image"), image);
            WriteFile(Path("packed"), {'o', 'l', 'd'});
            ExpectRefused(RunPacker({Path("updater"), Path("loader"), Path("image"), Path("packed")}),
                          "model code " + shown);
            // A failed pack leaves an existing output as it was.
            EXPECT_EQ(ReadFile(Path("packed")), (std::vector<uint8_t>{'o', 'l', 'd'}));
        }
    }
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"updater", "loader", "image", "packed"}));
}

TEST_F(PackerTest, AnUpdaterThatHoldsTheSignatureIsRefused) {
    WriteFile(Path("image"), ImageForModel(IMAGE_SIZE_2MIB, "MXD001", 7));
    for (const size_t at : {size_t{0}, size_t{5000}, updater_.size() - 8}) {
        SCOPED_TRACE(at);
        std::vector<uint8_t> updater = updater_;
        StoreLe32(updater.data() + at, SIGNATURE_LOW);
        StoreLe32(updater.data() + at + 4, SIGNATURE_HIGH);
        WriteFile(Path("signed"), updater);
        ExpectRefused(RunPacker({Path("signed"), Path("loader"), Path("image"), Path("out")}), "signature");
        EXPECT_FALSE(std::filesystem::exists(Path("out")));
    }
    // A packed program file is such an updater: packing it again is refused.
    Pack(ImageForModel(IMAGE_SIZE_2MIB, "MXD001", 7));
    ExpectRefused(RunPacker({Path("packed"), Path("loader"), Path("image"), Path("twice")}), "signature");
    EXPECT_FALSE(std::filesystem::exists(Path("twice")));
}

TEST_F(PackerTest, UnwritableOutputsAreRefusedWithoutLeftovers) {
    WriteFile(Path("image"), ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 8));
    std::filesystem::create_directory(Path("existing-dir"));
    WriteFile(Path("existing-dir/keep"), {1});
    const std::vector<std::string> outputs = {
        Path("missing-dir/out"),  // a directory that does not exist
        Path("existing-dir"),     // a directory in the output's place
        Path("updater") + "/out", // a regular file where a directory should be
        Path("existing-dir") + "/",
    };
    for (const std::string& out : outputs) {
        SCOPED_TRACE(out);
        ExpectRefused(RunPacker({Path("updater"), Path("loader"), Path("image"), out}));
        ExpectRefused(RunPacker({"--extract", Path("none"), out}));
    }
    EXPECT_EQ(Listing(dir_.path()), (std::set<std::string>{"updater", "loader", "image", "existing-dir"}));
    EXPECT_EQ(Listing(Path("existing-dir")), (std::set<std::string>{"keep"}));
    EXPECT_EQ(ReadFile(Path("updater")), updater_);
}

// A file that is not a good container: --info and --extract say which check failed.
class BadContainerTest : public PackerTest {
protected:
    void SetUp() override {
        PackerTest::SetUp();
        image_ = ImageForModel(IMAGE_SIZE_2MIB, "KRV001", 10);
        Pack(image_);
        packed_ = ReadFile(Path("packed"));
        imageStart_ = updater_.size() + CONTAINER_HEADER_SIZE + loader_.size();
    }

    void ExpectBothRefuse(const std::vector<uint8_t>& file, ContainerError error) {
        WriteFile(Path("bad"), file);
        ExpectBothRefuse(Path("bad"), error);
    }

    void ExpectBothRefuse(const std::string& path, ContainerError error) {
        const std::string reason = DescribeContainerError(error);
        ExpectRefused(RunPacker({"--info", path}), reason);
        ExpectRefused(RunPacker({"--extract", path, Path("out")}), reason);
        EXPECT_FALSE(std::filesystem::exists(Path("out")));
    }

    std::vector<uint8_t> image_;
    std::vector<uint8_t> packed_;
    size_t imageStart_ = 0;
};

TEST_F(BadContainerTest, MissingFile) { ExpectBothRefuse(Path("none"), ContainerError::FileNotFound); }

TEST_F(BadContainerTest, NoSignature) { ExpectBothRefuse(updater_, ContainerError::NoSignature); }

TEST_F(BadContainerTest, ByteSumMismatch) {
    std::vector<uint8_t> file = packed_;
    file[imageStart_ + 1000] ^= 0x01;
    ExpectBothRefuse(file, ContainerError::BadHeader);
}

TEST_F(BadContainerTest, ShortHeader) {
    std::vector<uint8_t> file(updater_.begin(), updater_.end());
    file.insert(file.end(), packed_.begin() + static_cast<std::ptrdiff_t>(updater_.size()),
                packed_.begin() + static_cast<std::ptrdiff_t>(updater_.size() + 12));
    ExpectBothRefuse(file, ContainerError::BadHeader);
}

TEST_F(BadContainerTest, ImageOfAnotherSize) {
    // Bytes after the summed ones still belong to the image, whose size is then wrong.
    std::vector<uint8_t> file = packed_;
    file.push_back(0);
    ExpectBothRefuse(file, ContainerError::BadImageSize);
}

TEST_F(BadContainerTest, UnknownModel) {
    // Change the stored byte that becomes the model code's first character, and keep
    // the byte sum right.
    const size_t trailer = imageStart_ + IMAGE_SIZE_2MIB - BLOCK_SIZE;
    const size_t p = TRAILER_MODEL_OFFSET;
    const size_t stored = trailer + 256 * ROW[p / 256] + PERM[p % 256];
    std::vector<uint8_t> file = packed_;
    file[stored] = static_cast<uint8_t>(file[stored] + 1);  // 'K' becomes 'L'
    uint8_t* sum = file.data() + updater_.size() + 16;
    StoreLe32(sum, LoadLe32(sum) + 1);
    ExpectBothRefuse(file, ContainerError::UnknownModel);

    // The same change undone is accepted again: the edit above touched only the code.
    file[stored] = static_cast<uint8_t>(file[stored] - 1);
    StoreLe32(sum, LoadLe32(sum) - 1);
    EXPECT_EQ(file, packed_);
}

}  // namespace
}  // namespace quorsel
