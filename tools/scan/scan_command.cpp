#include "tools/scan/scan_command.h"

#include <vector>

#include "engine/search/access_point_search.h"
#include "image/container.h"
#include "tools/scan/scan_report.h"

namespace quorsel::scan {

namespace {

// Collects the peers (and, with --verbose, the misses); in JSON mode prints each as
// it arrives.
class ScanListener : public SearchListener {
public:
    ScanListener(std::ostream& out, const ScanOptions& options)
        : out_(out), json_(options.json), verbose_(options.verbose), firmwareGiven_(!options.firmwarePath.empty()) {}

    void OnFound(const FoundPeer& peer) override {
        peers.push_back(peer);
        if (json_) out_ << JsonLine(peer, firmwareGiven_) << '\n' << std::flush;
    }
    void OnProgress(size_t, size_t) override {}
    void OnMissed(const Ipv4Address& address, ProbeMiss why) override {
        if (!verbose_) return;
        misses.push_back({address, why});
        if (json_) out_ << JsonLine(misses.back()) << '\n' << std::flush;
    }

    std::vector<FoundPeer> peers;
    std::vector<ScanMiss> misses;

private:
    std::ostream& out_;
    bool json_;
    bool verbose_;
    bool firmwareGiven_;
};

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

}  // namespace

int RunScan(const ScanOptions& options, ProbeNetwork& network, std::ostream& out, std::ostream& err,
            const TargetFileReader& readTargetFile) {
    SearchSettings settings;
    settings.jobs = options.jobs;
    if (!options.firmwarePath.empty()) {
        const auto model = ReadFirmwareModel(options.firmwarePath);
        if (!model) {
            err << "quorsel-scan: " << options.firmwarePath << ": " << DescribeContainerError(model.error()) << '\n';
            return EXIT_BAD_ARGUMENTS;
        }
        settings.firmwareModel = *model;
    }
    TargetExpansion targets;
    if (options.targets.empty()) {
        targets = DefaultTargets(network.LocalSubnets());
        if (!targets.leftOut.empty()) {
            err << "quorsel-scan: more than " << SEARCH_MAX_ADDRESSES
                << " default target addresses; subnets not searched: " << Joined(targets.leftOut) << '\n';
        }
    } else {
        const auto given = ReadTargetArguments(options.targets, readTargetFile);
        if (!given) {
            err << "quorsel-scan: " << given.error() << '\n';
            return EXIT_BAD_ARGUMENTS;
        }
        targets = ExpandTargets(*given);
    }
    if (!targets.error.empty()) {
        err << "quorsel-scan: " << targets.error << '\n';
        return EXIT_BAD_ARGUMENTS;
    }

    ScanListener listener(out, options);
    const SearchStop stop;
    const SearchOutcome outcome = SearchAccessPoints(network, targets.addresses, settings, listener, stop);
    if (!outcome.error.empty()) {
        err << "quorsel-scan: " << outcome.error << '\n';
        return EXIT_SEARCH_FAILED;
    }
    if (!options.json) out << Table(listener.peers, listener.misses);
    for (const FoundPeer& peer : listener.peers) {
        if (peer.kind == PeerKind::ACCESS_POINT) return EXIT_FOUND;
    }
    return EXIT_NONE_FOUND;
}

}  // namespace quorsel::scan
