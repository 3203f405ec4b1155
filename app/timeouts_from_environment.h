// Peer time-outs for a run: the defaults, or a shorter bound from
// QUORSEL_PEER_TIMEOUT_MS (a testing aid, so that silent-peer cases end quickly).
#pragma once

#include "engine/limits.h"

namespace quorsel {

PeerTimeouts TimeoutsFromEnvironment();

}  // namespace quorsel
