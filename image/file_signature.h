// Whether the system finds that a signed program file's Authenticode signature no
// longer matches the file's bytes (a byte of it changed after signing).
#pragma once

#include <string>

namespace quorsel {

enum class SignatureCheck {
    NotBroken,  // the digest matches, or the file carries no signature the system checks
    BadDigest,  // the file's bytes are not those that were signed
};

// Checks the file at path (UTF-8). Only the digest counts: an untrusted or unknown
// signer and a missing signature are not a broken signature. No user interface and
// no network look-up. On Windows the system's trust provider checks it; elsewhere
// program files are not Authenticode-signed and every file counts as NotBroken.
SignatureCheck CheckFileSignature(const std::string& path);

}  // namespace quorsel
