// /proc readings and the fopen/close hooks. The hooks are definitions of the C
// library's own functions in the test executable: the dynamic linker binds every
// call in the process to them, and they pass each call on to the next definition
// (the sanitizer's interceptor or the C library itself).
#include "tests/reliability/process_probe.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace quorsel::testing {
namespace {

std::mutex shrinkMutex;
std::string shrinkPath;
uint64_t shrinkSize = 0;
bool shrinkArmed = false;

std::atomic<size_t> badCloses{0};

template <typename Fn>
Fn NextDefinition(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

size_t OpenDescriptorCount() { return OpenDescriptorTargets().size(); }

std::vector<std::string> OpenDescriptorTargets() {
    std::vector<std::string> targets;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return targets;
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd == own) continue;
        char target[512] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        targets.push_back(std::to_string(fd) + " -> " + (n > 0 ? std::string(target, static_cast<size_t>(n)) : "?"));
    }
    ::closedir(dir);
    std::sort(targets.begin(), targets.end());
    return targets;
}

namespace {

std::optional<uint64_t> StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == name) {
            uint64_t value = 0;
            if (status >> value) return value;
            return std::nullopt;
        }
        std::string rest;
        std::getline(status, rest);
    }
    return std::nullopt;
}

}  // namespace

std::optional<uint64_t> ResidentKiB() { return StatusField("VmRSS:"); }
std::optional<uint64_t> ThreadCount() { return StatusField("Threads:"); }

void ShrinkOnNextOpen(const std::string& path, uint64_t size) {
    std::lock_guard<std::mutex> lock(shrinkMutex);
    shrinkPath = path;
    shrinkSize = size;
    shrinkArmed = true;
}

bool ShrinkPending() {
    std::lock_guard<std::mutex> lock(shrinkMutex);
    return shrinkArmed;
}

void ResetBadCloseCount() { badCloses = 0; }
size_t BadCloseCount() { return badCloses; }

}  // namespace quorsel::testing

extern "C" FILE* fopen(const char* __restrict path, const char* __restrict mode) {
    using Fopen = FILE* (*)(const char*, const char*);
    static const Fopen next = quorsel::testing::NextDefinition<Fopen>("fopen");
    FILE* file = next(path, mode);
    if (file == nullptr || path == nullptr) return file;
    std::lock_guard<std::mutex> lock(quorsel::testing::shrinkMutex);
    if (quorsel::testing::shrinkArmed && quorsel::testing::shrinkPath == path) {
        quorsel::testing::shrinkArmed = false;
        if (::truncate(path, static_cast<off_t>(quorsel::testing::shrinkSize)) != 0) {
            std::fprintf(stderr, "test hook: truncating %s failed: %s\n", path, std::strerror(errno));
        }
    }
    return file;
}

extern "C" int close(int fd) {
    using Close = int (*)(int);
    static const Close next = quorsel::testing::NextDefinition<Close>("close");
    const int result = next(fd);
    if (result != 0 && errno == EBADF) ++quorsel::testing::badCloses;
    return result;
}
