// Test support: an environment variable set for the lifetime of one object.
#pragma once

#include <string>

namespace quorsel::testing {

class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, const std::string& value);
    ~ScopedEnvironmentVariable();  // removes the variable again
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::string name_;
};

}  // namespace quorsel::testing
