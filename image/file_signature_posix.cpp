// The program file's Authenticode signature checked with libcrypto, as Windows checks
// it, for integrity only: the file is hashed the Authenticode way with the algorithm
// the signed data names, that hash is compared with the digest the signature holds,
// and the PKCS#7 signature over its signed attributes is verified with the
// certificate embedded in it. Whether the signer is trusted is not asked (no chain,
// no revocation, no network): an unknown vendor certificate is no reason to refuse.
#include "image/file_signature.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "image/authenticode.h"
#include "image/certificate_table.h"

namespace quorsel {

namespace {

// Bytes hashed per read.
constexpr size_t HASH_CHUNK = 64 * 1024;
// Room for a dotted OID.
constexpr size_t OID_TEXT_SIZE = 128;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
void FreeBio(BIO* bio) { BIO_free(bio); }
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, FreeBio>>;
// The stack PKCS7_get0_signers returns owns no certificate.
void FreeSigners(STACK_OF(X509) * signers) { sk_X509_free(signers); }
using SignersPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeSigners>>;

bool ReadExactly(FileStream& stream, uint64_t offset, uint8_t* buffer, size_t n) {
    return stream.Seek(offset) && stream.Read(buffer, n) == n;
}

// The digest the algorithm names over the spans of the file; empty when it cannot be taken.
std::vector<uint8_t> HashSpans(FileStream& stream, const EVP_MD* algorithm, const std::array<FileSpan, 3>& spans) {
    const DigestContextPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) return {};
    std::vector<uint8_t> chunk(HASH_CHUNK);
    for (const FileSpan& span : spans) {
        if (!stream.Seek(span.offset)) return {};
        for (uint64_t done = 0; done < span.size;) {
            const auto n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), span.size - done));
            if (stream.Read(chunk.data(), n) != n || EVP_DigestUpdate(context.get(), chunk.data(), n) != 1) return {};
            done += n;
        }
    }
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return {};
    digest.resize(length);
    return digest;
}

// The DER of the SignedData's content when it is SpcIndirectDataContent.
const ASN1_STRING* IndirectDataOf(const PKCS7* signedData) {
    if (!PKCS7_type_is_signed(signedData) || signedData->d.sign == nullptr) return nullptr;
    const PKCS7* content = signedData->d.sign->contents;
    if (content == nullptr || content->type == nullptr) return nullptr;
    std::array<char, OID_TEXT_SIZE> oid{};
    if (OBJ_obj2txt(oid.data(), static_cast<int>(oid.size()), content->type, 1) <= 0 ||
        std::string(oid.data()) != SPC_INDIRECT_DATA_OID) {
        return nullptr;
    }
    const ASN1_TYPE* other = content->d.other;
    if (other == nullptr || other->type != V_ASN1_SEQUENCE || other->value.sequence == nullptr) return nullptr;
    return other->value.sequence;
}

}  // namespace

SignatureCheck CheckFileSignature(FileStream& stream, uint64_t fileSize, const std::string& /*path*/) {
    const auto found = FindCertificateTable(stream, fileSize);
    if (!found || !*found) return SignatureCheck::Uncheckable;
    const CertificateTable& table = **found;
    const auto spans = AuthenticodeHashedSpans(table);
    if (!spans || table.size > CERTIFICATE_TABLE_READ_LIMIT) return SignatureCheck::Uncheckable;

    std::vector<uint8_t> tableBytes(table.size);
    if (!ReadExactly(stream, table.offset, tableBytes.data(), tableBytes.size())) return SignatureCheck::Uncheckable;
    const auto signedData = SignedDataOf(tableBytes);
    if (!signedData) return SignatureCheck::Uncheckable;
    const unsigned char* der = tableBytes.data() + signedData->offset;
    const Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &der, static_cast<long>(signedData->size)));
    if (!pkcs7) return SignatureCheck::Uncheckable;

    // What the signature says the file's digest is, and with which algorithm.
    const ASN1_STRING* indirect = IndirectDataOf(pkcs7.get());
    if (indirect == nullptr) return SignatureCheck::Uncheckable;
    const auto* indirectBytes = ASN1_STRING_get0_data(indirect);
    const auto indirectSize = static_cast<size_t>(ASN1_STRING_length(indirect));
    const auto signedDigest = ReadIndirectDataDigest(indirectBytes, indirectSize);
    const auto indirectElement = ReadDerElement(indirectBytes, indirectSize);
    if (!signedDigest || !indirectElement) return SignatureCheck::Uncheckable;
    const unsigned char* oid = signedDigest->algorithm.data();
    const ObjectPtr algorithmObject(d2i_ASN1_OBJECT(nullptr, &oid, static_cast<long>(signedDigest->algorithm.size())));
    const EVP_MD* algorithm = algorithmObject ? EVP_get_digestbyobj(algorithmObject.get()) : nullptr;
    if (algorithm == nullptr) return SignatureCheck::Uncheckable;

    const std::vector<uint8_t> digest = HashSpans(stream, algorithm, *spans);
    if (digest.empty()) return SignatureCheck::Uncheckable;
    if (digest != signedDigest->digest) return SignatureCheck::BadDigest;

    // The signer's certificate must be embedded; without it nothing can be verified.
    const SignersPtr signers(PKCS7_get0_signers(pkcs7.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) == 0) return SignatureCheck::Uncheckable;
    // The signed attributes' message digest covers the content's value, without the
    // SEQUENCE's own tag and length; the signature covers the attributes.
    const BioPtr content(BIO_new_mem_buf(indirectBytes + indirectElement->headerSize,
                                         static_cast<int>(indirectElement->contentSize)));
    if (!content) return SignatureCheck::Uncheckable;
    const int verified =
        PKCS7_verify(pkcs7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY);
    return verified == 1 ? SignatureCheck::NotBroken : SignatureCheck::BadDigest;
}

}  // namespace quorsel
