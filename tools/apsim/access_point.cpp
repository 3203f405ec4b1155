#include "tools/apsim/access_point.h"

#include "image/checksums.h"
#include "image/text_encoding.h"
#include "tools/apsim/flash_store.h"

namespace quorsel::apsim {

Result<AccessPoint, std::string> MakeAccessPoint(const Options& options) {
    std::optional<std::string> password = Utf8ToCp932(options.password);
    if (!password) return Fail(std::string("the password has a character that code page 932 cannot hold"));
    if (password->size() > PASSWORD_MAX_BYTES) {
        return Fail("the password is " + std::to_string(password->size()) + " bytes in code page 932; at most " +
                    std::to_string(PASSWORD_MAX_BYTES) + " can be entered");
    }
    AccessPoint accessPoint;
    accessPoint.model = options.model;
    accessPoint.generation = options.generation;
    accessPoint.passwordDigest = PasswordDigest(*password);
    accessPoint.flashSize = FlashSizeOf(options.model);
    return accessPoint;
}

}  // namespace quorsel::apsim
