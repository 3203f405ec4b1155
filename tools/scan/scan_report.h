// What quorsel-scan prints: the table of peers found, or one JSON object per line.
#pragma once

#include <string>
#include <vector>

#include "engine/search/access_point_search.h"

namespace quorsel::scan {

// An address that gave no reply (listed with --verbose).
struct ScanMiss {
    Ipv4Address address{};
    ProbeMiss why = ProbeMiss::NoAnswer;
};

// One line of JSON (no line end) for a peer: address, accessPoint, and for an
// access point model, generation ("new"/"old"), generationDigit and fits (null when
// no firmware file was given); for another service result "not-an-access-point"
// and its reason.
std::string JsonLine(const FoundPeer& peer, bool firmwareGiven);
// The line for an address that gave no reply: address, accessPoint false, result
// "no-answer" and reason "refused", "no answer" or "silent".
std::string JsonLine(const ScanMiss& miss);

// The table with its header line, the peers (and the misses, with --verbose) sorted
// by address, each line ended by LF. The fit column holds the mark where the
// firmware fits; a row that is no access point says why in the model column.
std::string Table(std::vector<FoundPeer> peers, const std::vector<ScanMiss>& misses = {});

// Columns are padded by the width a terminal gives the text: two cells for wide
// (Japanese) characters, one for ASCII and half-width katakana.
size_t DisplayWidth(const std::string& utf8);

}  // namespace quorsel::scan
