// Locating, checking and opening the firmware container appended to the program file.
#include "image/container.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/le_bytes.h"
#include "image/byte_sum.h"
#include "image/certificate_table.h"
#include "image/file_signature.h"

namespace quorsel {

namespace {

// The container signature, held as two 32-bit halves ("@Wln" and "$ap@" read little-endian)
// so that its eight bytes never stand together in this program. The first half is read
// through a volatile object, which keeps the compiler from merging the two comparisons
// into one 64-bit constant.
const volatile uint32_t SIGNATURE_FIRST_HALF = 0x6E6C5740;
constexpr uint32_t SIGNATURE_SECOND_HALF = 0x40706124;
constexpr size_t SIGNATURE_SIZE = 8;

// Bytes read per call while scanning for the signature or summing the container.
constexpr size_t READ_CHUNK = 64 * 1024;
// The program file and every offset in it must stay below 4 GiB.
constexpr uint64_t FILE_SIZE_LIMIT = uint64_t{1} << 32;

}  // namespace

const char* DescribeContainerError(ContainerError error) {
    switch (error) {
        case ContainerError::FileNotFound:
            return "the program file was not found";
        case ContainerError::FileTooLarge:
            return "the program file is 4 GiB or larger";
        case ContainerError::CannotOpen:
            return "the program file cannot be opened for reading";
        case ContainerError::FileInUse:
            return "the program file is in use: another program has it open for writing";
        case ContainerError::NoSignature:
            return "no firmware container in the program file";
        case ContainerError::BadHeader:
            return "the container header is short or its byte sum does not match";
        case ContainerError::BadImageSize:
            return "the firmware image is neither 2 MiB nor 4 MiB";
        case ContainerError::UnknownModel:
            return "the firmware image is for an unknown model";
        case ContainerError::LoaderTooLong:
            return "the loader is longer than 4096 bytes";
        case ContainerError::ReadFailed:
            return "the program file could not be read";
        case ContainerError::SignatureOutsideFile:
            return "the program file's security directory points past the end of the file";
        case ContainerError::SignatureNotAtEnd:
            return "the program file's certificate table does not end the file";
        case ContainerError::SignaturePaddingNotZero:
            return "the bytes between the firmware image and the certificate table are not zero padding";
        case ContainerError::SignatureMismatch:
            return "the file's bytes no longer match its Authenticode signature (it was changed after signing)";
        case ContainerError::SignatureUncheckable:
            return "the file's Authenticode signature cannot be checked";
    }
    return "unknown container error";
}

namespace {

// Positions examined per filter pass; a fixed count lets the filter loop become vector code.
constexpr size_t FILTER_SPAN = 4096;

// flags[i] = 1 where the bytes at i, i + 3 and i + 7 are those of the signature: a cheap
// test that almost every non-matching position fails. Reads window[0 .. FILTER_SPAN + 6].
void MarkCandidates(const uint8_t* __restrict window, uint8_t* __restrict flags, uint8_t first,
                    uint8_t fourth, uint8_t last) {
    for (size_t i = 0; i < FILTER_SPAN; ++i) {
        flags[i] = static_cast<uint8_t>((window[i] == first) & (window[i + 3] == fourth) &
                                        (window[i + SIGNATURE_SIZE - 1] == last));
    }
}

}  // namespace

int64_t FindContainer(ByteSource& stream) { return FindContainer(stream, READ_CHUNK); }

int64_t FindContainer(ByteSource& stream, size_t chunk) {
    const uint32_t firstHalf = SIGNATURE_FIRST_HALF;
    const uint8_t firstByte = static_cast<uint8_t>(firstHalf);
    const uint8_t fourthByte = static_cast<uint8_t>(firstHalf >> 24);
    const uint8_t lastByte = static_cast<uint8_t>(SIGNATURE_SECOND_HALF >> 24);
    // Every offset is tried from the start of the file, also offsets inside a partial match.
    if (!stream.Seek(0)) {
        return -1;
    }
    // Chunks overlap by the bytes that could begin a signature not yet complete. The
    // buffer has room for the filter to read one whole span past the data; what it finds
    // there is ignored.
    constexpr size_t OVERLAP = SIGNATURE_SIZE - 1;
    chunk = std::clamp<size_t>(chunk, 1, READ_CHUNK);
    std::vector<uint8_t> buffer(OVERLAP + chunk + FILTER_SPAN + SIGNATURE_SIZE);
    std::vector<uint8_t> flags(FILTER_SPAN);
    uint8_t* const data = buffer.data();
    uint64_t base = 0;  // file offset of data[0]
    size_t kept = 0;
    for (;;) {
        const size_t got = stream.Read(data + kept, chunk);
        const size_t available = kept + got;
        // Offsets where a whole signature fits in the data read so far.
        const size_t candidates = available >= SIGNATURE_SIZE ? available - SIGNATURE_SIZE + 1 : 0;
        for (size_t span = 0; span < candidates; span += FILTER_SPAN) {
            MarkCandidates(data + span, flags.data(), firstByte, fourthByte, lastByte);
            const size_t count = std::min(FILTER_SPAN, candidates - span);
            const uint8_t* hit = flags.data();
            const uint8_t* const end = flags.data() + count;
            while ((hit = static_cast<const uint8_t*>(std::memchr(hit, 1, static_cast<size_t>(end - hit)))) != nullptr) {
                const size_t i = span + static_cast<size_t>(hit - flags.data());
                if (LoadLe32(data + i) == firstHalf && LoadLe32(data + i + 4) == SIGNATURE_SECOND_HALF) {
                    return static_cast<int64_t>(base + i);
                }
                ++hit;
            }
        }
        if (got == 0) {
            return -1;
        }
        const size_t keep = std::min(available, OVERLAP);
        std::memmove(data, data + available - keep, keep);
        base += available - keep;
        kept = keep;
    }
}

int64_t CheckContainer(ByteSource& stream, uint32_t containerOffset) {
    uint8_t header[CONTAINER_HEADER_SIZE];
    if (!stream.Seek(containerOffset) || stream.Read(header, sizeof header) < sizeof header) {
        return -1;
    }
    const uint32_t loaderLength = LoadLe32(header + 8);
    const uint32_t imageLength = LoadLe32(header + 12);
    const uint32_t byteSum = LoadLe32(header + 16);

    // The count is taken in 64 bits: loaderLength + imageLength must not wrap around
    // to a small count that a forged header could satisfy.
    uint64_t remaining = uint64_t{loaderLength} + imageLength;
    uint32_t sum = 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(READ_CHUNK, remaining)));
    while (remaining > 0) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        const size_t got = stream.Read(buffer.data(), wanted);
        if (got < wanted) {
            return -1;
        }
        sum = AddBytes(sum, buffer.data(), got);
        remaining -= got;
    }
    if (sum != byteSum) {
        return -1;
    }
    return static_cast<int64_t>(containerOffset) + CONTAINER_HEADER_SIZE + loaderLength;
}

Result<ContainerInfo, ContainerError> OpenContainer(const std::string& path, Descrambler& descrambler) {
    // Directories and devices are not looked at, not even opened.
    if (!FileSizeOf(path)) {
        return Fail(ContainerError::FileNotFound);
    }
    Result<FileStream, FileOpenError> opened = FileStream::OpenForReading(path);
    if (!opened) {
        switch (opened.error()) {
            case FileOpenError::NotFound:
                return Fail(ContainerError::FileNotFound);
            case FileOpenError::InUse:
                return Fail(ContainerError::FileInUse);
            case FileOpenError::CannotOpen:
                break;
        }
        return Fail(ContainerError::CannotOpen);
    }
    // The size of the file as it is open, not as it was listed a moment before.
    const std::optional<uint64_t> fileSize = opened.value().Size();
    if (!fileSize) {
        return Fail(ContainerError::ReadFailed);
    }
    if (*fileSize >= FILE_SIZE_LIMIT) {
        return Fail(ContainerError::FileTooLarge);
    }
    ContainerInfo info;
    info.stream = std::move(opened).value();
    Result<ContainerLayout, ContainerError> layout = LocateContainer(info.stream, *fileSize, descrambler);
    if (!layout) {
        return Fail(layout.error());
    }
    static_cast<ContainerLayout&>(info) = layout.value();
    // A signed firmware file whose bytes changed after signing is not sent: the
    // container's own sum need not catch a change that keeps it.
    if (info.signatureSize > 0) {
        switch (CheckFileSignature(info.stream, *fileSize, path)) {
            case SignatureCheck::NotBroken:
                break;
            case SignatureCheck::BadDigest:
                return Fail(ContainerError::SignatureMismatch);
            case SignatureCheck::Uncheckable:
                return Fail(ContainerError::SignatureUncheckable);
        }
    }
    return info;
}

Result<ContainerLayout, ContainerError> LocateContainer(ByteSource& source, uint64_t fileSize,
                                                        Descrambler& descrambler, ImageSizes sizes) {
    if (fileSize >= FILE_SIZE_LIMIT) {
        return Fail(ContainerError::FileTooLarge);
    }
    // A signed Windows program file ends with its certificate table: the container's
    // data stop where the table begins.
    const auto table = FindCertificateTable(source, fileSize);
    if (!table) {
        return Fail(table.error() == CertificateTableError::OutsideFile ? ContainerError::SignatureOutsideFile
                                                                         : ContainerError::SignatureNotAtEnd);
    }
    const int64_t dataEnd = static_cast<int64_t>(table.value() ? table.value()->offset : fileSize);
    // A file smaller than one read needs no buffer of a whole read.
    const int64_t containerOffset = FindContainer(source, static_cast<size_t>(std::min<uint64_t>(fileSize, READ_CHUNK)));
    if (containerOffset < 0 || containerOffset >= dataEnd) {
        return Fail(ContainerError::NoSignature);
    }
    const int64_t imageStart = CheckContainer(source, static_cast<uint32_t>(containerOffset));
    if (imageStart < 0) {
        return Fail(ContainerError::BadHeader);
    }
    // The image runs to the end of the data; its size comes from that end alone. Before
    // a certificate table, signing may have put up to 7 zero bytes after the image to
    // align the table: the image is the one size that leaves so few.
    int64_t imageSize = dataEnd - imageStart;
    if (table.value()) {
        for (const uint32_t candidate : {sizes.small, sizes.large}) {
            const int64_t padding = dataEnd - imageStart - candidate;
            if (padding >= 0 && padding < CERTIFICATE_TABLE_ALIGNMENT) imageSize = candidate;
        }
    }
    if (imageSize != sizes.small && imageSize != sizes.large) {
        return Fail(ContainerError::BadImageSize);
    }
    const int64_t imageEnd = imageStart + imageSize;
    const auto padding = static_cast<size_t>(dataEnd - imageEnd);
    if (padding > 0) {
        std::array<uint8_t, CERTIFICATE_TABLE_ALIGNMENT> gap{};
        if (!source.Seek(static_cast<uint64_t>(imageEnd)) || source.Read(gap.data(), padding) < padding) {
            return Fail(ContainerError::ReadFailed);
        }
        if (std::any_of(gap.begin(), gap.begin() + static_cast<ptrdiff_t>(padding), [](uint8_t b) { return b != 0; })) {
            return Fail(ContainerError::SignaturePaddingNotZero);
        }
    }

    std::array<uint8_t, BLOCK_SIZE> trailer{};
    if (!source.Seek(static_cast<uint64_t>(imageEnd) - BLOCK_SIZE) ||
        source.Read(trailer.data(), trailer.size()) < trailer.size()) {
        // Only possible when the file changed after it was measured.
        return Fail(ContainerError::ReadFailed);
    }
    descrambler.Skip(static_cast<uint32_t>(imageSize) - static_cast<uint32_t>(BLOCK_SIZE));
    descrambler.DescrambleBlock(trailer.data());
    ContainerLayout layout;
    std::copy_n(trailer.begin() + TRAILER_MODEL_OFFSET, layout.trailerTail.size(), layout.trailerTail.begin());

    const int modelIndex = FindModel(layout.trailerTail.data());
    if (modelIndex < 0) {
        return Fail(ContainerError::UnknownModel);
    }
    layout.containerOffset = static_cast<uint32_t>(containerOffset);
    layout.imageStart = static_cast<uint32_t>(imageStart);
    layout.imageSize = static_cast<uint32_t>(imageSize);
    layout.modelIndex = modelIndex;
    layout.regions = &RegionTableOf(modelIndex);
    if (table.value()) {
        layout.signatureOffset = table.value()->offset;
        layout.signatureSize = table.value()->size;
        layout.signaturePadding = static_cast<uint32_t>(padding);
    }
    return layout;
}

Result<uint32_t, ContainerError> ReadLoader(ByteSource& source, const ContainerLayout& layout,
                                            std::array<uint8_t, LOADER_MAX>& loader) {
    const uint32_t loaderLength = layout.imageStart - layout.containerOffset - CONTAINER_HEADER_SIZE;
    if (loaderLength > LOADER_MAX) {
        return Fail(ContainerError::LoaderTooLong);
    }
    if (!source.Seek(uint64_t{layout.containerOffset} + CONTAINER_HEADER_SIZE) ||
        source.Read(loader.data(), loaderLength) < loaderLength) {
        // The sum test has read these bytes already; a short read means the file changed.
        return Fail(ContainerError::ReadFailed);
    }
    return loaderLength;
}

Result<uint32_t, ContainerError> ReadLoader(ContainerInfo& info, std::array<uint8_t, LOADER_MAX>& loader) {
    return ReadLoader(info.stream, info, loader);
}

Result<std::string, ContainerError> ReadFirmwareModel(const std::string& path) {
    Descrambler descrambler;
    auto container = OpenContainer(path, descrambler);
    if (!container) return Fail(container.error());
    return std::string(container->trailerTail.begin(), container->trailerTail.begin() + MODEL_CODE_LENGTH);
}

}  // namespace quorsel
