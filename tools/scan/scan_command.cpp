#include "tools/scan/scan_command.h"

#include <vector>

#include "engine/search/access_point_search.h"
#include "image/container.h"
#include "tools/scan/scan_report.h"

namespace quorsel::scan {

namespace {

// Collects the peers; in JSON mode prints each as it arrives.
class ScanListener : public SearchListener {
public:
    ScanListener(std::ostream& out, bool json, bool firmwareGiven)
        : out_(out), json_(json), firmwareGiven_(firmwareGiven) {}

    void OnFound(const FoundPeer& peer) override {
        peers.push_back(peer);
        if (json_) out_ << JsonLine(peer, firmwareGiven_) << '\n' << std::flush;
    }
    void OnProgress(size_t, size_t) override {}

    std::vector<FoundPeer> peers;

private:
    std::ostream& out_;
    bool json_;
    bool firmwareGiven_;
};

}  // namespace

int RunScan(const ScanOptions& options, ProbeNetwork& network, std::ostream& out, std::ostream& err) {
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
    const TargetExpansion targets =
        options.targets.empty() ? DefaultTargets(network.LocalSubnets()) : ExpandTargets(options.targets);
    if (!targets.error.empty()) {
        err << "quorsel-scan: " << targets.error << '\n';
        return EXIT_BAD_ARGUMENTS;
    }

    ScanListener listener(out, options.json, !options.firmwarePath.empty());
    const SearchStop stop;
    const SearchOutcome outcome = SearchAccessPoints(network, targets.addresses, settings, listener, stop);
    if (!outcome.error.empty()) {
        err << "quorsel-scan: " << outcome.error << '\n';
        return EXIT_SEARCH_FAILED;
    }
    if (!options.json) out << Table(listener.peers);
    for (const FoundPeer& peer : listener.peers) {
        if (peer.kind == PeerKind::ACCESS_POINT) return EXIT_FOUND;
    }
    return EXIT_NONE_FOUND;
}

}  // namespace quorsel::scan
