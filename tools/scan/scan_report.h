// What quorsel-scan prints: the table of peers found, or one JSON object per line.
#pragma once

#include <string>
#include <vector>

#include "engine/search/access_point_search.h"

namespace quorsel::scan {

// One line of JSON (no line end) for a peer: address, access_point, and for an
// access point model, generation ("new"/"old"), generation_digit and fits (null
// when no firmware file was given).
std::string JsonLine(const FoundPeer& peer, bool firmwareGiven);

// The table with its header line, the peers sorted by address, each line ended by
// LF. The fit column holds the mark where the firmware fits.
std::string Table(std::vector<FoundPeer> peers);

// Columns are padded by the width a terminal gives the text: two cells for wide
// (Japanese) characters, one for ASCII and half-width katakana.
size_t DisplayWidth(const std::string& utf8);

}  // namespace quorsel::scan
