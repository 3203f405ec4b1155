// Whole-process start of the updater's terminal path, spawned with posix_spawn and
// waited for, beside /bin/true in the same run: quorsel with invalid arguments, and
// a firmware file that reads its command line, finds no connection and stops at the
// settings form at end of input. No display variable is passed, as on a machine
// without a desktop. Each benchmark reports the child's own processor time per start
// (child_cpu_ms) and the program's peak resident size (VmHWM_KiB), read from
// /proc/PID/status when it stops at its exit under ptrace in one extra run outside
// the timed loop (wait4's ru_maxrss would count the spawning process too: a vfork
// child's exec records the parent's peak).
#include <fcntl.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quorsel {
namespace {

constexpr uint32_t IMAGE_SIZE = 0x200000;
constexpr uint32_t MODEL_OFFSET = IMAGE_SIZE - 4096 + 0xFF0;

struct Spawned {
    int status = -1;
    double cpuMs = 0;  // the child's own user and system time
};

struct Argv {
    explicit Argv(const std::string& path, const std::vector<std::string>& args) : storage{path} {
        storage.insert(storage.end(), args.begin(), args.end());
        for (std::string& arg : storage) pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> storage;
    std::vector<char*> pointers;
};

char PATH_VARIABLE[] = "PATH=/usr/bin:/bin";
char LANGUAGE_VARIABLE[] = "LANG=C.UTF-8";
char* ENVIRONMENT[] = {PATH_VARIABLE, LANGUAGE_VARIABLE, nullptr};

// Runs path with args, standard input, output and error on /dev/null.
Spawned Spawn(const std::string& path, const std::vector<std::string>& args) {
    Argv argv(path, args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    Spawned result;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.pointers.data(), ENVIRONMENT) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            result.cpuMs = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

// The program's VmHWM in KiB when it exits: it runs traced and stops at its exit,
// when its memory is still there to read. 0 when that fails.
long PeakResidentKiB(const std::string& path, const std::vector<std::string>& args) {
    Argv argv(path, args);
    const pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execve(path.c_str(), argv.pointers.data(), ENVIRONMENT);
        _exit(127);
    }
    long peak = 0;
    int status = 0;
    // The first stop is at the exec; from there on only the exit stops it.
    if (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
            if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                std::ifstream in("/proc/" + std::to_string(pid) + "/status");
                std::string line;
                while (std::getline(in, line)) {
                    if (line.rfind("VmHWM:", 0) == 0) peak = std::stol(line.substr(6));
                }
                ptrace(PTRACE_CONT, pid, nullptr, nullptr);
            } else {
                // Pass on any other signal.
                ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(WSTOPSIG(status))));
            }
        }
    }
    return peak;
}

void Measure(benchmark::State& state, const std::string& path, const std::vector<std::string>& args,
             int expectedStatus) {
    double cpuMs = 0;
    for (auto _ : state) {
        Spawned run = Spawn(path, args);
        if (run.status != expectedStatus) {
            state.SkipWithError(("exit status " + std::to_string(run.status)).c_str());
            return;
        }
        cpuMs += run.cpuMs;
    }
    // The child's processor time per start: less disturbed than the wall time on a
    // busy machine.
    state.counters["child_cpu_ms"] = benchmark::Counter(cpuMs, benchmark::Counter::kAvgIterations);
    state.counters["VmHWM_KiB"] = static_cast<double>(PeakResidentKiB(path, args));
}

// A firmware file packed by quorsel-pack from the build tree, made once.
const std::string& FirmwareFile() {
    static testing::TempDir dir;
    static const std::string path = [] {
        std::vector<char> image(IMAGE_SIZE, '\x5A');
        std::copy_n("KRV001", 6, image.begin() + MODEL_OFFSET);
        std::ofstream(dir.File("image.bin"), std::ios::binary).write(image.data(), IMAGE_SIZE);
        std::ofstream(dir.File("loader.bin"), std::ios::binary).write(image.data(), 1024);
        const std::string out = dir.File("quorsel-KRV001");
        Spawn(QUORSEL_BUILD_DIR "/quorsel-pack",
              {QUORSEL_BUILD_DIR "/quorsel", dir.File("loader.bin"), dir.File("image.bin"), out});
        return out;
    }();
    return path;
}

void BM_StartBinTrue(benchmark::State& state) { Measure(state, "/bin/true", {}, 0); }

void BM_StartInvalidArguments(benchmark::State& state) {
    Measure(state, QUORSEL_BUILD_DIR "/quorsel", {"-x"}, 2);
}

void BM_StartToTheSettingsFormAtEndOfInput(benchmark::State& state) {
    Measure(state, FirmwareFile(), {}, 1);
}

BENCHMARK(BM_StartBinTrue)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartInvalidArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartToTheSettingsFormAtEndOfInput)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorsel
