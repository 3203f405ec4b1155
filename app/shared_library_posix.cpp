// SharedLibrary on dlopen.
#include "app/shared_library.h"

#include <dlfcn.h>

#include <utility>

namespace quorsel {

Result<SharedLibrary, std::string> SharedLibrary::Open(const std::string& path, bool keepMapped) {
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
    if (handle == nullptr) {
        const char* message = ::dlerror();
        return Fail(std::string(message != nullptr ? message : "cannot be loaded"));
    }
    return SharedLibrary(handle);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

SharedLibrary::~SharedLibrary() { Close(); }

void SharedLibrary::Close() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
}

void* SharedLibrary::Symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace quorsel
