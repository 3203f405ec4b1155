#include "image/container.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "common/le_bytes.h"
#include <set>
#include <string>
#include <vector>

#include "tests/support/container_builder.h"
#include "tests/support/file_permissions.h"
#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

constexpr uint32_t MIB2 = IMAGE_SIZE_2MIB;
constexpr uint32_t MIB4 = IMAGE_SIZE_4MIB;

// Scrambled images, made once per test program.
const std::vector<uint8_t>& StoredImage(uint32_t size, const std::string& model) {
    static std::map<std::pair<uint32_t, std::string>, std::vector<uint8_t>> cache;
    std::vector<uint8_t>& image = cache[{size, model}];
    if (image.empty()) {
        image = testing::ScrambleImage(testing::MakePlainImage(size, model, size ^ 0x5A5A));
    }
    return image;
}

testing::ContainerParts Parts(uint32_t imageSize, const std::string& model, size_t loaderSize = 200,
                           size_t prefixSize = 5000) {
    testing::ContainerParts parts;
    parts.prefix = testing::ExecutableLikeBytes(prefixSize, 1);
    parts.loader = testing::PseudoRandomBytes(loaderSize, 2);
    parts.storedImage = StoredImage(imageSize, model);
    return parts;
}

class Container : public ::testing::Test {
protected:
    std::string Write(const testing::ContainerParts& parts) { return WriteBytes(testing::BuildContainerFile(parts)); }

    std::string WriteBytes(const std::vector<uint8_t>& bytes) {
        const std::string path = dir_.File("file" + std::to_string(files_++) + ".exe");
        EXPECT_TRUE(testing::WriteBytes(path, bytes));
        return path;
    }

    Result<ContainerInfo, ContainerError> Open(const std::string& path) { return OpenContainer(path, descrambler_); }

    ContainerError OpenError(const testing::ContainerParts& parts) {
        Result<ContainerInfo, ContainerError> result = Open(Write(parts));
        EXPECT_FALSE(result.ok());
        return result.ok() ? ContainerError::ReadFailed : result.error();
    }

    int64_t Find(const std::vector<uint8_t>& bytes) {
        std::optional<FileStream> stream = FileStream::Open(WriteBytes(bytes));
        EXPECT_TRUE(stream.has_value());
        return stream ? FindContainer(*stream) : -2;
    }

    testing::TempDir dir_;
    int files_ = 0;
    Descrambler descrambler_;
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> pieces) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST_F(Container, OpensEachModelAndReportsWhereEverythingIs) {
    const std::string rest = "tail-bytes";
    for (int model = 0; model < MODEL_COUNT; ++model) {
        SCOPED_TRACE(MODEL_CODES[model]);
        testing::ContainerParts parts = Parts(MIB2, "", 300, 3000 + static_cast<size_t>(model));
        parts.storedImage = testing::ScrambleImage(testing::MakePlainImage(MIB2, MODEL_CODES[model], 9, rest));
        Result<ContainerInfo, ContainerError> info = Open(Write(parts));
        ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
        const uint32_t containerOffset = 3000 + static_cast<uint32_t>(model);
        EXPECT_EQ(info->containerOffset, containerOffset);
        EXPECT_EQ(info->imageStart, containerOffset + CONTAINER_HEADER_SIZE + 300);
        EXPECT_EQ(info->imageSize, MIB2);
        EXPECT_EQ(info->modelIndex, model);
        EXPECT_EQ(std::string(info->trailerTail.begin(), info->trailerTail.begin() + 6), MODEL_CODES[model]);
        EXPECT_EQ(std::string(info->trailerTail.begin() + 6, info->trailerTail.end()), rest);
        EXPECT_EQ(info->regions, &RegionTableOf(model));
        EXPECT_TRUE(info->stream.IsOpen());

        // The generator stands behind the trailer block.
        Descrambler behind;
        behind.Skip(MIB2);
        EXPECT_EQ(descrambler_.Next(), behind.Next());

        std::array<uint8_t, LOADER_MAX> loader{};
        Result<uint32_t, ContainerError> length = ReadLoader(*info, loader);
        ASSERT_TRUE(length.ok());
        EXPECT_EQ(*length, 300u);
        EXPECT_TRUE(std::equal(parts.loader.begin(), parts.loader.end(), loader.begin()));
    }
}

TEST_F(Container, LayoutComesFromTheModelNotFromTheImageSize) {
    // A 4 MiB image of a 2 MiB-layout model, and a 2 MiB image of a 4 MiB-layout model.
    Result<ContainerInfo, ContainerError> big = Open(Write(Parts(MIB4, "MXD001")));
    ASSERT_TRUE(big.ok()) << DescribeContainerError(big.error());
    EXPECT_EQ(big->imageSize, MIB4);
    EXPECT_EQ(big->modelIndex, 3);
    EXPECT_EQ(big->regions, &LAYOUT_2MIB);

    Result<ContainerInfo, ContainerError> small = Open(Write(Parts(MIB2, "ZLT011")));
    ASSERT_TRUE(small.ok()) << DescribeContainerError(small.error());
    EXPECT_EQ(small->imageSize, MIB2);
    EXPECT_EQ(small->modelIndex, 5);
    EXPECT_EQ(small->regions, &LAYOUT_4MIB);

    Result<ContainerInfo, ContainerError> both = Open(Write(Parts(MIB4, "KRV011")));
    ASSERT_TRUE(both.ok()) << DescribeContainerError(both.error());
    EXPECT_EQ(both->regions, &LAYOUT_4MIB);
}

TEST_F(Container, BytesAfterTheModelCodeHaveNoEffect) {
    std::set<std::string> tails;
    for (const std::string& rest : {std::string(10, '\0'), std::string(10, '\xFF'), std::string("KRV010KRV0")}) {
        testing::ContainerParts parts = Parts(MIB2, "");
        parts.storedImage = testing::ScrambleImage(testing::MakePlainImage(MIB2, "KRV011", 4, rest));
        Result<ContainerInfo, ContainerError> info = Open(Write(parts));
        ASSERT_TRUE(info.ok());
        EXPECT_EQ(info->modelIndex, 2);
        tails.insert(std::string(info->trailerTail.begin() + 6, info->trailerTail.end()));
    }
    EXPECT_EQ(tails.size(), 3u);
}

TEST_F(Container, ModelCodeDifferingInAnyCharacterIsUnknown) {
    for (size_t position = 0; position < MODEL_CODE_LENGTH; ++position) {
        std::string code = "ZLT010";
        code[position] = static_cast<char>(code[position] ^ 0x20);  // changes case or digit to other
        SCOPED_TRACE(code);
        testing::ContainerParts parts = Parts(MIB2, "");
        parts.storedImage = testing::ScrambleImage(testing::MakePlainImage(MIB2, code, 6));
        EXPECT_EQ(OpenError(parts), ContainerError::UnknownModel);
    }
    // The code read without descrambling is not the code: a plain (unscrambled) image fails.
    testing::ContainerParts plain = Parts(MIB2, "");
    plain.storedImage = testing::MakePlainImage(MIB2, "KRV001", 6);
    EXPECT_EQ(OpenError(plain), ContainerError::UnknownModel);
}

TEST_F(Container, SignatureAtTheStartOfTheFileIsFound) {
    Result<ContainerInfo, ContainerError> info = Open(Write(Parts(MIB2, "KRV001", 16, 0)));
    ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
    EXPECT_EQ(info->containerOffset, 0u);
    EXPECT_EQ(info->imageStart, CONTAINER_HEADER_SIZE + 16);
}

TEST_F(Container, ScanFindsTheFirstWholeSignatureAtAnyByteOffset) {
    const std::vector<uint8_t> signature = testing::SignatureBytes();
    EXPECT_EQ(Find(signature), 0);
    // Inside partial matches: the scan goes on at the next byte, not eight bytes further.
    EXPECT_EQ(Find(Concat({Text("@Wln"), signature})), 4);
    EXPECT_EQ(Find(Concat({Text("@"), signature})), 1);
    EXPECT_EQ(Find(Concat({Text("@Wln$a"), signature})), 6);
    EXPECT_EQ(Find(Concat({Text("@Wln$ap"), signature})), 0);  // its last byte starts the real one
    EXPECT_EQ(Find(Concat({Text("x@Wln$a"), signature, Text("@"), signature})), 7);
    // Two signatures: the first wins.
    EXPECT_EQ(Find(Concat({Text("abc"), signature, Text("def"), signature})), 3);
    // Nothing to find.
    EXPECT_EQ(Find({}), -1);
    EXPECT_EQ(Find(Text("@Wln")), -1);
    EXPECT_EQ(Find(Text("@Wln$ap")), -1);
    EXPECT_EQ(Find(Text("@Wln$ap!@Wln@Wln-ap@ @Wln")), -1);
    EXPECT_EQ(Find(testing::ExecutableLikeBytes(300000, 8)), -1);
}

TEST_F(Container, ScanFindsSignaturesAcrossReadBoundaries) {
    // Offsets all around multiples of 64 KiB and 4 KiB, where reads and scan steps split
    // the file (later chunks begin seven bytes early, to overlap their predecessor).
    const std::vector<uint8_t> signature = testing::SignatureBytes();
    for (size_t boundary : {size_t{4096}, size_t{65536}, size_t{65536 - 7 + 4096}, size_t{2 * 65536},
                            size_t{3 * 65536 + 7}}) {
        for (size_t offset = boundary - 9; offset <= boundary + 1; ++offset) {
            std::vector<uint8_t> bytes = testing::ExecutableLikeBytes(offset, static_cast<uint32_t>(offset));
            bytes.insert(bytes.end(), signature.begin(), signature.end());
            EXPECT_EQ(Find(bytes), static_cast<int64_t>(offset));
            // A partial match that runs over the boundary in front of the real one.
            std::vector<uint8_t> partial = testing::ExecutableLikeBytes(offset, 3);
            const std::vector<uint8_t> broken = Concat({Text("@Wln$a"), signature});
            partial.insert(partial.end(), broken.begin(), broken.end());
            EXPECT_EQ(Find(partial), static_cast<int64_t>(offset + 6));
        }
    }
}

TEST_F(Container, ScanStartsFromTheBeginningWhereverTheStreamStands) {
    std::optional<FileStream> stream =
        FileStream::Open(WriteBytes(Concat({Text("0123456789"), testing::SignatureBytes(), Text("tail")})));
    ASSERT_TRUE(stream.has_value());
    ASSERT_TRUE(stream->Seek(15));
    EXPECT_EQ(FindContainer(*stream), 10);
}

TEST_F(Container, MissingOrUnusableFileFails) {
    EXPECT_EQ(Open(dir_.File("no-such-file")).error(), ContainerError::FileNotFound);
    EXPECT_EQ(Open(dir_.path()).error(), ContainerError::FileNotFound);  // a directory has no content
    EXPECT_EQ(Open("").error(), ContainerError::FileNotFound);
}

TEST_F(Container, FileOfFourGibibytesOrMoreFailsBeforeReading) {
    // Sparse files: no data is written, and none may be read.
    for (uint64_t size : {uint64_t{1} << 32, (uint64_t{1} << 32) + 12345}) {
        const std::string path = dir_.File("huge" + std::to_string(size));
        ASSERT_TRUE(testing::WriteBytes(path, testing::SignatureBytes()));
        std::error_code error;
        std::filesystem::resize_file(path, size, error);
        if (error) GTEST_SKIP() << "cannot make a sparse file of " << size << " bytes: " << error.message();
        EXPECT_EQ(Open(path).error(), ContainerError::FileTooLarge);
    }
}

TEST_F(Container, FileThatCannotBeOpenedFails) {
    const std::string path = Write(Parts(MIB2, "KRV001"));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    // Also under root (as in CI): the permissions apply to this thread.
    testing::PermissionsApply permissions;
    // A skip fails CI's Linux runs (scripts/check-skips.py); Windows has no such guard.
    if (!permissions.active()) GTEST_SKIP() << "file permissions cannot be made to apply to this thread here";
    ASSERT_FALSE(FileStream::Open(path).has_value()) << "a file without read permission was opened";
    EXPECT_EQ(Open(path).error(), ContainerError::CannotOpen);
}

TEST_F(Container, FileWithoutSignatureFails) {
    testing::ContainerParts parts = Parts(MIB2, "KRV001");
    EXPECT_EQ(Open(WriteBytes(parts.prefix)).error(), ContainerError::NoSignature);
    // The whole file with its signature's last byte changed.
    std::vector<uint8_t> bytes = testing::BuildContainerFile(parts);
    bytes[parts.prefix.size() + 7] = '!';
    EXPECT_EQ(Open(WriteBytes(bytes)).error(), ContainerError::NoSignature);
    // Only the first half of the signature.
    bytes = Concat({parts.prefix, Text("@Wln"), parts.loader, parts.storedImage});
    EXPECT_EQ(Open(WriteBytes(bytes)).error(), ContainerError::NoSignature);
}

TEST_F(Container, ByteSumMustMatch) {
    for (int delta : {+1, -1}) {
        testing::ContainerParts parts = Parts(MIB2, "KRV001");
        testing::ContainerParts good = parts;
        const std::vector<uint8_t> file = testing::BuildContainerFile(good);
        const size_t header = parts.prefix.size();
        parts.byteSum = LoadLe32(file.data() + header + 16) + static_cast<uint32_t>(delta);
        EXPECT_EQ(OpenError(parts), ContainerError::BadHeader);
    }
    // A single byte of the image changed after the sum was taken.
    testing::ContainerParts changed = Parts(MIB2, "KRV001");
    std::vector<uint8_t> file = testing::BuildContainerFile(changed);
    file[file.size() - 5000] ^= 0x10;
    EXPECT_EQ(Open(WriteBytes(file)).error(), ContainerError::BadHeader);
}

TEST_F(Container, BadSumIsNotSkippedForALaterContainer) {
    // A container with a wrong sum, then a well-formed one: the scan is not resumed.
    testing::ContainerParts first;
    first.loader = Text("loader");
    first.storedImage = testing::PseudoRandomBytes(64, 5);
    first.byteSum = 12345;
    testing::ContainerParts second = Parts(MIB2, "KRV001");
    second.prefix = Concat({testing::ExecutableLikeBytes(1000, 2), testing::BuildContainerFile(first)});
    EXPECT_EQ(OpenError(second), ContainerError::BadHeader);

    // The same with a correct sum in the first: the first container is taken, and its
    // image (everything up to the end of the file) has the wrong size.
    first.byteSum.reset();
    second.prefix = Concat({testing::ExecutableLikeBytes(1000, 2), testing::BuildContainerFile(first)});
    EXPECT_EQ(OpenError(second), ContainerError::BadImageSize);
}

TEST_F(Container, HeaderCutShortFails) {
    const std::vector<uint8_t> signature = testing::SignatureBytes();
    for (size_t extra : {size_t{0}, size_t{4}, size_t{11}}) {
        std::vector<uint8_t> bytes = Concat({testing::ExecutableLikeBytes(2000, 1), signature});
        bytes.resize(bytes.size() + extra, 0);
        EXPECT_EQ(Open(WriteBytes(bytes)).error(), ContainerError::BadHeader) << extra;
    }
}

TEST_F(Container, ImageLengthLargerThanTheBytesPresentFails) {
    testing::ContainerParts parts = Parts(MIB2, "KRV001");
    parts.imageLength = MIB2 + 1;
    EXPECT_EQ(OpenError(parts), ContainerError::BadHeader);
}

TEST_F(Container, LengthsWhoseSumWrapsIn32BitsFail) {
    // loaderLength + imageLength is 0x10 in 32-bit arithmetic, and the sum over 16 bytes
    // matches; the lengths describe far more bytes than the file has.
    testing::ContainerParts parts = Parts(MIB2, "KRV001", 16);
    parts.loaderLength = 0xFFFFFFF0u;
    parts.imageLength = 0x20;
    uint32_t sum = 0;
    for (uint8_t byte : parts.loader) sum += byte;
    parts.byteSum = sum;
    EXPECT_EQ(OpenError(parts), ContainerError::BadHeader);
}

TEST_F(Container, ImageLengthSmallerThanTheBytesPresentSumsOnlyThatMany) {
    // The sum covers loader + imageLength bytes; the image size still comes from the file.
    testing::ContainerParts parts = Parts(MIB2, "KRV010");
    parts.imageLength = MIB2 - 3 * BLOCK_SIZE;  // the builder sums this many image bytes
    Result<ContainerInfo, ContainerError> info = Open(Write(parts));
    ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
    EXPECT_EQ(info->imageSize, MIB2);
    EXPECT_EQ(info->modelIndex, 1);

    // A sum over every byte of the file no longer matches.
    uint32_t all = 0;
    for (uint8_t byte : parts.loader) all += byte;
    for (uint8_t byte : parts.storedImage) all += byte;
    parts.byteSum = all;
    EXPECT_EQ(OpenError(parts), ContainerError::BadHeader);
}

TEST_F(Container, ImageMustBeExactlyTwoOrFourMebibytes) {
    struct Case {
        uint32_t base;
        size_t cut;
        size_t extra;
    };
    // N = 0x1FF000, 0x200000 - 1, 0x300000, 0x400001, 0x400000 + 4096, 0.
    for (const Case& c : {Case{MIB2, BLOCK_SIZE, 0}, Case{MIB2, 1, 0}, Case{MIB2, 0, 0x100000},
                          Case{MIB4, 0, 1}, Case{MIB4, 0, BLOCK_SIZE}, Case{MIB2, MIB2, 0}}) {
        testing::ContainerParts parts = Parts(c.base, "KRV010");
        parts.storedImage.resize(parts.storedImage.size() - c.cut);
        parts.suffix.assign(c.extra, 0x5C);
        SCOPED_TRACE(parts.storedImage.size() + parts.suffix.size());
        EXPECT_EQ(OpenError(parts), ContainerError::BadImageSize);
    }
    for (uint32_t size : {MIB2, MIB4}) {
        Result<ContainerInfo, ContainerError> info = Open(Write(Parts(size, "KRV010")));
        ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
        EXPECT_EQ(info->imageSize, size);
    }
}

TEST_F(Container, LoaderOfAtMost4096BytesIsRead) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}}) {
        SCOPED_TRACE(size);
        testing::ContainerParts parts = Parts(MIB2, "KRV001", size);
        Result<ContainerInfo, ContainerError> info = Open(Write(parts));
        ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
        std::array<uint8_t, LOADER_MAX> loader{};
        loader.fill(0xEE);
        Result<uint32_t, ContainerError> length = ReadLoader(*info, loader);
        ASSERT_TRUE(length.ok()) << DescribeContainerError(length.error());
        EXPECT_EQ(*length, size);
        EXPECT_TRUE(std::equal(parts.loader.begin(), parts.loader.end(), loader.begin()));
    }
}

TEST_F(Container, LoaderLongerThan4096BytesFailsOnlyWhenRead) {
    for (size_t size : {size_t{4097}, size_t{70000}}) {
        SCOPED_TRACE(size);
        // Opening (all a LAN run does) is not affected by the loader's length.
        Result<ContainerInfo, ContainerError> info = Open(Write(Parts(MIB2, "KRV001", size)));
        ASSERT_TRUE(info.ok()) << DescribeContainerError(info.error());
        EXPECT_EQ(info->imageStart - info->containerOffset, CONTAINER_HEADER_SIZE + size);
        std::array<uint8_t, LOADER_MAX> loader{};
        Result<uint32_t, ContainerError> length = ReadLoader(*info, loader);
        ASSERT_FALSE(length.ok());
        EXPECT_EQ(length.error(), ContainerError::LoaderTooLong);
    }
}

TEST(ContainerErrorText, EveryErrorHasItsOwnDescription) {
    std::set<std::string> texts;
    for (ContainerError error :
         {ContainerError::FileNotFound, ContainerError::FileTooLarge, ContainerError::CannotOpen,
          ContainerError::FileInUse, ContainerError::NoSignature, ContainerError::BadHeader, ContainerError::BadImageSize,
          ContainerError::UnknownModel, ContainerError::LoaderTooLong, ContainerError::ReadFailed}) {
        const std::string text = DescribeContainerError(error);
        EXPECT_FALSE(text.empty());
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 10u);
}

}  // namespace
}  // namespace quorsel
