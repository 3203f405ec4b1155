// Test support: file permissions that apply to the test even when it runs as root.
#pragma once

namespace quorsel::testing {

// For its lifetime the calling thread loses the power to override file permissions
// (root's CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH), so a file without read
// permission cannot be opened by it, as for any other user. Other threads keep
// their rights; the destructor gives them back to this one.
class PermissionsApply {
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

    // True when the override is off for this thread now.
    bool active() const { return active_; }

private:
    bool active_ = false;
    bool restore_ = false;
    unsigned savedEffective_ = 0;
};

}  // namespace quorsel::testing
