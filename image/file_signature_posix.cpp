// Not checked yet on POSIX systems: the digest is taken as matching.
#include "image/file_signature.h"

namespace quorsel {

SignatureCheck CheckFileSignature(FileStream& /*stream*/, uint64_t /*fileSize*/, const std::string& /*path*/) {
    return SignatureCheck::NotBroken;
}

}  // namespace quorsel
