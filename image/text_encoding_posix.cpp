// UTF-8 to code page 932 through iconv.
#include "image/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace quorsel {

namespace {

// The one owner of an iconv conversion descriptor.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (IsOpen()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return cd_ != INVALID; }
    iconv_t Get() const { return cd_; }

private:
    static inline const iconv_t INVALID = reinterpret_cast<iconv_t>(-1);
    iconv_t cd_;
};

// Code page 932 encodes a character in at most two bytes.
constexpr size_t MAX_BYTES_PER_CHARACTER = 2;

}  // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    Converter converter("CP932", "UTF-8");
    if (!converter.IsOpen()) {
        return std::nullopt;
    }
    // Every UTF-8 character takes at least one input byte, so this output always suffices.
    std::string output(utf8.size() * MAX_BYTES_PER_CHARACTER, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* out = output.data();
    size_t outLeft = output.size();
    while (inLeft > 0) {
        if (iconv(converter.Get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) {
            // EILSEQ: a character code page 932 cannot hold, or malformed UTF-8;
            // EINVAL: the text ends inside a character; E2BIG cannot happen (see above).
            return std::nullopt;
        }
    }
    // Flush any shift state (none for this code page, but the call is cheap).
    if (iconv(converter.Get(), nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
        return std::nullopt;
    }
    output.resize(output.size() - outLeft);
    return output;
}

}  // namespace quorsel
