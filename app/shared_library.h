// A shared library loaded at run time, closed when its owner goes.
#pragma once

#include <string>

#include "common/result.h"

namespace quorsel {

class SharedLibrary {
public:
    // Loads the library at an absolute path, or a system library by its file name
    // (found the way the dynamic loader finds the program's own libraries). All of
    // its symbols are bound now and stay private to it. The error is the loader's
    // message. With keepMapped the code stays in the process after the close (for a
    // library that links libraries registering handlers which run at process exit).
    static Result<SharedLibrary, std::string> Open(const std::string& path, bool keepMapped = false);

    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary();

    // The address of a symbol, or nullptr when the library has none of that name.
    void* Symbol(const char* name) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void Close();

    void* handle_ = nullptr;
};

}  // namespace quorsel
