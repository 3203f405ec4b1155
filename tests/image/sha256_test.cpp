#include "image/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorsel {
namespace {

std::string DigestOf(const std::string& text, size_t piece) {
    Sha256 hash;
    for (size_t at = 0; at < text.size(); at += piece) {
        const size_t size = std::min(piece, text.size() - at);
        hash.Add(reinterpret_cast<const uint8_t*>(text.data() + at), size);
    }
    return HexDigest(hash.Finish());
}

TEST(Sha256, KnownAnswersWhateverPiecesTheBytesComeIn) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : vectors) {
        SCOPED_TRACE(text.substr(0, 20));
        for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{4096}}) {
            if (text.size() > 100000 && piece < 64) continue;
            EXPECT_EQ(DigestOf(text, piece), digest) << piece;
        }
    }
}

}  // namespace
}  // namespace quorsel
