// Whether a signed program file's Authenticode signature still matches the file's
// bytes (no byte of it changed after signing). The check runs on the same open file
// that the container is then read through, so what is checked is what is sent.
#pragma once

#include <cstdint>
#include <string>

#include "image/file_stream.h"

namespace quorsel {

enum class SignatureCheck {
    NotBroken,     // the digest matches the file's bytes
    BadDigest,     // the file's bytes are not those that were signed
    Uncheckable,   // the file carries a certificate table, but its signature cannot be checked
};

// Checks the signed program file open in stream (fileSize bytes, path for the
// system's messages). Only the digest counts: an untrusted or unknown signer is not a
// broken signature. No user interface and no network look-up. Called only for files
// that carry a certificate table; leaves the stream's position anywhere.
SignatureCheck CheckFileSignature(FileStream& stream, uint64_t fileSize, const std::string& path);

}  // namespace quorsel
