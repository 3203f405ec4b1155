#include "image/authenticode.h"

#include "common/le_bytes.h"

namespace quorsel {

namespace {

constexpr uint8_t DER_SEQUENCE = 0x30;
constexpr uint8_t DER_OID = 0x06;
constexpr uint8_t DER_OCTET_STRING = 0x04;
constexpr uint8_t DER_LONG_LENGTH = 0x80;
constexpr uint8_t DER_HIGH_TAG = 0x1F;
// Lengths above this many bytes of length are not taken (a table is at most a megabyte).
constexpr size_t DER_MAX_LENGTH_BYTES = 4;

constexpr uint32_t CHECKSUM_SIZE = 4;
constexpr uint32_t DIRECTORY_ENTRY_BYTES = 8;
// WIN_CERTIFICATE: dwLength (4), wRevision (2), wCertificateType (2), then the data.
constexpr size_t WIN_CERTIFICATE_HEADER = 8;
constexpr uint16_t WIN_CERT_REVISION_2_0 = 0x0200;
constexpr uint16_t WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002;

// A reader over the elements of one constructed element's content.
class DerCursor {
public:
    DerCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next element, if it has the tag; moves past it.
    std::optional<DerElement> Take(uint8_t tag, const uint8_t** start) {
        const std::optional<DerElement> element = ReadDerElement(data_, size_);
        if (!element || element->tag != tag) return std::nullopt;
        *start = data_;
        data_ += element->Size();
        size_ -= element->Size();
        return element;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

std::optional<std::array<FileSpan, 3>> AuthenticodeHashedSpans(const CertificateTable& table) {
    const uint64_t checksumEnd = table.checksumOffset + CHECKSUM_SIZE;
    const uint64_t entryEnd = table.directoryEntryOffset + DIRECTORY_ENTRY_BYTES;
    if (checksumEnd > table.directoryEntryOffset || entryEnd > table.offset) return std::nullopt;
    return std::array<FileSpan, 3>{FileSpan{0, table.checksumOffset},
                                   FileSpan{checksumEnd, table.directoryEntryOffset - checksumEnd},
                                   FileSpan{entryEnd, table.offset - entryEnd}};
}

std::optional<DerElement> ReadDerElement(const uint8_t* data, size_t size) {
    if (size < 2 || (data[0] & DER_HIGH_TAG) == DER_HIGH_TAG) return std::nullopt;
    DerElement element;
    element.tag = data[0];
    size_t length = data[1];
    element.headerSize = 2;
    if ((length & DER_LONG_LENGTH) != 0) {
        const size_t count = length & ~size_t{DER_LONG_LENGTH};
        if (count == 0 || count > DER_MAX_LENGTH_BYTES || size < 2 + count) return std::nullopt;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | data[2 + i];
        element.headerSize += count;
    }
    if (length > size - element.headerSize) return std::nullopt;
    element.contentSize = length;
    return element;
}

std::optional<FileSpan> SignedDataOf(const std::vector<uint8_t>& table) {
    if (table.size() < WIN_CERTIFICATE_HEADER) return std::nullopt;
    const uint32_t length = LoadLe32(table.data());
    if (length < WIN_CERTIFICATE_HEADER || length > table.size() ||
        LoadLe16(table.data() + 4) != WIN_CERT_REVISION_2_0 ||
        LoadLe16(table.data() + 6) != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
        return std::nullopt;
    }
    return FileSpan{WIN_CERTIFICATE_HEADER, length - WIN_CERTIFICATE_HEADER};
}

std::optional<SignedDigest> ReadIndirectDataDigest(const uint8_t* der, size_t size) {
    const uint8_t* at = nullptr;
    DerCursor outer(der, size);
    const auto content = outer.Take(DER_SEQUENCE, &at);
    if (!content) return std::nullopt;
    DerCursor fields(at + content->headerSize, content->contentSize);
    if (!fields.Take(DER_SEQUENCE, &at)) return std::nullopt;  // data: the file's kind, not needed here
    const auto digestInfo = fields.Take(DER_SEQUENCE, &at);
    if (!digestInfo) return std::nullopt;
    DerCursor info(at + digestInfo->headerSize, digestInfo->contentSize);
    const auto identifier = info.Take(DER_SEQUENCE, &at);
    if (!identifier) return std::nullopt;
    const uint8_t* identifierAt = at;
    const auto digest = info.Take(DER_OCTET_STRING, &at);
    if (!digest) return std::nullopt;
    DerCursor algorithm(identifierAt + identifier->headerSize, identifier->contentSize);
    const uint8_t* oidAt = nullptr;
    const auto oid = algorithm.Take(DER_OID, &oidAt);
    if (!oid) return std::nullopt;

    SignedDigest result;
    result.algorithm.assign(oidAt, oidAt + oid->Size());
    result.digest.assign(at + digest->headerSize, at + digest->Size());
    return result;
}

}  // namespace quorsel
