// The search the front-ends start when the user asks for one: every address of
// the machine's own subnets and the factory address, each answer marked against
// the firmware file's model.
#pragma once

#include <string>

#include "engine/search/probe_network.h"
#include "ui/search_runner.h"

namespace quorsel {

// The subnets are listed when the search starts, on the search's own thread. When
// they hold more than SEARCH_MAX_ADDRESSES addresses, the outcome names the subnets
// searched and those left out, for the dialog to say so.
// network must outlive every search started with the result.
SearchRunner::Search DefaultSearch(ProbeNetwork& network, std::string firmwareModel);

}  // namespace quorsel
