// Reading a packed program file back through the updater's own container code.
#include "tools/pack/container_report.h"

#include <array>
#include <cstdio>

#include "image/checksums.h"
#include "image/container.h"
#include "image/descrambler.h"
#include "tools/pack/printable.h"

namespace quorsel::pack {
namespace {

std::string Format(const char* format, uint64_t a, uint64_t b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(a),
                  static_cast<unsigned long long>(b));
    return text;
}

std::string ChecksumText(uint16_t checksum) {
    std::string text = Format("0x%04llx", checksum);
    if (checksum == CHECKSUM_FAILED) text += " (failed)";
    return text;
}

std::string ContainerFailure(const std::string& path, ContainerError error) {
    return "'" + path + "': " + DescribeContainerError(error);
}

bool IsSignatureError(ContainerError error) {
    return error == ContainerError::SignatureMismatch || error == ContainerError::SignatureUncheckable;
}

// The container of a file whose signature the updater refuses, read without that
// check, so that the report can still show what the file holds.
Result<ContainerInfo, ContainerError> OpenLayoutOnly(const std::string& path, Descrambler& descrambler) {
    const std::optional<uint64_t> fileSize = FileSizeOf(path);
    std::optional<FileStream> stream = FileStream::Open(path);
    if (!fileSize || !stream) return Fail(ContainerError::CannotOpen);
    ContainerInfo info;
    info.stream = std::move(*stream);
    const auto layout = LocateContainer(info.stream, *fileSize, descrambler);
    if (!layout) return Fail(layout.error());
    static_cast<ContainerLayout&>(info) = *layout;
    return info;
}

}  // namespace

std::optional<std::string> ReportContainer(const std::string& path, std::ostream& out) {
    Descrambler descrambler;
    auto opened = OpenContainer(path, descrambler);
    // A signed file whose signature no longer holds is reported, and refused.
    std::optional<ContainerError> signatureError;
    if (!opened && IsSignatureError(opened.error())) {
        signatureError = opened.error();
        descrambler = Descrambler();
        opened = OpenLayoutOnly(path, descrambler);
    }
    if (!opened) return ContainerFailure(path, opened.error());
    ContainerInfo& info = *opened;

    const uint32_t loaderLength = info.imageStart - info.containerOffset - CONTAINER_HEADER_SIZE;
    std::array<uint8_t, LOADER_MAX> loader{};
    const auto loaded = ReadLoader(info, loader);
    if (!loaded && loaded.error() != ContainerError::LoaderTooLong) {
        return ContainerFailure(path, loaded.error());
    }

    out << "container offset: " << Format("0x%llx (%llu)", info.containerOffset, info.containerOffset) << "\n";
    out << "loader length: " << loaderLength;
    if (!loaded) out << " (serial runs refuse it: " << DescribeContainerError(loaded.error()) << ")";
    out << "\n";
    out << "image start: " << Format("0x%llx (%llu)", info.imageStart, info.imageStart) << "\n";
    out << "image size: " << Format("0x%llx (%llu)", info.imageSize, info.imageSize) << "\n";
    out << "model: " << PrintableBytes(info.trailerTail.data(), MODEL_CODE_LENGTH) << " (index "
        << info.modelIndex << ")\n";
    if (info.signatureSize > 0) {
        out << "signed: yes, Authenticode certificate table at "
            << Format("0x%llx (%llu bytes)", info.signatureOffset, info.signatureSize) << ", after "
            << info.signaturePadding << " zero bytes of padding\n";
        out << "signature: "
            << (signatureError ? std::string(DescribeContainerError(*signatureError))
                               : std::string("the file's bytes match its Authenticode digest"))
            << "\n";
    } else {
        out << "signed: no\n";
    }
    for (size_t i = 0; i < info.regions->size(); ++i) {
        const Region& region = (*info.regions)[i];
        const uint64_t fileOffset = uint64_t{info.imageStart} + region.start;
        const uint16_t raw = RawRangeChecksum(info.stream, fileOffset, region.start, region.length);
        const uint16_t descrambled =
            DescrambledRangeChecksum(info.stream, descrambler, fileOffset, region.start, region.length);
        out << "region " << i << ": start " << Format("0x%06llx length 0x%06llx", region.start, region.length)
            << " raw " << ChecksumText(raw) << " descrambled " << ChecksumText(descrambled) << "\n";
    }
    out.flush();
    if (!out) return std::string("cannot write the report");
    if (signatureError) return ContainerFailure(path, *signatureError);
    return std::nullopt;
}

Result<std::vector<uint8_t>, std::string> ExtractImage(const std::string& path) {
    Descrambler descrambler;
    auto opened = OpenContainer(path, descrambler);
    if (!opened) return Fail(ContainerFailure(path, opened.error()));
    ContainerInfo& info = *opened;

    std::vector<uint8_t> image(info.imageSize);
    if (!info.stream.Seek(info.imageStart)) return Fail(ContainerFailure(path, ContainerError::ReadFailed));
    descrambler.Skip(0);
    for (size_t s = 0; s < image.size(); s += BLOCK_SIZE) {
        uint8_t* block = image.data() + s;
        if (info.stream.Read(block, BLOCK_SIZE) != BLOCK_SIZE) {
            return Fail(ContainerFailure(path, ContainerError::ReadFailed));
        }
        descrambler.DescrambleBlock(block);
    }
    return image;
}

}  // namespace quorsel::pack
