// Times the search of one target with the default settings, a few runs, and reports
// the peak resident memory of the process before and after. Run inside the network
// namespace of bench/search_bench.sh (it sends traffic to the targets it is given).
//   quorsel_search_timing TARGET [RUNS]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/search/access_point_search.h"
#include "engine/search/probe_network_posix.h"

namespace {

using namespace quorsel;

class CountingListener : public SearchListener {
public:
    void OnFound(const FoundPeer&) override { ++found; }
    void OnProgress(size_t, size_t) override {}
    size_t found = 0;
};

long PeakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorsel_search_timing TARGET [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const TargetExpansion targets = ExpandTargets({argv[1]});
    if (!targets.error.empty()) {
        std::fprintf(stderr, "%s\n", targets.error.c_str());
        return 2;
    }
    const SearchSettings settings = EffectiveSettings({});
    PosixProbeNetwork network;
    const long before = PeakResidentKiB();
    double worst = 0;
    double total = 0;
    for (int run = 0; run < runs; ++run) {
        CountingListener listener;
        SearchStop stop;
        const auto started = std::chrono::steady_clock::now();
        const SearchOutcome outcome = SearchAccessPoints(network, targets.addresses, {}, listener, stop);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!outcome.error.empty()) {
            std::fprintf(stderr, "%s\n", outcome.error.c_str());
            return 1;
        }
        worst = seconds > worst ? seconds : worst;
        total += seconds;
    }
    const double connectBound = std::chrono::duration<double>(settings.connectTimeout).count();
    std::printf("%-16s %zu addresses, jobs %zu, connect bound %.0f ms: mean %.3f s, worst %.3f s "
                "(worst / connect bound %.2f); peak RSS %ld KiB before, %ld KiB after (+%ld KiB)\n",
                argv[1], targets.addresses.size(), settings.jobs, connectBound * 1000, total / runs, worst,
                worst / connectBound, before, PeakResidentKiB(), PeakResidentKiB() - before);
    return 0;
}
