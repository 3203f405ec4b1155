// Under Windows (and Wine, which runs as the Unix user) a file's read permission
// cannot be taken away from the test's own thread: the guard stays inactive and the
// test that needs it says so by skipping.
#include "tests/support/file_permissions.h"

namespace quorsel::testing {

PermissionsApply::PermissionsApply() = default;
PermissionsApply::~PermissionsApply() = default;

}  // namespace quorsel::testing
