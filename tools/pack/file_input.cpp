// Reading the packer's input files.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/pack/file_io.h"

namespace quorsel::pack {

Result<uint64_t, std::string> InputFileSize(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) return Fail("cannot read '" + path + "': " + ec.message());
    if (!std::filesystem::is_regular_file(status)) return Fail("'" + path + "' is not a regular file");
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return Fail("cannot read '" + path + "': " + ec.message());
    return static_cast<uint64_t>(size);
}

Result<std::vector<uint8_t>, std::string> ReadInputFile(const std::string& path) {
    auto size = InputFileSize(path);
    if (!size) return Fail(size.error());
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail("cannot open '" + path + "'");
    std::vector<uint8_t> bytes(static_cast<size_t>(*size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<uint64_t>(in.gcount()) != *size) return Fail("cannot read all of '" + path + "'");
    // A file that grew after its size was taken is refused rather than cut.
    if (in.peek() != std::ifstream::traits_type::eof()) return Fail("'" + path + "' changed while being read");
    return bytes;
}

}  // namespace quorsel::pack
