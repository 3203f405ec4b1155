// The Authenticode certificate table of a signed Windows program file: where the
// PE image's security directory says it lies. Signing appends the table after
// everything else in the file, so the container of a signed firmware file ends
// where the table begins (less the zero bytes that align the table to 8).
#pragma once

#include <cstdint>
#include <optional>

#include "common/result.h"
#include "image/byte_source.h"

namespace quorsel {

// The table's place in the file. Only a table that ends the file is accepted.
struct CertificateTable {
    uint32_t offset = 0;  // file offset of its first byte
    uint32_t size = 0;
    // File offsets of the two header fields that signing writes, so that a digest of
    // the file leaves them out: the optional header's checksum (4 bytes) and the
    // security directory entry (8 bytes).
    uint64_t checksumOffset = 0;
    uint64_t directoryEntryOffset = 0;
};

// Why a file's security directory cannot be accepted.
enum class CertificateTableError {
    OutsideFile,  // the directory names bytes past the end of the file
    NotAtEnd,     // the table lies within the file but does not end it
};

// Reads the security directory of the PE image that starts source (fileSize bytes):
// nullopt when the file is no PE image (an ELF program, for one) or when its
// directory is empty (an unsigned program); the table when it ends the file.
Result<std::optional<CertificateTable>, CertificateTableError> FindCertificateTable(ByteSource& source,
                                                                                    uint64_t fileSize);

// Bytes of zero padding that may stand between the signed data and the table.
constexpr uint32_t CERTIFICATE_TABLE_ALIGNMENT = 8;

}  // namespace quorsel
