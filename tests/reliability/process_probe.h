// What the reliability tests measure about their own process: open descriptors,
// resident memory, and two hooks into the C library that let a test watch and
// disturb file handling deterministically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorsel::testing {

// Descriptors open in this process now (the entries of /proc/self/fd, without the
// one used to list them).
size_t OpenDescriptorCount();
// Their targets ("socket:[123]", "/tmp/x/updater", ...), sorted: for messages.
std::vector<std::string> OpenDescriptorTargets();
// VmRSS from /proc/self/status, in KiB; nullopt when it cannot be read.
std::optional<uint64_t> ResidentKiB();
// Threads of this process (Threads: in /proc/self/status); nullopt when unreadable.
std::optional<uint64_t> ThreadCount();

// The next fopen() of exactly `path` opens the file and then truncates it to
// `size` bytes before handing the stream back: the file shrinks after its size was
// looked up and before anything was read from it.
void ShrinkOnNextOpen(const std::string& path, uint64_t size);
// True while an armed shrink has not happened yet.
bool ShrinkPending();

// close() calls in this process that failed with EBADF since the last reset: a
// descriptor closed a second time (or never opened).
void ResetBadCloseCount();
size_t BadCloseCount();

}  // namespace quorsel::testing
