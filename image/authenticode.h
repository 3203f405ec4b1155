// The portable parts of checking a signed Windows program file's Authenticode
// signature: which bytes its digest covers, and reading the signed structures
// (WIN_CERTIFICATE, SpcIndirectDataContent) field by field. The cryptography is the
// platform's (file_signature_posix uses libcrypto; Windows has WinVerifyTrust).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "image/certificate_table.h"

namespace quorsel {

// A certificate table larger than this is not read: a real one holds a few
// kilobytes (a signature, its certificates, perhaps a time stamp).
constexpr uint32_t CERTIFICATE_TABLE_READ_LIMIT = 1024 * 1024;

struct FileSpan {
    uint64_t offset = 0;
    uint64_t size = 0;
};

// The bytes an Authenticode digest covers, in order: the whole file before the
// certificate table except the header's checksum field and security directory entry.
// Empty spans (size 0) may occur; nullopt when the fields do not lie in that order
// before the table.
std::optional<std::array<FileSpan, 3>> AuthenticodeHashedSpans(const CertificateTable& table);

// One DER element: its tag, where its content begins (header size) and how long it is.
struct DerElement {
    uint8_t tag = 0;
    size_t headerSize = 0;
    size_t contentSize = 0;
    size_t Size() const { return headerSize + contentSize; }
};

// Reads the element that starts data (single-byte tags, definite lengths only);
// nullopt when it does not fit in size.
std::optional<DerElement> ReadDerElement(const uint8_t* data, size_t size);

// The first WIN_CERTIFICATE of a certificate table: revision 2.0 and type PKCS#7
// SignedData. The offset and size (within table) of its DER; nullopt otherwise.
std::optional<FileSpan> SignedDataOf(const std::vector<uint8_t>& table);

// What SpcIndirectDataContent says the file's digest is.
struct SignedDigest {
    std::vector<uint8_t> algorithm;  // the digest algorithm's OID, DER (tag and length included)
    std::vector<uint8_t> digest;
};

// Reads SpcIndirectDataContent from its DER (the SEQUENCE itself):
//   SEQUENCE { data SEQUENCE { type OID, value ANY OPTIONAL },
//              messageDigest SEQUENCE { SEQUENCE { algorithm OID, parameters ANY OPTIONAL },
//                                       digest OCTET STRING } }
std::optional<SignedDigest> ReadIndirectDataDigest(const uint8_t* der, size_t size);

// The OID of SpcIndirectDataContent, 1.3.6.1.4.1.311.2.1.4, in dotted form.
constexpr const char* SPC_INDIRECT_DATA_OID = "1.3.6.1.4.1.311.2.1.4";

}  // namespace quorsel
