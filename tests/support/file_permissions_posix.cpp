#include "tests/support/file_permissions.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quorsel::testing {
namespace {

constexpr unsigned OVERRIDE_BITS = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

// This thread's capability sets (capget and capset with pid 0 act on the calling
// thread only); false when the call fails.
bool GetCaps(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool SetCaps(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

PermissionsApply::PermissionsApply() {
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
    if (!GetCaps(caps)) return;
    savedEffective_ = caps[0].effective;
    if ((caps[0].effective & OVERRIDE_BITS) != 0) {
        caps[0].effective &= ~OVERRIDE_BITS;
        if (!SetCaps(caps)) return;
        restore_ = true;
    }
    __user_cap_data_struct now[_LINUX_CAPABILITY_U32S_3] = {};
    active_ = GetCaps(now) && (now[0].effective & OVERRIDE_BITS) == 0;
}

PermissionsApply::~PermissionsApply() {
    if (!restore_) return;
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
    if (!GetCaps(caps)) return;
    caps[0].effective = savedEffective_;
    SetCaps(caps);
}

}  // namespace quorsel::testing
