// A POSIX system has no Authenticode trust provider, and its firmware files are ELF
// programs, which carry no Authenticode signature.
#include "image/file_signature.h"

namespace quorsel {

SignatureCheck CheckFileSignature(const std::string& /*path*/) { return SignatureCheck::NotBroken; }

}  // namespace quorsel
