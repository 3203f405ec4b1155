// The firmware container appended to the program file: locate it, check it, and
// read the model code and the loader.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/result.h"
#include "image/byte_source.h"
#include "image/descrambler.h"
#include "image/file_stream.h"
#include "image/model_tables.h"

namespace quorsel {

constexpr uint32_t CONTAINER_HEADER_SIZE = 20;
constexpr uint32_t IMAGE_SIZE_2MIB = 0x200000;
constexpr uint32_t IMAGE_SIZE_4MIB = 0x400000;
constexpr uint32_t LOADER_MAX = 4096;
constexpr uint32_t TRAILER_MODEL_OFFSET = 0xFF0;

// Why opening the container failed, in the order the checks run.
enum class ContainerError {
    FileNotFound,
    FileTooLarge,
    CannotOpen,
    FileInUse,       // another program holds the file open for writing (Windows)
    NoSignature,
    BadHeader,       // header short, or the byte sum does not match
    BadImageSize,    // image not exactly 2 MiB or 4 MiB
    UnknownModel,
    LoaderTooLong,   // serial runs only
    ReadFailed,
    // A signed program file: its security directory names bytes past its end, a
    // certificate table that does not end the file, or the bytes between the image
    // and the table are not zero padding.
    SignatureOutsideFile,
    SignatureNotAtEnd,
    SignaturePaddingNotZero,
    // A signed program file whose bytes changed after signing, or whose signature
    // cannot be checked.
    SignatureMismatch,
    SignatureUncheckable,
};

const char* DescribeContainerError(ContainerError error);

// Where the container lies in its file and what its image is for.
struct ContainerLayout {
    uint32_t containerOffset = 0;
    uint32_t imageStart = 0;
    uint32_t imageSize = 0;
    int modelIndex = -1;
    std::array<uint8_t, 16> trailerTail{};  // trailer bytes 0xFF0..0xFFF; the model code is the first six
    const RegionTable* regions = nullptr;
    // A signed program file's certificate table (size 0: the file is not signed) and
    // the zero bytes between the image's end and the table.
    uint32_t signatureOffset = 0;
    uint32_t signatureSize = 0;
    uint32_t signaturePadding = 0;
};

struct ContainerInfo : ContainerLayout {
    FileStream stream;  // open on the program file; owned by the run
};

// The two image sizes a container may hold. Only the fuzzer scales them down, so that
// its inputs stay small; every other caller takes the defaults.
struct ImageSizes {
    uint32_t small = IMAGE_SIZE_2MIB;
    uint32_t large = IMAGE_SIZE_4MIB;
};

// Offset of the first signature in the file, or -1. Scans from offset 0 wherever the
// stream stands; every byte offset is tried, also those inside a partial match.
int64_t FindContainer(ByteSource& stream);
// The same, reading at most chunk bytes at a time (1 to 64 KiB).
int64_t FindContainer(ByteSource& stream, size_t chunk);
// Reads the header at containerOffset and tests the byte sum over the loaderLength +
// imageLength bytes after it (a 64-bit count): the image start, or -1.
int64_t CheckContainer(ByteSource& stream, uint32_t containerOffset);
// The checks after the file is open, on a source of fileSize bytes (below 4 GiB):
// signature, header and byte sum, image size, model code. The image runs to the end
// of the file, or, in a signed Windows program file, to the certificate table that
// ends it (less up to 7 zero bytes aligning the table to 8). Leaves the descrambler
// standing after the trailer block.
Result<ContainerLayout, ContainerError> LocateContainer(ByteSource& source, uint64_t fileSize,
                                                        Descrambler& descrambler, ImageSizes sizes = {});
// The whole opening sequence on the file at path; leaves the descrambler standing
// after the trailer block. The file is opened once (on Windows with writers shut out
// for as long as the stream is open): its size, a signed file's Authenticode digest
// and the container are all taken from that one open stream.
Result<ContainerInfo, ContainerError> OpenContainer(const std::string& path, Descrambler& descrambler);
// The six-character model code of the container in the file at path (a firmware
// file, whichever updater it carries).
Result<std::string, ContainerError> ReadFirmwareModel(const std::string& path);
// Fills loader with the container's loader; its length, or LoaderTooLong.
Result<uint32_t, ContainerError> ReadLoader(ByteSource& source, const ContainerLayout& layout,
                                            std::array<uint8_t, LOADER_MAX>& loader);
Result<uint32_t, ContainerError> ReadLoader(ContainerInfo& info, std::array<uint8_t, LOADER_MAX>& loader);

}  // namespace quorsel
