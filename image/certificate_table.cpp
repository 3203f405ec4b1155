// Finding the certificate table through the PE headers, field by field:
//   DOS header:      "MZ" at 0, offset of the PE signature (e_lfanew) at 0x3C
//   PE signature:    "PE\0\0", then the 20-byte file header (optional header size at 16)
//   optional header: magic 0x10B (PE32) or 0x20B (PE32+); the count of data
//                    directories and the directories follow at offsets that depend on it
//   checksum:        at 64 in the optional header, for both magics
//   directory 4:     the security directory; unlike the others, its address is a
//                    file offset, not a virtual address
#include "image/certificate_table.h"

#include <array>

#include "common/le_bytes.h"

namespace quorsel {

namespace {

constexpr uint32_t DOS_HEADER_SIZE = 0x40;
constexpr uint32_t PE_OFFSET_FIELD = 0x3C;
constexpr uint32_t PE_SIGNATURE_SIZE = 4;
constexpr uint32_t FILE_HEADER_SIZE = 20;
constexpr uint32_t OPTIONAL_HEADER_SIZE_FIELD = 16;  // within the file header
constexpr uint16_t MAGIC_PE32 = 0x10B;
constexpr uint16_t MAGIC_PE32_PLUS = 0x20B;
// Offsets in the optional header of the directory count and of the first directory.
constexpr uint32_t PE32_DIRECTORY_COUNT = 92;
constexpr uint32_t PE32_PLUS_DIRECTORY_COUNT = 108;
constexpr uint32_t DIRECTORY_ENTRY_SIZE = 8;
constexpr uint32_t SECURITY_DIRECTORY = 4;
constexpr uint32_t CHECKSUM_FIELD = 64;  // within the optional header, PE32 and PE32+ alike

bool ReadAt(ByteSource& source, uint64_t offset, uint8_t* buffer, size_t n) {
    return source.Seek(offset) && source.Read(buffer, n) == n;
}

}  // namespace

Result<std::optional<CertificateTable>, CertificateTableError> FindCertificateTable(ByteSource& source,
                                                                                    uint64_t fileSize) {
    const std::optional<CertificateTable> none;
    std::array<uint8_t, DOS_HEADER_SIZE> dos{};
    if (fileSize < DOS_HEADER_SIZE || !ReadAt(source, 0, dos.data(), dos.size()) || dos[0] != 'M' ||
        dos[1] != 'Z') {
        return none;
    }
    const uint64_t peOffset = LoadLe32(dos.data() + PE_OFFSET_FIELD);
    std::array<uint8_t, PE_SIGNATURE_SIZE + FILE_HEADER_SIZE + 2> headers{};
    if (peOffset + headers.size() > fileSize || !ReadAt(source, peOffset, headers.data(), headers.size()) ||
        headers[0] != 'P' || headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) {
        return none;
    }
    const uint32_t optionalSize = LoadLe16(headers.data() + PE_SIGNATURE_SIZE + OPTIONAL_HEADER_SIZE_FIELD);
    const uint64_t optionalOffset = peOffset + PE_SIGNATURE_SIZE + FILE_HEADER_SIZE;
    const uint16_t magic = LoadLe16(headers.data() + PE_SIGNATURE_SIZE + FILE_HEADER_SIZE);
    uint32_t countOffset = 0;
    if (magic == MAGIC_PE32) {
        countOffset = PE32_DIRECTORY_COUNT;
    } else if (magic == MAGIC_PE32_PLUS) {
        countOffset = PE32_PLUS_DIRECTORY_COUNT;
    } else {
        return none;
    }
    // The directories follow the count; the security directory must lie within the
    // optional header, and the header within the file.
    const uint32_t entryOffset = countOffset + 4 + SECURITY_DIRECTORY * DIRECTORY_ENTRY_SIZE;
    if (entryOffset + DIRECTORY_ENTRY_SIZE > optionalSize || optionalOffset + optionalSize > fileSize) {
        return none;
    }
    std::array<uint8_t, 4> count{};
    std::array<uint8_t, DIRECTORY_ENTRY_SIZE> entry{};
    if (!ReadAt(source, optionalOffset + countOffset, count.data(), count.size()) ||
        LoadLe32(count.data()) <= SECURITY_DIRECTORY ||
        !ReadAt(source, optionalOffset + entryOffset, entry.data(), entry.size())) {
        return none;
    }
    CertificateTable table;
    table.offset = LoadLe32(entry.data());
    table.size = LoadLe32(entry.data() + 4);
    table.checksumOffset = optionalOffset + CHECKSUM_FIELD;
    table.directoryEntryOffset = optionalOffset + entryOffset;
    if (table.offset == 0 && table.size == 0) {
        return none;
    }
    const uint64_t end = uint64_t{table.offset} + table.size;
    if (end > fileSize) {
        return Fail(CertificateTableError::OutsideFile);
    }
    if (end != fileSize || table.size == 0) {
        return Fail(CertificateTableError::NotAtEnd);
    }
    return std::optional<CertificateTable>(table);
}

}  // namespace quorsel
