#include <cstdlib>
#include <utility>

#include "tests/support/environment_variable.h"

namespace quorsel::testing {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name, const std::string& value)
    : name_(std::move(name)) {
    ::_putenv_s(name_.c_str(), value.c_str());
}

// An empty value removes the variable from the C runtime's environment.
ScopedEnvironmentVariable::~ScopedEnvironmentVariable() { ::_putenv_s(name_.c_str(), ""); }

}  // namespace quorsel::testing
